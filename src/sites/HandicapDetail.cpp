#include "sites/HandicapDetail.h"

#include "base/TextRules.h"
#include "net/HttpFetch.h"
#include "net/PageCache.h"
#include "sites/PageFinality.h"

#include <QUrl>

namespace chenglan {

namespace {

const QString TableStart = QStringLiteral("<span id=\"odds2\"");
const QString TableEnd = QStringLiteral("</table>");

// Field i of a split line, or no value when the line is shorter.
const QString *fieldAt(const QStringList &fields, int i) { return i < fields.size() ? &fields[i] : nullptr; }

void storeChange(Table &summary, int matchIndex, int firstItem, const HandicapChange &change, StepLog *log) {
    using namespace handicap;
    attempt([&] { summary.set(firstItem + HomeOddsItem, matchIndex, change.homeOdds); }, log);
    attempt([&] { summary.set(firstItem + HandicapItem, matchIndex, change.handicap); }, log);
    attempt([&] { summary.set(firstItem + AwayOddsItem, matchIndex, change.awayOdds); }, log);
    attempt([&] { summary.set(firstItem + TimeItem, matchIndex, change.changeTime); }, log);
}

} // namespace

QString handicapDetailUrl(const QString &detailBase, const Value &matchId) {
    return detailBase + QStringLiteral("changeDetail/handicap.aspx?id=")
           + QString::fromLatin1(QUrl::toPercentEncoding(matchId.text())) + QStringLiteral("&companyID=3");
}

QDateTime AdjustChangeYear(Value &changeTime, const Value &matchDate) {
    const QDateTime when = changeTime.toDate();
    changeTime = Value(when);
    const int matchMonth = matchDate.toDate().date().month();
    const int changeMonth = when.date().month();
    if ((changeMonth == 11 || changeMonth == 12) && matchMonth < 10)
        return when.addYears(-1);
    return when;
}

QString handicapChangeMarkup(const QString &page) {
    QString text = page.toLower();
    const qsizetype start = text.indexOf(TableStart);
    if (start < 0)
        return {};
    text = text.mid(start);
    const qsizetype end = text.indexOf(TableEnd);
    if (end >= 0)
        text.truncate(end);
    text = text.trimmed();
    text.replace(QStringLiteral("</td>"), QStringLiteral(",</td>"));
    return text;
}

QList<HandicapChange> handicapChanges(const QString &visibleText, const Value &matchDate, StepLog *log) {
    QString text = visibleText;
    text.replace(QStringLiteral("受让"), QStringLiteral("受"));
    const QStringList lines = text.split(u'\r');
    QList<HandicapChange> changes;
    for (qsizetype i = lines.size() - 1; i >= 1; --i) {
        const QStringList f = lines[i].split(u',');
        const QString *homeOdds = fieldAt(f, 2);
        if (!homeOdds || text::leadingNumber(*homeOdds) <= 0)
            continue;
        const QString *status = fieldAt(f, 1);
        if (!status || status->size() <= 1)
            continue;
        HandicapChange change;
        change.homeOdds = Value(text::leadingNumber(*homeOdds));
        if (const QString *handicap = fieldAt(f, 3))
            change.handicap = Value(*handicap);
        if (const QString *awayOdds = fieldAt(f, 4))
            change.awayOdds = Value(text::leadingNumber(*awayOdds));
        if (const QString *time = fieldAt(f, 5)) {
            attempt(
                [&] {
                    Value when(QString::number(matchDate.toDate().date().year()) + u'-' + time->trimmed());
                    change.changeTime = Value(AdjustChangeYear(when, matchDate));
                },
                log);
        }
        changes.append(change);
    }
    return changes;
}

int scrapeHandicapChanges(AnalysisState &s, Web &web, const SiteBases &bases, const PageRenderer &renderer,
                          StepLog *log) {
    int matchIndex = -1;
    if (s.listHandicapLoaded.equals(0))
        matchIndex = 0;
    else if (s.listHandicapLoaded.equals(1))
        matchIndex = 1;
    return scrapeHandicapChanges(s, matchIndex, web, bases, renderer, log);
}

int scrapeHandicapChanges(AnalysisState &s, int matchIndex, Web &web, const SiteBases &bases,
                          const PageRenderer &renderer, StepLog *log) {
    const QString id = s.currentMatchId.text();
    QString page;
    int status = 0;
    const QString where = QStringLiteral("odds-detail site, change detail of match %1").arg(id);
    const bool fetched = attempt(
        [&] {
            SiteAnswer answer = readSiteAnswer(web, formPost(handicapDetailUrl(bases.detail, s.currentMatchId)),
                                               Charset::Gb18030, where);
            status = answer.status;
            page = std::move(answer.text);
        },
        log);
    QString markup;
    if (fetched) {
        markup = handicapChangeMarkup(page);
        // An error page is not taken for a changed layout.
        if (markup.isEmpty() && log && status >= 400)
            log->add(FailureKind::SiteError, QStringLiteral("%1: HTTP %2").arg(where).arg(status));
        else if (markup.isEmpty() && log)
            log->add(FailureKind::Layout,
                     QStringLiteral("odds-detail site, change detail of match %1: marker \"%2\" missing")
                         .arg(id, TableStart));
    }
    QString visible;
    if (!markup.isEmpty())
        attempt([&] { visible = renderer.visibleText(markup, log); }, log);
    const QList<HandicapChange> changes = handicapChanges(visible, s.matchDate, log);
    if (fetched && !markup.isEmpty() && changes.isEmpty() && log)
        log->add(FailureKind::Data, QStringLiteral("The handicap page of match %1 lists no change").arg(id));

    if (matchIndex != handicap::ListMatchRow && matchIndex != handicap::SimilarMatchRow)
        return int(changes.size());
    if (changes.isEmpty()) {
        for (int item = 0; item < HandicapItems; ++item)
            attempt([&] { s.handicapSummary.set(item, matchIndex, Value()); }, log);
    } else {
        storeChange(s.handicapSummary, matchIndex, handicap::EarliestItems, changes.first(), log);
        storeChange(s.handicapSummary, matchIndex, handicap::LatestItems, changes.last(), log);
    }
    return int(changes.size());
}

HandicapRun listMatchHandicapDetail(AnalysisState &s, Web &web, const SiteBases &bases, const PageRenderer &renderer,
                                    StepLog *log) {
    s.currentMatchId = s.listMatchId;
    s.matchDate = s.listMatchTime;
    StepLog own;
    HandicapRun run;
    // A finished match's handicap changes are closed: its page is final.
    MarkingWeb final(web, MarkingWeb::Mark::Final);
    run.changes = scrapeHandicapChanges(s, 0, matchFinished(s.matchDate) ? static_cast<Web &>(final) : web, bases,
                                        renderer, &own);
    const QString id = s.currentMatchId.text();
    run.pageRead = !own.has(FailureKind::Network) && !own.has(FailureKind::Layout) && !own.has(FailureKind::SiteError);
    if (own.has(FailureKind::Network))
        run.status = QStringLiteral("盘口变化页面读取失败：连不上盘口网站");
    else if (own.has(FailureKind::SiteError))
        run.status = QStringLiteral("盘口变化页面读取失败：盘口网站出错");
    else if (own.has(FailureKind::Layout))
        run.status = QStringLiteral("盘口变化页面没有变化表：页面格式变了");
    else if (run.changes == 0)
        run.status = QStringLiteral("盘口变化页面没有可用的变化（比赛编号 %1）").arg(id);
    else
        run.status = QStringLiteral("盘口变化 %1 条（比赛编号 %2）").arg(run.changes).arg(id);
    if (log)
        log->entries.append(own.entries);
    return run;
}

} // namespace chenglan
