#include "sites/AnalysisPage.h"

#include "base/TextRules.h"

#include "net/HttpFetch.h"

#include <QElapsedTimer>

namespace chenglan {

namespace analysispage {

namespace {

const QString StartMarker = QStringLiteral("function show_info(URL)");
const QString FallbackStartMarker = QStringLiteral("var lang = 0");
const QString EndMarker = QStringLiteral("</SCRIPT>");

const QString ScriptOpening = QStringLiteral("<script language=\"javascript\">");

// Writes the three record lists, each record followed by "|", and the info
// line, separated by "$".
const QString DumpStatements = QStringLiteral(
    "var len = h_data.length;for(var i=0;i<len;i++){document.write (h_data[i]+\"|\");}"
    "document.write (\"$\");"
    "var len = a_data.length;for(var i=0;i<len;i++){document.write (a_data[i]+\"|\");}"
    "document.write (\"$\");"
    "var len = v_data.length;for(var i=0;i<len;i++){document.write (v_data[i]+\"|\");}"
    "document.write (\"$\");"
    "document.write (h2h_home+\",\"+h2h_away+\",\"+hometeam+\",\"+guestteam+\",\"+strTime);"
    "</SCRIPT>");

} // namespace

QString url(const SiteBases &bases, const Value &matchId) {
    return bases.analysis + QStringLiteral("analysis/") + matchId.text() + QStringLiteral("cn.htm");
}

QString scriptCode(const QString &bodyMarkup) {
    QString code = bodyMarkup;
    qsizetype start = bodyMarkup.indexOf(StartMarker);
    if (start < 0)
        start = bodyMarkup.indexOf(FallbackStartMarker);
    if (start >= 0)
        code = bodyMarkup.mid(start);
    const qsizetype end = code.indexOf(EndMarker, 0, Qt::CaseSensitive);
    if (end < 0)
        return code;
    // Only blanks: line breaks around the code stay.
    return text::trimBlanks(code.left(end));
}

QString dumpPage(const QString &scriptCode) {
    return ScriptOpening + scriptCode + DumpStatements + QStringLiteral("\r\n");
}

ValueArray sections(const QString &renderedText) {
    ValueArray data(analysisdata::Elements);
    if (renderedText.isEmpty())
        return data; // an empty text has no parts, not one empty part
    const QStringList parts = renderedText.split(u'$');
    for (int i = 0; i < analysisdata::Elements && i < parts.size(); ++i)
        data.set(i, Value(parts[i]));
    return data;
}

ValueArray load(Web &web, const SiteBases &bases, const PageRenderer &renderer, const Value &matchId,
                StepLog *log, PageTimes *times) {
    QElapsedTimer clock;
    clock.start();
    QString html;
    const QString where = QStringLiteral("analysis site, analysis page of match %1").arg(matchId.text());
    // An error page is not the match's page: nothing of it is read.
    const bool fetched = attempt([&] {
        SiteAnswer answer = readSiteAnswer(web, pageGet(url(bases, matchId)), Charset::FromPage, where);
        if (answer.status >= 400)
            throw StepFailure(QStringLiteral("%1: HTTP %2").arg(where).arg(answer.status), FailureKind::SiteError);
        html = std::move(answer.text);
    }, log);
    if (times)
        times->fetchNs += clock.nsecsElapsed();
    QString rendered;
    if (fetched) {
        // Nothing to render without a page: the dump script would only fail
        // on the missing variables and show nothing.
        clock.restart();
        QString body = html;
        attempt([&] { body = renderer.bodyMarkup(html); }, log);
        if (log && !body.contains(StartMarker) && !body.contains(FallbackStartMarker))
            log->add(FailureKind::Layout, QStringLiteral("%1: marker \"%2\" (or \"%3\") missing")
                                              .arg(where, StartMarker, FallbackStartMarker));
        if (log && !body.contains(EndMarker, Qt::CaseSensitive))
            log->add(FailureKind::Layout, QStringLiteral("%1: marker \"%2\" missing").arg(where, EndMarker));
        attempt([&] { rendered = renderer.visibleText(dumpPage(scriptCode(body)), log); }, log);
        if (times)
            times->renderNs += clock.nsecsElapsed();
    }
    return sections(rendered);
}

void noteMissingHistory(const ValueArray &data, const Value &matchId, StepLog *log) {
    if (!log || data.size() < 2 || !data.at(0).text().isEmpty() || !data.at(1).text().isEmpty())
        return;
    log->add(FailureKind::Layout,
             QStringLiteral("analysis site, analysis page of match %1: no history record read").arg(matchId.text()));
}

} // namespace analysispage

void loadAnalysisPage(AnalysisState &s, Web &web, const SiteBases &bases, const PageRenderer &renderer, StepLog *log) {
    StepLog own;
    s.analysisData = analysispage::load(web, bases, renderer, s.currentMatchId, &own);
    // Only a page that came can lack its records.
    if (!own.has(FailureKind::Network) && !own.has(FailureKind::SiteError))
        analysispage::noteMissingHistory(s.analysisData, s.currentMatchId, &own);
    if (log)
        log->entries.append(own.entries);
}

} // namespace chenglan
