#include "AnswerFormat.h"
#include "DataService.h"
#include "ServiceTestData.h"

#include <QStringDecoder>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;

namespace {

const char kQueryPath[] = "/shili/deep_jc.asp?sql=0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,";

QString gb18030(const std::string &bytes) {
    QStringDecoder decoder("GB18030");
    QString text = decoder.decode(QByteArray::fromStdString(bytes));
    EXPECT_FALSE(decoder.hasError());
    return text;
}

// Records as the client splits them: the piece after the last "|" and the
// piece after the last "," of a record are dropped.
std::vector<QStringList> records(const QString &answer) {
    std::vector<QStringList> out;
    QStringList pieces = answer.split(u'|');
    pieces.removeLast();
    for (const QString &piece : pieces) {
        QStringList fields = piece.split(u',');
        fields.removeLast();
        out.push_back(fields);
    }
    return out;
}

// A connection of our own, to send what no well-behaved client sends.
class RawConnection {
public:
    explicit RawConnection(int port) {
        m_sock = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(std::uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~RawConnection() { close(); }
    bool connected() const { return m_connected; }
    void send(const std::string &bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_sock, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return; // the server may close early; what it answered is still read
            sent += std::size_t(n);
        }
    }
    // Everything until the server closes (bounded, so a hang fails the test).
    std::string readAll() {
        std::string out;
        char buffer[4096];
        pollfd pfd{m_sock, POLLIN, 0};
        while (::poll(&pfd, 1, 10000) > 0) {
            const ssize_t n = ::recv(m_sock, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            out.append(buffer, std::size_t(n));
        }
        return out;
    }
    void close() {
        if (m_sock >= 0)
            ::close(m_sock);
        m_sock = -1;
    }

private:
    int m_sock = -1;
    bool m_connected = false;
};

class DataServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        MatchStore store(m_db.path());
        MatchFacts a = finishedMatch(1001, QStringLiteral("2024-03-01 20:00"));
        a.homeTeam = QStringLiteral("曼城");
        a.awayTeam = QStringLiteral("利物浦");
        store.upsertMatch(a);
        store.upsertProfile(profileOf(1001, Strengths{35, -20, 40, -10, 50, 0, 45, 5}));
        MatchFacts b = finishedMatch(1002, QStringLiteral("2024-03-02 21:00"));
        b.leagueShort.clear();
        b.league = QStringLiteral("西甲");
        b.halfTimeHome.reset();
        b.halfTimeAway.reset();
        b.homeOdds.reset();
        b.handicapLine.reset();
        store.upsertMatch(b);
        store.upsertProfile(profileOf(1002, Strengths{35, -20, 40, -10, 50, 0, 45, 5}, QStringLiteral("B11")));
        store.upsertMatch(finishedMatch(1003));
        store.upsertProfile(profileOf(1003, Strengths{30, -20, 40, -10, 50, 0, 45, 5}));
    }

    void startService(std::size_t workers = 4, std::size_t maxWaiting = 4,
                      std::chrono::milliseconds refreshInterval = std::chrono::milliseconds(0)) {
        ServiceOptions options;
        options.databasePath = m_db.path();
        options.workers = workers;
        options.maxWaiting = maxWaiting;
        options.refreshInterval = refreshInterval;
        m_service = std::make_unique<DataService>(options);
        m_port = m_service->start(0);
        ASSERT_GT(m_port, 0);
        m_client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
        m_client->set_url_encode(false);
        m_client->set_read_timeout(10, 0);
    }

    TempDatabase m_db;
    std::unique_ptr<DataService> m_service;
    std::unique_ptr<httplib::Client> m_client;
    int m_port = 0;
};

} // namespace

