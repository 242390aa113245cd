#include "usecases/SiteDoctor.h"

#include "base/AnalysisState.h"
#include "usecases/SimilarMatches.h"
#include "sites/ServiceEndpoint.h"
#include "sites/AnalysisPage.h"
#include "sites/HandicapDetail.h"
#include "net/HttpFetch.h"
#include "sites/ScheduleScraper.h"

#include <QJsonArray>

namespace chenglan {

namespace {

QString failureText(FetchOutcome::Failure failure) {
    switch (failure) {
    case FetchOutcome::Failure::None: return QStringLiteral("no failure");
    case FetchOutcome::Failure::Network: return QStringLiteral("network error");
    case FetchOutcome::Failure::Timeout: return QStringLiteral("timed out");
    case FetchOutcome::Failure::TooLarge: return QStringLiteral("answer too large");
    case FetchOutcome::Failure::Redirect: return QStringLiteral("bad redirect");
    case FetchOutcome::Failure::Aborted: return QStringLiteral("aborted");
    case FetchOutcome::Failure::BadUrl: return QStringLiteral("bad address");
    }
    return {};
}

// Serves one answer already fetched, so that a reader runs over exactly the
// bytes the check looked at and no page is asked for twice.
class OneAnswerWeb : public Web {
public:
    explicit OneAnswerWeb(FetchOutcome outcome) : m_outcome(std::move(outcome)) {}
    FetchOutcome fetch(const HttpRequest &) override { return m_outcome; }
    void abort() override {}

private:
    FetchOutcome m_outcome;
};

// The query that prefers no profile: every strength 0, no pattern codes, no
// match left out.
const QString NeutralQuery = QStringLiteral("0,0,0,0,0,0,0,0,,,");

struct Fetched {
    FetchOutcome outcome;
    QString text;
    bool decoded = false;
};

// Fetches like the page's reader (a form POST, or a browser's GET) and
// decodes with the reader's charset: GB18030, UTF-8, or FromPage the
// browser's rules.
Fetched fetchAndDecode(Web &web, PageCheck &check, bool browserGet, Charset charset) {
    HttpRequest request;
    request.url = check.url;
    if (browserGet) {
        request.method = HttpRequest::Method::Get;
    } else {
        request.method = HttpRequest::Method::Post;
        request.headers.append({QByteArray("CONTENT-TYPE"), QByteArray("application/x-www-form-urlencoded")});
    }
    Fetched f;
    f.outcome = web.fetch(request);
    if (f.outcome.failure == FetchOutcome::Failure::Aborted)
        throw StepFailure(f.outcome.error, FailureKind::Cancelled);
    if (!f.outcome.ok()) {
        check.networkError = f.outcome.error.isEmpty() ? failureText(f.outcome.failure) : f.outcome.error;
        return f;
    }
    const HttpResponse &r = *f.outcome.response;
    check.reached = true;
    check.status = r.status;
    try {
        if (browserGet) {
            check.encoding = QString::fromLatin1(pageEncoding(r.body, r.contentType));
            f.text = decodePage(r.body, r.contentType);
        } else {
            check.encoding = charset == Charset::Gb18030 ? QStringLiteral("GB18030") : QStringLiteral("UTF-8");
            f.text = BytesToText(r.body, charset);
        }
        f.decoded = true;
    } catch (const StepFailure &failure) {
        check.decodeError = failure.message();
    }
    return f;
}

void marker(PageCheck &check, const QString &name, bool found) { check.markers.append({name, found}); }

PageCheck schedulePage(Web &web, const QString &page, const QString &url, const QString &start,
                       const QString &end, bool beidan, const PageRenderer &renderer, ScheduleState &state) {
    PageCheck check{QStringLiteral("odds site"), page, url};
    Fetched f = fetchAndDecode(web, check, false, Charset::Utf8);
    if (!f.outcome.ok())
        return check;
    // The readers look for their markers in the lower-cased page.
    const QString lower = f.text.toLower();
    const qsizetype at = lower.indexOf(start);
    marker(check, start, f.decoded && at >= 0);
    marker(check, end, f.decoded && lower.indexOf(end, at < 0 ? 0 : at) >= 0);
    if (!f.decoded)
        return check;
    OneAnswerWeb again(f.outcome);
    StepLog log;
    if (beidan)
        scrapeBeidanSchedule(state, again, SiteBases(), renderer, &log);
    else
        scrapeJingcaiSchedule(state, QString(), again, SiteBases(), renderer, &log);
    check.rows = listedMatchCount(state);
    check.note = QStringLiteral("matches listed");
    return check;
}

int recordCount(const Value &section) {
    const QString text = section.text();
    return text.isEmpty() ? 0 : int(text.count(u'|'));
}

PageCheck notChecked(const QString &site, const QString &page) {
    PageCheck check{site, page};
    check.note = QStringLiteral("not checked: the Jingcai schedule lists no match");
    return check;
}

PageCheck analysisPage(Web &web, const SiteBases &bases, const PageRenderer &renderer, const Value &matchId) {
    PageCheck check{QStringLiteral("analysis site"), QStringLiteral("analysis page"), analysispage::url(bases, matchId)};
    Fetched f = fetchAndDecode(web, check, true, Charset::FromPage);
    if (!f.outcome.ok())
        return check;
    // The script is cut out of the body markup as the browser serialises it.
    QString body;
    if (f.decoded) {
        try {
            body = renderer.bodyMarkup(f.text);
        } catch (const StepFailure &failure) {
            check.note = failure.message();
        }
    }
    marker(check, QStringLiteral("function show_info(URL)\" or \"var lang = 0"),
           body.contains(QStringLiteral("function show_info(URL)")) || body.contains(QStringLiteral("var lang = 0")));
    marker(check, QStringLiteral("</SCRIPT>"), body.contains(QStringLiteral("</SCRIPT>"), Qt::CaseSensitive));
    if (!f.decoded)
        return check;
    OneAnswerWeb again(f.outcome);
    const ValueArray data = analysispage::load(again, bases, renderer, matchId);
    check.rows = recordCount(data.at(0)) + recordCount(data.at(1));
    check.note = QStringLiteral("history records of both sides");
    return check;
}

PageCheck changeDetailPage(Web &web, const SiteBases &bases, const PageRenderer &renderer, const Value &matchId,
                           const QString &date) {
    PageCheck check{QStringLiteral("odds-detail site"), QStringLiteral("change detail"),
                    handicapDetailUrl(bases.detail, matchId)};
    Fetched f = fetchAndDecode(web, check, false, Charset::Gb18030);
    if (!f.outcome.ok())
        return check;
    const QString lower = f.text.toLower();
    const qsizetype at = lower.indexOf(QStringLiteral("<span id=\"odds2\""));
    marker(check, QStringLiteral("<span id=\"odds2\""), f.decoded && at >= 0);
    marker(check, QStringLiteral("</table>"), f.decoded && at >= 0 && lower.indexOf(QStringLiteral("</table>"), at) >= 0);
    if (!f.decoded)
        return check;
    const QString markup = handicapChangeMarkup(f.text);
    QString visible;
    if (!markup.isEmpty()) {
        try {
            visible = renderer.visibleText(markup);
        } catch (const StepFailure &failure) {
            check.note = failure.message();
        }
    }
    // The year of the change times matters not for counting them.
    QDate day = QDate::fromString(date, QStringLiteral("yyyy-M-d"));
    if (!day.isValid())
        day = QDate::currentDate();
    check.rows = int(handicapChanges(visible, Value(QDateTime(day, QTime(12, 0))), nullptr).size());
    check.note = QStringLiteral("handicap changes");
    return check;
}

PageCheck similarQuery(Web &web, const SiteBases &bases) {
    PageCheck check{QStringLiteral("data service"), QStringLiteral("similar-match query"),
                    similarQueryUrl(bases.service, NeutralQuery)};
    Fetched f = fetchAndDecode(web, check, false, Charset::Gb18030);
    if (!f.decoded)
        return check;
    marker(check, QStringLiteral("|"), f.text.contains(u'|'));
    check.rows = int(parseSimilarAnswer(f.text).rows());
    check.note = QStringLiteral("similar-match records");
    return check;
}

PageCheck serverLink(Web &web, const SiteBases &bases) {
    PageCheck check{QStringLiteral("server list"), QStringLiteral("link file of slot 0"),
                    serverLinkUrl(bases.serverList, 0)};
    Fetched f = fetchAndDecode(web, check, false, Charset::Gb18030);
    if (!f.decoded)
        return check;
    QString why;
    const bool address = serviceBaseFromLink(f.text, &why).has_value();
    marker(check, QStringLiteral("service address"), address);
    check.rows = address ? 1 : 0;
    check.note = address ? QStringLiteral("service address") : why;
    return check;
}

} // namespace

bool PageCheck::ok() const { return problem().isEmpty(); }

QString PageCheck::problem() const {
    if (url.isEmpty())
        return note;
    if (!reached)
        return QStringLiteral("network failed: %1").arg(networkError);
    if (status >= 400)
        return QStringLiteral("the site answered with an error (HTTP %1)").arg(status);
    if (!decodeError.isEmpty())
        return QStringLiteral("not %1 text: %2").arg(encoding, decodeError);
    for (const MarkerCheck &m : markers)
        if (!m.found)
            return QStringLiteral("layout changed: marker \"%1\" missing").arg(m.name);
    if (rows == 0)
        return QStringLiteral("layout changed or empty: no %1").arg(note);
    return {};
}

bool DoctorReport::ok() const {
    for (const PageCheck &p : pages)
        if (!p.ok())
            return false;
    return !pages.isEmpty();
}

DoctorReport diagnoseSites(Web &web, const SiteBases &bases, const PageRenderer &renderer, const QString &date) {
    DoctorReport report;
    ScheduleState jingcai;
    report.pages.append(schedulePage(web, QStringLiteral("Jingcai schedule"), jingcaiScheduleUrl(bases, date),
                                     QStringLiteral("显示</u></a></td></tr>"), QStringLiteral("<div id=\"divdaohang\""),
                                     false, renderer, jingcai));
    ScheduleState beidan;
    report.pages.append(schedulePage(web, QStringLiteral("Beidan schedule"), beidanScheduleUrl(bases),
                                     QStringLiteral("参考sp值"), QStringLiteral("</table>"), true, renderer, beidan));

    // The first listed match of the Jingcai schedule; field 0 is its id.
    Value matchId;
    for (int r = 0; r < jingcai.matchRowFlags.size() && matchId.text().isEmpty(); ++r)
        if (jingcai.matchRowFlags.at(r).equals(1))
            matchId = jingcai.matchTable.at(matchtable::MatchIdField, r);

    if (matchId.text().isEmpty()) {
        report.pages.append(notChecked(QStringLiteral("analysis site"), QStringLiteral("analysis page")));
        report.pages.append(notChecked(QStringLiteral("odds-detail site"), QStringLiteral("change detail")));
    } else {
        report.pages.append(analysisPage(web, bases, renderer, matchId));
        report.pages.append(changeDetailPage(web, bases, renderer, matchId, date));
    }
    report.pages.append(similarQuery(web, bases));
    report.pages.append(serverLink(web, bases));
    return report;
}

namespace {

QString reachText(const PageCheck &p) {
    if (p.url.isEmpty())
        return QStringLiteral("-");
    return p.reached ? QStringLiteral("HTTP %1").arg(p.status) : QStringLiteral("failed");
}

QString markersText(const PageCheck &p) {
    int found = 0;
    for (const MarkerCheck &m : p.markers)
        found += m.found ? 1 : 0;
    return p.markers.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1/%2").arg(found).arg(p.markers.size());
}

} // namespace

QString doctorTable(const DoctorReport &report) {
    const QStringList header{QStringLiteral("site"), QStringLiteral("page"), QStringLiteral("reachable"),
                             QStringLiteral("encoding"), QStringLiteral("markers"), QStringLiteral("rows"),
                             QStringLiteral("verdict")};
    QList<QStringList> lines{header};
    for (const PageCheck &p : report.pages)
        lines.append({p.site, p.page, reachText(p), p.encoding.isEmpty() ? QStringLiteral("-") : p.encoding,
                      markersText(p), p.rows < 0 ? QStringLiteral("-") : QString::number(p.rows),
                      p.ok() ? QStringLiteral("ok") : QStringLiteral("FAILED")});
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList &l : lines)
        for (int c = 0; c < l.size(); ++c)
            widths[c] = std::max(widths[c], l[c].size());
    QString out;
    for (const QStringList &l : lines) {
        QString line;
        for (int c = 0; c < l.size(); ++c)
            line += l[c].leftJustified(widths[c] + 2);
        out += line.trimmed() + u'\n';
    }
    for (const PageCheck &p : report.pages) {
        if (!p.ok())
            out += QStringLiteral("%1, %2: %3\n").arg(p.site, p.page, p.problem());
        for (const MarkerCheck &m : p.markers)
            if (!m.found && p.reached)
                out += QStringLiteral("%1, %2: marker \"%3\" missing\n").arg(p.site, p.page, m.name);
    }
    out += report.ok() ? QStringLiteral("All pages read as expected.\n") : QStringLiteral("Some pages failed.\n");
    return out;
}

