// The pages over loopback, from the server program itself, read the way the
// client's scrapers read them.

#include "AnalysisPage.h"
#include "Handicap.h"
#include "PageText.h"
#include "SchedulePages.h"
#include "ScraperView.h"
#include "World.h"
#include "support/ServerProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QElapsedTimer>
#include <QStringDecoder>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace chenglan::sample;
using chenglan::testing::ServerProcess;

namespace {

const QDate kToday(2022, 10, 9);
const QString kService = QStringLiteral("http://127.0.0.1:9/svc/");

struct Fetched {
    int status = 0;
    std::string contentType;
    QByteArray body;
};

QString gbText(const QByteArray &bytes) {
    QStringDecoder decoder("GB18030");
    QString text = decoder.decode(bytes);
    EXPECT_FALSE(decoder.hasError());
    return text;
}

// The number at the start of a piece, blanks skipped; 0 when there is none.
long leadingNumber(const QString &text) {
    const QString t = text.trimmed();
    qsizetype n = 0;
    while (n < t.size() && t.at(n).isDigit())
        ++n;
    return n ? t.left(n).toLong() : 0;
}

QStringList records(const QString &section) {
    QStringList parts = section.split(u'|');
    parts.removeLast();
    return parts;
}

class SampleSitePages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new ServerProcess(QStringLiteral("server/samplesite/chenglan-sample-site"),
                                     {QStringLiteral("--today"), kToday.toString(Qt::ISODate),
                                      QStringLiteral("--service"), kService});
        s_world = new World(World::generate(World::kDefaultSeed, kToday.addDays(14)));
    }
    static void TearDownTestSuite() {
        delete s_server;
        delete s_world;
    }
    void SetUp() override { ASSERT_TRUE(s_server->ok()) << s_server->error().toStdString(); }

    static const World &world() { return *s_world; }
    static Minutes now() { return minutesAt(kToday, 12, 0); }
    static const Team &team(int index) { return world().teams()[size_t(index)]; }

    static Fetched fetch(const std::string &path, bool post) {
        httplib::Client client("127.0.0.1", s_server->port());
        client.set_read_timeout(30, 0);
        const auto result = post ? client.Post(path.c_str(), "", "application/x-www-form-urlencoded")
                                 : client.Get(path.c_str());
        if (!result)
            return {};
        return {result->status, result->get_header_value("Content-Type"),
                QByteArray(result->body.data(), qsizetype(result->body.size()))};
    }
    static Fetched post(const std::string &path) { return fetch(path, true); }
    static Fetched get(const std::string &path) { return fetch(path, false); }

    static QStringList analysisOf(int id) {
        const Fetched page = get("/zq/analysis/" + std::to_string(id) + "cn.htm");
        EXPECT_EQ(page.status, 200);
        EXPECT_NE(page.contentType.find("charset=gb2312"), std::string::npos);
        return view::analysisTexts(gbText(page.body));
    }

    static ServerProcess *s_server;
    static World *s_world;
};

ServerProcess *SampleSitePages::s_server = nullptr;
World *SampleSitePages::s_world = nullptr;

// Checks one schedule row against the match it lists, piece by piece.
void expectScheduleRow(const World &world, const QStringList &pieces, const Match &m, Minutes now) {
    const League &league = world.leagues()[size_t(m.league)];
    ASSERT_GE(pieces.size(), 18) << pieces.join(u',').toStdString();
    EXPECT_EQ(leadingNumber(pieces.at(8)), m.id);
    const QStringList style = pieces.at(1).split(u';');
    EXPECT_EQ(style.at(0), league.colour.toLower());
    ASSERT_GE(style.size(), 2);
    EXPECT_EQ(style.at(1).split(u'>').value(1), league.name.toLower());
    EXPECT_EQ(pieces.at(3), monthDayTime(m.kickoff));
    // The home cell ends in two no-break spaces, which the list caption cuts off.
    EXPECT_EQ(pieces.at(4), world.teams()[size_t(m.home)].name.toLower() + QStringLiteral("\u00a0\u00a0"));
    EXPECT_EQ(pieces.at(7), world.teams()[size_t(m.away)].name.toLower());
    EXPECT_EQ(pieces.at(6), m.finishedBy(now) ? QStringLiteral("%1-%2").arg(m.ftHome).arg(m.ftAway) : QStringLiteral("vs"));
    const OddsChange *odds = m.oddsAt(now);
    EXPECT_EQ(pieces.at(15), odds ? priceText(odds->homeOdds) : QString());
    EXPECT_EQ(pieces.at(16), odds ? handicapText(odds->line) : QString());
    EXPECT_EQ(pieces.at(17), odds ? priceText(odds->awayOdds) : QString());
}

} // namespace