TEST_F(DataServiceTest, AnswersInGb18030WithEveryFieldAndRecordTerminated) {
    startService();
    const auto res = m_client->Post(std::string(kQueryPath) + "1003");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=gb2312");
    const QString text = gb18030(res->body);
    EXPECT_TRUE(text.endsWith(QStringLiteral(",|")));
    const auto recs = records(text);
    ASSERT_EQ(recs.size(), 2u);
    // Every field of the record is terminated, so none is lost to the client's split.
    EXPECT_EQ(recs[0].size(), field::Count);
    EXPECT_EQ(text.count(u'|'), 2);

    const QStringList &r = recs[0];
    EXPECT_EQ(r[field::MatchId], QStringLiteral("1001"));
    EXPECT_EQ(r[1], QString());
    EXPECT_EQ(r[field::Kickoff], QStringLiteral("2024-03-01 20:00"));
    EXPECT_EQ(r[field::LeagueColour], QStringLiteral("#ff0000"));
    EXPECT_EQ(r[field::League], QStringLiteral("英超"));
    EXPECT_EQ(r[field::HomeTeam], QStringLiteral("曼城"));
    EXPECT_EQ(r[field::AwayTeam], QStringLiteral("利物浦"));
    EXPECT_EQ(r[field::HandicapLine], QStringLiteral("0.5"));
    EXPECT_EQ(r[field::FullTimeHome], QStringLiteral("2"));
    EXPECT_EQ(r[field::FullTimeAway], QStringLiteral("1"));
    EXPECT_EQ(r[field::HalfTimeHome], QStringLiteral("1"));
    EXPECT_EQ(r[field::HalfTimeAway], QStringLiteral("0"));
    EXPECT_EQ(r[field::HomeOdds], QStringLiteral("0.95"));
    EXPECT_EQ(r[field::AwayOdds], QStringLiteral("0.91"));
    EXPECT_EQ(r[field::HomeResult], QStringLiteral("胜"));
    EXPECT_EQ(r[field::AwayResult], QStringLiteral("负"));
    EXPECT_EQ(r[field::FullTimeScore], QStringLiteral("2:1"));
    EXPECT_EQ(r[field::HalfTimeScore], QStringLiteral("1:0"));
    EXPECT_EQ(r[field::FullTimeGoals], QStringLiteral("3"));
    EXPECT_EQ(r[field::HalfTimeGoals], QStringLiteral("1"));
    EXPECT_EQ(r[field::HomeHalfFull], QStringLiteral("胜胜"));
    EXPECT_EQ(r[field::AwayHalfFull], QStringLiteral("负负"));
    EXPECT_EQ(r[field::Handicap], QStringLiteral("半球"));
    EXPECT_EQ(r.mid(field::Strength0, 6), (QStringList{"0.35", "-0.2", "0.4", "-0.1", "0.5", "0"}));
    EXPECT_EQ(r[field::Distance], QStringLiteral("0.0000"));
    EXPECT_EQ(r[field::PatternCode20], QStringLiteral("A31"));
    EXPECT_EQ(r[field::PatternCode10], QStringLiteral("D10"));
    EXPECT_EQ(r[field::Strength6], QStringLiteral("0.45"));
    EXPECT_EQ(r[field::Strength7], QStringLiteral("0.05"));
    EXPECT_EQ(r[field::SameCodes], QStringLiteral("1"));

    // The second match has other codes; what it lacks stays empty.
    const QStringList &s = recs[1];
    EXPECT_EQ(s[field::MatchId], QStringLiteral("1002"));
    EXPECT_EQ(s[field::League], QStringLiteral("西甲"));
    EXPECT_EQ(s[field::SameCodes], QStringLiteral("0"));
    EXPECT_EQ(s[field::HalfTimeScore], QString());
    EXPECT_EQ(s[field::HomeHalfFull], QString());
    EXPECT_EQ(s[field::HomeOdds], QString());
    EXPECT_EQ(s[field::HandicapLine], QString());
}

TEST_F(DataServiceTest, GetPostAndPercentEncodingGiveTheSameAnswer) {
    startService();
    const auto post = m_client->Post(std::string(kQueryPath) + "1003");
    const auto get = m_client->Get(std::string(kQueryPath) + "1003");
    const auto encoded =
        m_client->Get("/shili/deep_jc.asp?sql=0.35%2C-0.2%2C0.4%2C-0.1%2C0.5%2C0%2C0.45%2C0.05%2CA31%2CD10%2C1003");
    const auto form = m_client->Post("/shili/deep_jc.asp", "sql=0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,1003",
                                     "application/x-www-form-urlencoded");
    ASSERT_TRUE(post && get && encoded && form);
    EXPECT_FALSE(post->body.empty());
    EXPECT_EQ(get->body, post->body);
    EXPECT_EQ(encoded->body, post->body);
    EXPECT_EQ(form->body, post->body);
}

TEST_F(DataServiceTest, APostWithoutLengthIsAnsweredAtOnce) {
    startService();
    RawConnection raw(m_port);
    ASSERT_TRUE(raw.connected());
    raw.send(std::string("POST ") + kQueryPath + "1003 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::string answer = raw.readAll();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find(",|"), std::string::npos);
}

TEST_F(DataServiceTest, MalformedQueriesGet400AndNoRecord) {
    startService();
    for (const char *query :
         {"0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10", "0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,1,2",
          "abc,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,1", "0,0,0,0,0,0,0,0,A31,D10,1%27%20OR%20%271%27=%271",
          "0,0,0,0,0,0,0,0,A31%22,D10,1", "0,0,0,0,0,0,0,0,A31;DROP%20TABLE%20matches,D10,1",
          "0,0,0,0,0,0,0,0,A31,D10,1%7C2", "0%zz,0,0,0,0,0,0,0,A31,D10,1", "0,0,0,0,0,0,0,0,A31,D10,1%"}) {
        const auto res = m_client->Get(std::string("/shili/deep_jc.asp?sql=") + query);
        ASSERT_TRUE(res) << query;
        EXPECT_EQ(res->status, 400) << query;
        EXPECT_EQ(res->body.find('|'), std::string::npos) << query;
        EXPECT_EQ(res->body.rfind("bad query: ", 0), 0u) << res->body;
    }
    const auto missing = m_client->Get("/shili/deep_jc.asp");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 400);
    const auto oversized = m_client->Get(std::string(kQueryPath) + std::string(2000, '1'));
    ASSERT_TRUE(oversized);
    EXPECT_EQ(oversized->status, 400);
    EXPECT_EQ(oversized->body.find('|'), std::string::npos);

    // The database is untouched and the service still answers.
    EXPECT_EQ(MatchStore(m_db.path()).matchCount(), 3);
    const auto fine = m_client->Get(std::string(kQueryPath) + "1003");
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->status, 200);
}

