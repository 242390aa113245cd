#include "usecases/SimilarMatches.h"

#include "net/HttpFetch.h"

namespace chenglan {

SimilarQueryResult querySimilarMatches(AnalysisState &s, Web &web, const SiteBases &bases, GridData &grid, StepLog *log) {
    s.similarQuery = Value(similarQueryText(s.profile, s.listMatchId, log));
    SimilarQueryResult result = fetchSimilarMatches(s, web, bases, log);
    fillSimilarList(s, grid, log);
    return result;
}

SimilarQueryResult fetchSimilarMatches(AnalysisState &s, Web &web, const SiteBases &bases, StepLog *log) {
    SimilarQueryResult result;
    StepLog fetchLog;
    SiteAnswer reply;
    const QString where = QStringLiteral("data service, similar-match query");
    const bool fetched = attempt(
        [&] {
            // An empty answer is the service's "no similar match".
            reply = readSiteAnswer(web, formPost(similarQueryUrl(bases.service, s.similarQuery.text())), Charset::Gb18030, where,
                                   true);
            if (reply.status >= 400) {
                // The service's own refusals are one line of text; an error page is not shown.
                const QString said = reply.text.simplified();
                throw StepFailure(said.isEmpty() || said.startsWith(u'<')
                                      ? QStringLiteral("%1: HTTP %2").arg(where).arg(reply.status)
                                      : QStringLiteral("%1: HTTP %2: %3").arg(where).arg(reply.status).arg(said.left(60)),
                                  FailureKind::SiteError);
            }
        },
        &fetchLog);
    if (!fetched) {
        s.similarMatches = Table(SimilarMatchColumns, 0);
        result.outcome = SimilarQueryResult::Outcome::Failed;
        result.status = fetchLog.has(FailureKind::SiteError)
                            ? QStringLiteral("相似比赛查询失败：数据服务出错")
                            : QStringLiteral("相似比赛查询失败：连不上数据服务");
        if (log)
            log->entries.append(fetchLog.entries);
        return result;
    }
    const QString &answer = reply.text;
    bool truncated = false;
    s.similarMatches = parseSimilarAnswer(answer, &truncated);
    result.records = s.similarMatches.rows();
    if (result.records == 0) {
        result.outcome = SimilarQueryResult::Outcome::NoRecord;
        result.status = answer.trimmed().isEmpty()
                            ? QStringLiteral("数据服务没有找到相似比赛")
                            : QStringLiteral("数据服务的回答中没有相似比赛：“%1”")
                                  .arg(answer.simplified().left(60));
        if (log)
            log->add(FailureKind::SiteError, result.status);
        return result;
    }
    result.outcome = SimilarQueryResult::Outcome::Records;
    result.status = truncated ? QStringLiteral("相似比赛 %1 场（回答中其余的记录未读）").arg(result.records)
                              : QStringLiteral("相似比赛 %1 场").arg(result.records);
    return result;
}

} // namespace chenglan
