#include "sites/ScheduleScraper.h"

#include "base/TextRules.h"
#include "net/HttpFetch.h"

#include <QStringList>

namespace chenglan {

namespace {

// Splitting as the pages' separators are split: an empty text has no piece
// at all, so a line without text never counts as a row.
QStringList splitPieces(const QString &text, QChar separator) {
    if (text.isEmpty())
        return {};
    return text.split(separator);
}

const QString &pieceAt(const QStringList &pieces, int index) {
    if (index < 0 || index >= pieces.size())
        throw StepFailure(QStringLiteral("piece %1 missing: the line has %2").arg(index).arg(pieces.size()));
    return pieces[index];
}


// How one schedule page is read: its address, the markers that cut the
// match table out of it, and the Beidan differences.
struct SchedulePage {
    QString name; // for the log: "Jingcai schedule"
    QString url;
    QString startMarker;
    QString endMarker;
    bool secondStyleForm; // the colour style written without a blank after ";"
    bool handicapSuffix;  // field 4 from piece 5
};

// The text resumes 20 characters after the start of the start marker, for
// either page; without the marker, from position 20 of the whole page.
constexpr qsizetype StartCutOffset = 20;
constexpr int FlagListed = 1;

// The local page the renderer is given: the page lower-cased, cut to its
// match table and marked. The cut markers count as missing from the layout
// only when the page was fetched at all.
QString markedTablePage(QString html, const SchedulePage &page, bool fetched, StepLog *log) {
    html = html.toLower();

    const qsizetype start = html.indexOf(page.startMarker);
    if (log && start < 0 && fetched)
        log->add(FailureKind::Layout, QStringLiteral("odds site, %1 page: start marker \"%2\" missing")
                                          .arg(page.name, page.startMarker));
    html = html.mid((start < 0 ? 0 : start + 1) + StartCutOffset - 1);

    if (fetched)
        attempt([&] {
            const qsizetype end = html.indexOf(page.endMarker);
            if (end < 0)
                throw StepFailure(QStringLiteral("odds site, %1 page: end marker \"%2\" missing")
                                      .arg(page.name, page.endMarker),
                                  FailureKind::Layout);
            html = text::trimBlanks(html.left(end));
        }, log);

    html.replace(QStringLiteral("</td>"), QStringLiteral(",</td>"));
    html.replace(QStringLiteral("/handicap/"), QStringLiteral("\">"));
    html.replace(QStringLiteral(".html\">亚"), QStringLiteral(","));
    html.replace(QStringLiteral("</tr>"), QStringLiteral("‖</tr>"));
    html.replace(QStringLiteral("<span id=\"guestred_"), QStringLiteral(","));
    html.replace(QStringLiteral("style=\"color: #ffffff; background-color:"), QStringLiteral("\">"));
    if (page.secondStyleForm)
        html.replace(QStringLiteral("style=\"color: #ffffff;background-color: "), QStringLiteral("\">"));

    // The charset line only keeps the page what it always was; the text is
    // already decoded.
    return QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table>") + html
        + u'\n';
}

const SchedulePage JingcaiPage{QStringLiteral("Jingcai schedule"), QString(), QStringLiteral("显示</u></a></td></tr>"),
                               QStringLiteral("<div id=\"divdaohang\""), true, false};
const SchedulePage BeidanPage{QStringLiteral("Beidan schedule"), QString(), QStringLiteral("参考sp值"), QStringLiteral("</table>"), false, true};

void scrapeSchedule(ScheduleState &s, const SchedulePage &page, Web &web, const PageRenderer &renderer,
                    StepLog *log) {
    QString html;
    int status = 0;
    const QString where = QStringLiteral("odds site, %1 page").arg(page.name);
    const bool fetched = attempt([&] {
        SiteAnswer answer = readSiteAnswer(web, formPost(page.url), Charset::Utf8, where);
        status = answer.status;
        html = std::move(answer.text);
    }, log);
    // The page is read whatever its status, as before; the status only
    // explains an empty list.
    if (log && status >= 400)
        log->add(FailureKind::SiteError, QStringLiteral("%1: HTTP %2").arg(where).arg(status));

    const QString local = markedTablePage(std::move(html), page, fetched, log);

    // The marked table is rendered as a browser would show it.
    QString rendered;
    attempt([&] { rendered = renderer.visibleText(local, log); }, log);

    const QStringList lines = splitPieces(rendered, u'‖');
    const int n = int(lines.size()) - 2; // what follows the last row end is never a row

    // A page without any row end empties the schedule: the list must not
    // show the previous day's matches as if they were this one's.
    s.matchTable = Table(matchtable::Fields, n + 1);
    s.matchRowFlags = ValueArray(n >= 0 ? n + 1 : 0);

    int k = 0;
    for (int i = 0; i <= n; ++i) {
        const QStringList pieces = splitPieces(lines[i], u',');
        if (pieces.size() - 1 <= 10)
            continue;
        const int row = k;
        Table &t = s.matchTable;
        using namespace matchtable;
        auto copy = [&](int field, int piece) {
            attempt([&] { t.set(field, row, Value(pieceAt(pieces, piece))); }, log);
        };
        attempt([&] { t.set(MatchIdField, row, Value(text::leadingNumber(pieceAt(pieces, 8)))); }, log);
        const QStringList league = splitPieces(pieces[1], u';');
        attempt([&] { t.set(LeagueColourField, row, Value(pieceAt(league, 0))); }, log);
        attempt([&] { t.set(LeagueField, row, Value(pieceAt(splitPieces(pieceAt(league, 1), u'>'), 1))); }, log);
        copy(KickOffField, 3);
        if (page.handicapSuffix && !pieces[5].isEmpty())
            attempt([&] { t.set(HandicapSuffixField, row, Value(QStringLiteral(" (") + pieces[5] + u')')); }, log);
        copy(HomeTeamField, 4);
        copy(ScoreField, 6);
        copy(AwayTeamField, 7);
        copy(HomeOddsField, 15);
        copy(HandicapField, 16);
        copy(AwayOddsField, 17);
        attempt([&] { s.matchRowFlags.set(row, Value::fromInt16(FlagListed)); }, log);
        ++k;
    }

    // Rows that never qualified stay as empty, unlisted rows when none did.
    if (k > 0) {
        s.matchTable.resizeRows(k);
        s.matchRowFlags.resize(k);
    }
}

} // namespace

QString jingcaiTablePage(const QString &html) { return markedTablePage(html, JingcaiPage, true, nullptr); }

QString beidanTablePage(const QString &html) { return markedTablePage(html, BeidanPage, true, nullptr); }

QString jingcaiScheduleUrl(const SiteBases &sites, const QString &selectedDate) {
    return sites.odds + QStringLiteral("buy/Jingcai.aspx?TypeID=105&OddsType=2&date=") + selectedDate;
}

QString beidanScheduleUrl(const SiteBases &sites) {
    return sites.odds + QStringLiteral("buy/DanChang.aspx?typeID=5&issueNum");
}

void scrapeJingcaiSchedule(ScheduleState &s, const QString &selectedDate, Web &web, const SiteBases &sites,
          const PageRenderer &renderer, StepLog *log) {
    SchedulePage page = JingcaiPage;
    page.url = jingcaiScheduleUrl(sites, selectedDate);
    scrapeSchedule(s, page, web, renderer, log);
}

void scrapeBeidanSchedule(ScheduleState &s, Web &web, const SiteBases &sites, const PageRenderer &renderer, StepLog *log) {
    SchedulePage page = BeidanPage;
    page.url = beidanScheduleUrl(sites);
    scrapeSchedule(s, page, web, renderer, log);
}

int listedMatchCount(const ScheduleState &s) {
    int count = 0;
    for (int i = 0; i < s.matchRowFlags.size(); ++i)
        if (s.matchRowFlags.at(i).equals(FlagListed))
            ++count;
    return count;
}

ScheduleOutcome scheduleOutcome(const ScheduleState &s, const StepLog &log) {
    if (listedMatchCount(s) > 0)
        return ScheduleOutcome::Listed;
    if (log.has(FailureKind::Network))
        return ScheduleOutcome::NetworkFailed;
    if (log.has(FailureKind::SiteError))
        return ScheduleOutcome::SiteError;
    if (log.has(FailureKind::Layout))
        return ScheduleOutcome::LayoutChanged;
    return ScheduleOutcome::NoMatch;
}

QString scheduleStatusText(const QString &what, const ScheduleState &s, const StepLog &log) {
    switch (scheduleOutcome(s, log)) {
    case ScheduleOutcome::Listed: {
        QString line = QStringLiteral("%1：共 %2 场比赛。").arg(what).arg(listedMatchCount(s));
        if (log.has(FailureKind::Layout) || log.has(FailureKind::SiteError))
            line += QStringLiteral("注意：赔率网站的页面与往常不同，列表可能不全。");
        return line;
    }
    case ScheduleOutcome::NoMatch:
        return QStringLiteral("%1：这一天没有比赛。").arg(what);
    case ScheduleOutcome::NetworkFailed:
        return QStringLiteral("%1读取失败：连不上赔率网站，列表已清空。").arg(what);
    case ScheduleOutcome::SiteError:
        return QStringLiteral("%1读取失败：赔率网站出错，列表已清空。").arg(what);
    case ScheduleOutcome::LayoutChanged:
        return QStringLiteral("%1读取失败：赔率网站的页面格式变了，读不出赛程，列表已清空。").arg(what);
    }
    return {};
}

} // namespace chenglan