TEST_F(DataServiceTest, RequestsOverTheSizeLimitAreRefused) {
    startService();
    {
        RawConnection raw(m_port);
        std::string request = std::string("GET ") + kQueryPath + "1 HTTP/1.1\r\nHost: x\r\n";
        for (int i = 0; i < 20; ++i)
            request += "X-Filler-" + std::to_string(i) + ": " + std::string(4000, 'a') + "\r\n";
        raw.send(request + "\r\n");
        const std::string answer = raw.readAll();
        EXPECT_EQ(answer.rfind("HTTP/1.1 431", 0), 0u) << answer;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
        EXPECT_EQ(answer.find('|'), std::string::npos);
        // One answer, then the connection is closed rather than the rest read as requests.
        EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos);
    }
    // Refused from its declared length, and read on briefly after the
    // answer, so the client that is still sending gets the answer.
    const auto body = m_client->Post("/shili/deep_jc.asp", std::string(70 * 1024, 'a'), "text/plain");
    ASSERT_TRUE(body);
    EXPECT_EQ(body->status, 413);
    EXPECT_EQ(body->body.find('|'), std::string::npos);
    const auto fine = m_client->Get(std::string(kQueryPath) + "1003");
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->status, 200);
}

TEST_F(DataServiceTest, LinkFilesNameTheServiceItself) {
    startService();
    for (const char *slot : {"/link(0).txt", "/link(1).txt", "/link(2).txt", "/link%282%29.txt"}) {
        const auto res = m_client->Get(slot);
        ASSERT_TRUE(res) << slot;
        EXPECT_EQ(res->status, 200) << slot;
        EXPECT_EQ(res->body, "http://127.0.0.1:" + std::to_string(m_port) + "/");
    }
    const auto other = m_client->Get("/link(3).txt");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
}

TEST_F(DataServiceTest, AnImportShowsUpAfterARefresh) {
    startService();
    {
        MatchStore store(m_db.path());
        store.upsertMatch(finishedMatch(2000, QStringLiteral("2024-05-01 18:00")));
        store.upsertProfile(profileOf(2000, Strengths{35, -20, 40, -10, 50, 0, 45, 5}));
    }
    EXPECT_EQ(m_service->refresh(), 1u);
    const auto res = m_client->Get(std::string(kQueryPath) + "1003");
    ASSERT_TRUE(res);
    const auto recs = records(gb18030(res->body));
    ASSERT_EQ(recs.size(), 3u);
    // Same distance as 1001, newer kick-off.
    EXPECT_EQ(recs[0][field::MatchId], QStringLiteral("2000"));
    EXPECT_EQ(recs[1][field::MatchId], QStringLiteral("1001"));
}

TEST_F(DataServiceTest, ARunningServerPicksUpAnotherProcesssImport) {
    startService(4, 4, std::chrono::milliseconds(5));
    qint64 written = 0;
    {
        MatchStore importer(m_db.path());
        importer.upsertMatch(finishedMatch(3000, QStringLiteral("2024-06-01 18:00")));
        importer.upsertProfile(profileOf(3000, Strengths{35, -20, 40, -10, 50, 0, 45, 5}));
        written = importer.revision();
    }
    // Bounded wait for the poller; it normally takes one interval.
    ASSERT_TRUE(m_service->waitForRevision(written, std::chrono::seconds(30)));
    const auto res = m_client->Get(std::string(kQueryPath) + "1003");
    ASSERT_TRUE(res);
    const auto recs = records(gb18030(res->body));
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs[0][field::MatchId], QStringLiteral("3000"));
}

TEST_F(DataServiceTest, NamesCannotSplitARecord) {
    {
        MatchStore store(m_db.path());
        MatchFacts f = finishedMatch(1001);
        f.homeTeam = QStringLiteral("A,B|C");
        store.upsertMatch(f);
    }
    startService();
    const auto res = m_client->Get(std::string(kQueryPath) + "1003");
    ASSERT_TRUE(res);
    const auto recs = records(gb18030(res->body));
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0][field::HomeTeam], QStringLiteral("A，B｜C"));
}

TEST_F(DataServiceTest, ConnectionsBeyondTheWorkersAndTheWaitingLineAreRefusedAtOnce) {
    startService(1, 1);
    RawConnection holder(m_port);  // takes the only worker
    RawConnection waiting(m_port); // waits for it
    ASSERT_TRUE(holder.connected() && waiting.connected());
    waiting.send(std::string("GET ") + kQueryPath + "1003 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    RawConnection refused(m_port);
    ASSERT_TRUE(refused.connected());
    const std::string busy = refused.readAll();
    EXPECT_EQ(busy.rfind("HTTP/1.1 503", 0), 0u) << busy;
    EXPECT_EQ(m_service->refusedConnections(), 1u);

    holder.close();
    const std::string answer = waiting.readAll();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find(",|"), std::string::npos);
}