TEST_F(SampleSitePages, JingcaiRowsCarryWhatTheScraperTakes) {
    const Fetched page = post("/odds/buy/Jingcai.aspx?TypeID=105&OddsType=2&date=2022-10-8");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.contentType.find("charset=utf-8"), std::string::npos);
    const QString html = QString::fromUtf8(page.body);

    const auto expected = world().kickingOffBetween(matchDayStart(QDate(2022, 10, 8)), matchDayStart(kToday));
    ASSERT_GT(expected.size(), 10u);
    QList<QStringList> kept;
    for (const QString &row : view::scheduleRows(html, view::Schedule::Jingcai))
        if (row.split(u',').size() >= 12)
            kept << row.split(u',');
    ASSERT_EQ(kept.size(), qsizetype(expected.size()));
    int withoutOdds = 0;
    bool compact = false, spaced = false;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        expectScheduleRow(world(), kept[i], *expected[size_t(i)], now());
        withoutOdds += kept[i].at(15).isEmpty();
        (world().leagues()[size_t(expected[size_t(i)]->league)].compactStyle ? compact : spaced) = true;
    }
    EXPECT_GT(withoutOdds, 0);
    EXPECT_TRUE(compact && spaced);
}

TEST_F(SampleSitePages, JingcaiWithoutDateListsTheSitesToday) {
    const Fetched page = post("/odds/buy/Jingcai.aspx?TypeID=105&OddsType=2&date=");
    ASSERT_EQ(page.status, 200);
    const auto expected = world().kickingOffBetween(matchDayStart(kToday), matchDayStart(kToday.addDays(1)));
    ASSERT_FALSE(expected.empty());
    QList<QStringList> kept;
    for (const QString &row : view::scheduleRows(QString::fromUtf8(page.body), view::Schedule::Jingcai))
        if (row.split(u',').size() >= 12)
            kept << row.split(u',');
    ASSERT_EQ(kept.size(), qsizetype(expected.size()));
    for (qsizetype i = 0; i < kept.size(); ++i)
        expectScheduleRow(world(), kept[i], *expected[size_t(i)], now());
    // The browser's GET gets the same page as the client's POST.
    EXPECT_EQ(get("/odds/buy/Jingcai.aspx?TypeID=105&OddsType=2&date=").body, page.body);
}

TEST_F(SampleSitePages, BeidanRowsCarryTheHandicapSuffix) {
    const Fetched page = post("/odds/buy/DanChang.aspx?typeID=5&issueNum");
    ASSERT_EQ(page.status, 200);
    const BeidanIssue issue = beidanIssueAt(now());
    const auto expected = world().kickingOffBetween(issue.from, issue.to);
    ASSERT_GT(expected.size(), 10u);
    QList<QStringList> kept;
    for (const QString &row : view::scheduleRows(QString::fromUtf8(page.body), view::Schedule::Beidan))
        if (row.split(u',').size() >= 12)
            kept << row.split(u',');
    ASSERT_EQ(kept.size(), qsizetype(expected.size()));
    int withSuffix = 0, withoutSuffix = 0;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const Match &m = *expected[size_t(i)];
        expectScheduleRow(world(), kept[i], m, now());
        const QString suffix = kept[i].at(5);
        if (suffix.isEmpty()) {
            ++withoutSuffix;
            EXPECT_EQ(m.letBall, 0);
        } else {
            ++withSuffix;
            EXPECT_EQ(suffix, (m.letBall > 0 ? QStringLiteral("+") : QStringLiteral("-")) + QString::number(std::abs(m.letBall)));
        }
    }
    EXPECT_GT(withSuffix, 0);
    EXPECT_GT(withoutSuffix, 0);
}