QJsonObject doctorJson(const DoctorReport &report) {
    QJsonArray pages;
    for (const PageCheck &p : report.pages) {
        QJsonArray markers;
        for (const MarkerCheck &m : p.markers)
            markers.append(QJsonObject{{QStringLiteral("marker"), m.name}, {QStringLiteral("found"), m.found}});
        QJsonObject o{{QStringLiteral("site"), p.site},         {QStringLiteral("page"), p.page},
                      {QStringLiteral("url"), p.url},           {QStringLiteral("reached"), p.reached},
                      {QStringLiteral("status"), p.status},     {QStringLiteral("encoding"), p.encoding},
                      {QStringLiteral("markers"), markers},     {QStringLiteral("rows"), p.rows},
                      {QStringLiteral("ok"), p.ok()}};
        if (!p.networkError.isEmpty())
            o.insert(QStringLiteral("networkError"), p.networkError);
        if (!p.decodeError.isEmpty())
            o.insert(QStringLiteral("decodeError"), p.decodeError);
        if (!p.note.isEmpty())
            o.insert(QStringLiteral("note"), p.note);
        if (!p.ok())
            o.insert(QStringLiteral("problem"), p.problem());
        pages.append(o);
    }
    return QJsonObject{{QStringLiteral("ok"), report.ok()}, {QStringLiteral("pages"), pages}};
}

} // namespace chenglan