TEST_F(SampleSitePages, AnalysisPageScriptYieldsListsAndInfoLine) {
    int checkedLatin = 0;
    for (const Match *m : world().kickingOffBetween(matchDayStart(QDate(2022, 10, 8)), matchDayStart(kToday))) {
        const QStringList texts = analysisOf(m->id);
        ASSERT_EQ(texts.size(), 4);
        const QStringList info = texts.at(3).split(u',');
        ASSERT_EQ(info.size(), 5) << texts.at(3).toStdString();
        EXPECT_EQ(info.at(0).toInt(), team(m->home).id);
        EXPECT_EQ(info.at(1).toInt(), team(m->away).id);
        EXPECT_EQ(info.at(2), team(m->home).name);
        EXPECT_EQ(info.at(3), team(m->away).name);
        EXPECT_EQ(info.at(4), fullDateTime(m->kickoff));
        checkedLatin += team(m->home).name.at(0).unicode() < 0x80;

        for (int side = 0; side < 2; ++side) {
            const int teamIndex = side == 0 ? m->home : m->away;
            const auto list = world().history(teamIndex, m->kickoff, now(), kHistoryLength);
            const QStringList recs = records(texts.at(side));
            ASSERT_EQ(recs.size(), qsizetype(list.size()));
            for (qsizetype i = 0; i < recs.size(); ++i) {
                const QStringList f = recs[i].split(u',');
                EXPECT_EQ(f.at(15).toInt(), list[size_t(i)]->id);
                EXPECT_EQ(f, historyRecord(world(), *list[size_t(i)], teamIndex));
            }
        }
        for (const QString &r : records(texts.at(2))) {
            const QStringList f = r.split(u',');
            const std::set<int> sides{f.at(4).toInt(), f.at(6).toInt()};
            EXPECT_EQ(sides, (std::set<int>{team(m->home).id, team(m->away).id}));
        }
    }
    EXPECT_GT(checkedLatin, 0);
}

TEST_F(SampleSitePages, AnalysisPageMarkupKeepsItsScriptMarkers) {
    const Match &m = *world().kickingOffBetween(matchDayStart(QDate(2022, 10, 8)), matchDayStart(kToday)).front();
    const QString html = gbText(get("/zq/analysis/" + std::to_string(m.id) + "cn.htm").body);
    const qsizetype body = html.indexOf(QStringLiteral("<body"));
    const qsizetype lang = html.indexOf(QStringLiteral("var lang = 0"));
    const qsizetype info = html.indexOf(QStringLiteral("function show_info(URL)"));
    ASSERT_GT(body, 0);
    EXPECT_GT(lang, body);
    EXPECT_GT(info, lang);
    // The data script closes in lower case; only the browser's report of the
    // markup writes "</SCRIPT>".
    const qsizetype close = html.indexOf(QStringLiteral("</script>"), info);
    EXPECT_GT(close, html.indexOf(QStringLiteral("var v_data"), info));
    EXPECT_FALSE(html.contains(QStringLiteral("</SCRIPT>")));
    // Top-level code after the markers only defines; nothing runs against the
    // page, so the local page's script reaches its dump statements.
    EXPECT_EQ(view::analysisTexts(html).size(), 4);
}

// The client takes the 30th (or last) listed match of each side, opens its
// page and appends the list of the side that team played there.
TEST_F(SampleSitePages, ExtensionPageContinuesEachTeamsHistory) {
    int checked = 0;
    const auto day = world().kickingOffBetween(matchDayStart(QDate(2022, 10, 8)), matchDayStart(kToday));
    for (size_t k = 0; k < day.size(); k += 5) {
        const Match &m = *day[k];
        const QStringList texts = analysisOf(m.id);
        for (int side = 0; side < 2; ++side) {
            const int teamIndex = side == 0 ? m.home : m.away;
            const int teamId = team(teamIndex).id;
            const QStringList recs = records(texts.at(side));
            ASSERT_FALSE(recs.isEmpty());
            const QStringList last = recs.at(std::min<qsizetype>(29, recs.size() - 1)).split(u',');
            const bool sameSide = side == 0 ? last.at(4).toInt() == teamId : last.at(6).toInt() == teamId;
            const int sideIndex = side == 0 ? (sameSide ? 0 : 1) : (sameSide ? 1 : 0);
            const QStringList older = records(analysisOf(last.at(15).toInt()).at(sideIndex));
            const auto all = world().history(teamIndex, m.kickoff, now(), 100000);
            const qsizetype at = std::min<qsizetype>(29, recs.size() - 1);
            ASSERT_EQ(older.size(), std::min<qsizetype>(kHistoryLength, qsizetype(all.size()) - at - 1));
            for (qsizetype i = 0; i < older.size(); ++i) {
                const QStringList f = older[i].split(u',');
                EXPECT_EQ(f.at(15).toInt(), all[size_t(at + 1 + i)]->id);
                EXPECT_TRUE(f.at(4).toInt() == teamId || f.at(6).toInt() == teamId);
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 4);
}

TEST_F(SampleSitePages, ChangeDetailRowsAreNewestFirstAndFiltered) {
    int filteredRows = 0, receivingLines = 0, matches = 0;
    for (const Match *m : world().kickingOffBetween(matchDayStart(QDate(2022, 10, 1)), matchDayStart(kToday))) {
        const Fetched page = post("/vip/changeDetail/handicap.aspx?id=" + std::to_string(m->id) + "&companyID=3");
        ASSERT_EQ(page.status, 200);
        EXPECT_NE(page.contentType.find("charset=gb2312"), std::string::npos);
        const QStringList lines = view::detailLines(gbText(page.body));
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines.at(0).contains(QStringLiteral("变化时间")));
        // What the scraper keeps: home odds above 0 and a state of two characters or more.
        QStringList used;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QStringList f = lines[i].split(u',');
            if (f.size() > 5 && f.at(2).toDouble() > 0 && f.at(1).size() > 1)
                used << QStringLiteral("%1,%2,%3,%4").arg(f.at(2), f.at(3), f.at(4), f.at(5));
            else if (f.size() > 5)
                ++filteredRows;
        }
        QStringList expected;
        for (const OddsChange &c : m->changes) {
            if (c.hasOdds && !c.inPlay()) {
                QString line = handicapText(c.line);
                line.replace(QStringLiteral("受让"), QStringLiteral("受"));
                expected.prepend(QStringLiteral("%1,%2,%3,%4").arg(priceText(c.homeOdds), line, priceText(c.awayOdds),
                                                                  monthDayTime(c.time)));
                receivingLines += c.line < 0;
            }
        }
        EXPECT_EQ(used, expected) << m->id;
        ++matches;
    }
    EXPECT_GT(matches, 20);
    EXPECT_GT(filteredRows, 0);
    EXPECT_GT(receivingLines, 0);
}

TEST_F(SampleSitePages, UpcomingMatchShowsOnlyWhatIsKnownByNow) {
    const auto later = world().kickingOffBetween(minutesAt(kToday.addDays(5)), minutesAt(kToday.addDays(9)));
    ASSERT_FALSE(later.empty());
    const Match &m = *later.front();
    const QStringList texts = analysisOf(m.id);
    for (const QString &r : records(texts.at(0)))
        EXPECT_NE(world().matchById(r.split(u',').at(15).toInt()), nullptr);
    EXPECT_EQ(records(texts.at(0)).size(), qsizetype(world().history(m.home, m.kickoff, now(), kHistoryLength).size()));
    const QStringList lines = view::detailLines(
        gbText(post("/vip/changeDetail/handicap.aspx?id=" + std::to_string(m.id) + "&companyID=3").body));
    const auto published = std::count_if(m.changes.begin(), m.changes.end(), [](const OddsChange &c) { return c.time <= now(); });
    EXPECT_EQ(lines.size() - 2, std::max<qsizetype>(published, 1));   // header, rows (or the no-data row), the end
}

TEST_F(SampleSitePages, ServerListFilesNameTheService) {
    for (int slot = 0; slot < 3; ++slot) {
        const Fetched file = post("/servers/link(" + std::to_string(slot) + ").txt");
        EXPECT_EQ(file.status, 200);
        EXPECT_EQ(QString::fromUtf8(file.body).trimmed(), kService);
    }
}

TEST_F(SampleSitePages, UnknownAddressesAndMatchesGetTheirPages) {
    const Fetched unknown = get("/odds/buy/Nothing.aspx");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_TRUE(unknown.body.contains("404"));
    for (const std::string path : {"/zq/analysis/99cn.htm", "/zq/analysis/cn.htm", "/vip/changeDetail/handicap.aspx?id=99&companyID=3"}) {
        const Fetched missing = post(path);
        EXPECT_EQ(missing.status, 404) << path;
        EXPECT_NE(missing.contentType.find("charset=gb2312"), std::string::npos);
        EXPECT_TRUE(gbText(missing.body).contains(QStringLiteral("比赛不存在"))) << path;
    }
}

// `curl -X POST URL` sends neither a body nor its length; HTTP/1.1 reads that
// as an empty body, so the page is answered at once, not after the read
// timeout with a 400.
TEST_F(SampleSitePages, APostWithoutBodyOrLengthIsAnsweredAtOnce) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(s_server->port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const std::string request = "POST /servers/link(0).txt HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    QElapsedTimer timer;
    timer.start();
    std::string received;
    char buffer[4096];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 10000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, std::size_t(n));
    }
    ::close(fd);
    EXPECT_EQ(received.rfind("HTTP/1.1 200", 0), 0u) << received;
    EXPECT_NE(received.find(kService.toStdString()), std::string::npos) << received;
    EXPECT_LT(timer.elapsed(), 2000);
}
