#include "usecases/SimilarAnalysis.h"

#include "sites/HistoryExtension.h"
#include "sites/HistoryParsing.h"
#include "sites/InfoLine.h"
#include "base/TextRules.h"
#include "model/StrengthModel.h"
#include "sites/AnalysisPage.h"
#include "sites/HandicapDetail.h"
#include "sites/PageFinality.h"
#include "net/PageCache.h"

#include <future>
#include <memory>
#include <optional>
#include <vector>

#include <cmath>

namespace chenglan {

namespace {

QString timeText(const Value &when) { return when.isDate() ? text::displayDateTime(*when.asDate()) : when.text(); }

// The first failure of the given kinds logged from entry `from` on; empty when none.
QString failureSince(const StepLog &log, qsizetype from, bool (*which)(FailureKind)) {
    for (qsizetype i = from; i < log.entries.size(); ++i)
        if (which(log.entries[i].kind))
            return log.entries[i].message.isEmpty() ? QStringLiteral("?") : log.entries[i].message;
    return {};
}

bool notData(FailureKind kind) { return kind != FailureKind::Data; }
bool network(FailureKind kind) { return kind == FailureKind::Network; }

class SimilarPipeline {
public:
    SimilarPipeline(AnalysisState &s, const AnalysisContext &context) : m_s(s), m_c(context) {}

    SimilarRun run(const Value &rowKey) {
        StepLog *log = &m_run.log;
        int row = -1;
        m_run.rowFound = attempt(
            [&] {
                const double key = rowKey.toDouble();
                if (rowKey.isEmpty() || key != std::floor(key))
                    throw StepFailure(QStringLiteral("\"%1\" is not a row number").arg(rowKey.text()));
                row = rowKey.toInt16();
                m_id = m_s.similarMatches.at(similar::MatchId, row);
            },
            log);
        if (!m_run.rowFound) {
            m_run.status = QStringLiteral("相似比赛列表中没有第%1行").arg(rowKey.text());
            return std::move(m_run);
        }
        start(rowKey);

        const qsizetype beforePage = log->entries.size();
        // A historic match finished a day ago has a page that no longer changes.
        bool settled = false;
        attempt([&] { settled = analysisPageSettled(m_s.similarMatches.at(similar::Kickoff, row)); });
        step(AnalysisStep::LoadPage,
             [&] { loadAnalysisPage(m_s, pageWeb(m_c.web, settled), m_c.bases, m_c.renderer, log); });
        QString pageFailure = failureSince(*log, beforePage, notData);
        if (!pageFailure.isEmpty())
            pageFailure = pageFailure == failureSince(*log, beforePage, network) ? QStringLiteral("连不上分析网站")
                                                                                 : QStringLiteral("分析网站出错");
        const bool pageFailed = !pageFailure.isEmpty();
        step(AnalysisStep::ReadInfo, [&] { readInfoLine(); });
        const Value kickOff = m_s.matchDate;
        step(AnalysisStep::ParseHistories, [&] { parseTeamHistories(m_s, log); });
        // Both extension pages depend only on this page's histories (the home
        // extension changes only the home history), so with a second Web the
        // away page is loaded while the home one is; pages and logs are taken
        // in the fixed order, so the state is the same as one by one.
        std::future<LoadedPage> awayPage;
        if (m_c.secondWeb) {
            if (const auto away = extensionTarget(m_s.awayHistory, analysisdata::AwayList)) {
                const PageRenderer awayRenderer(m_c.renderer.limits());
                awayPage = std::async(std::launch::async, [this, id = away->first, awayRenderer] {
                    return loadExtension(*m_c.secondWeb, awayRenderer, id);
                });
            }
        }
        extend(
            m_s.homeHistory, analysisdata::HomeList, AnalysisStep::LoadHomeExtension, AnalysisStep::ExtendHome,
            [&] { extendHomeHistory(m_s, log); }, nullptr);
        extend(
            m_s.awayHistory, analysisdata::AwayList, AnalysisStep::LoadAwayExtension, AnalysisStep::ExtendAway,
            [&] { extendAwayHistory(m_s, log); }, awayPage.valid() ? &awayPage : nullptr);
        step(AnalysisStep::ComputeTrends, [&] { computeStrengthTrends(m_s, log); });
        step(AnalysisStep::Caption, [&] {
            attempt([&] { m_s.similarMatchCaption = Value(similarMatchCaption(m_s.similarMatches, row, kickOff)); },
                    log);
            m_s.chartCaption = m_s.similarMatchCaption;
        });

        bool listFailed = false;
        if (m_s.listHandicapLoaded.equals(0)) {
            m_s.currentMatchId = m_s.listMatchId;
            m_s.matchDate = m_s.listMatchTime;
            const qsizetype before = log->entries.size();
            // A finished match's handicap changes are closed.
            const bool closed = matchFinished(m_s.listMatchTime);
            step(AnalysisStep::ListHandicap, [&] {
                m_run.listChanges =
                    scrapeHandicapChanges(m_s, 0, pageWeb(m_c.web, closed), m_c.bases, m_c.renderer, log);
            });
            // A list match whose page could not be reached is tried again on the next click.
            listFailed = !failureSince(*log, before, network).isEmpty();
            if (!listFailed)
                m_s.listHandicapLoaded = Value::fromInt16(1);
        }
        m_s.currentMatchId = m_id;
        m_s.matchDate = kickOff;
        const qsizetype before = log->entries.size();
        const bool closed = matchFinished(kickOff);
        step(AnalysisStep::SimilarHandicap, [&] {
            m_run.similarChanges =
                scrapeHandicapChanges(m_s, 1, pageWeb(m_c.web, closed), m_c.bases, m_c.renderer, log);
        });
        // The historic match's page is read a second time, the second read
        // standing; not when the first one did not reach the site.
        if (failureSince(*log, before, network).isEmpty())
            step(AnalysisStep::SimilarHandicapAgain, [&] {
                m_run.similarChanges =
                    scrapeHandicapChanges(m_s, 1, pageWeb(m_c.web, closed), m_c.bases, m_c.renderer, log);
            });

        m_run.pageRead = !pageFailed && !m_noInfoLine;
        m_run.hasTrend = m_s.trendSeries.allocated() && m_s.trendSeries.rows() > 0;
        m_run.trendFitted = trendFitted(m_s);
        m_run.ok = m_run.pageRead && m_run.hasTrend && m_run.similarChanges > 0 && m_run.listChanges != 0;
        if (pageFailed)
            m_run.status = QStringLiteral("历史比赛的分析页面读取失败：%1").arg(pageFailure);
        else if (m_noInfoLine)
            m_run.status = QStringLiteral("历史比赛的分析页面没有比赛数据（比赛编号 %1）").arg(m_id.text());
        else if (!m_run.trendFitted)
            m_run.status = trendShortfall(m_s);
        else
            m_run.status = QStringLiteral("历史比赛分析完成");
        if (listFailed)
            m_run.status += QStringLiteral("；本场的盘口变化读取失败");
        else if (m_run.listChanges == 0)
            m_run.status += QStringLiteral("；本场没有盘口变化");
        if (m_run.similarChanges == 0)
            m_run.status += QStringLiteral("；历史比赛没有盘口变化");
        return std::move(m_run);
    }

private:
    template <class F>
    void step(AnalysisStep name, F &&body) {
        if (m_c.progress)
            m_c.progress(name);
        body();
    }

    // The values of the previously opened similar match must not stand in
    // for ones this run fails to read.
    void start(const Value &rowKey) {
        m_s.similarRowKey = rowKey;
        m_s.currentMatchId = m_id;
        m_s.analysisMode = AnalysisMode::SimilarMatch;
        m_s.homeTeamId = m_s.awayTeamId = Value();
        m_s.matchDate = Value();
        m_s.similarMatchCaption = m_s.chartCaption = Value();
    }

    // Every value set here was emptied by start, so an item that cannot be
    // read leaves its value empty.
    void readInfoLine() {
        const InfoLineValues info = chenglan::readInfoLine(m_s.analysisData, false, &m_run.log);
        m_noInfoLine = info.lineMissing;
        m_s.homeTeamId = info.homeTeamId;
        m_s.awayTeamId = info.awayTeamId;
        m_s.matchDate = info.kickOff;
    }

    // The page of the team's oldest listed match, and the history list of
    // that page on which the team appears: sameSide when column 28 of the
    // last row is 2, else the other side.
    // The match id and side of that page, or nothing (and why, in log).
    static std::optional<std::pair<Value, Value>> extensionTarget(const Table &history, int sameSide,
                                                                  StepLog *log = nullptr) {
        std::optional<std::pair<Value, Value>> target;
        attempt(
            [&] {
                const int last = history.lastRow();
                const bool same = history.at(history::SameSideColumn, last).equals(history::SameSideMark);
                target = std::pair(history.at(history::MatchIdColumn, last),
                                   Value::fromInt16(std::int16_t(same ? sameSide : 1 - sameSide)));
            },
            log);
        return target;
    }

    // The Web a page is read through: marked final when its page no longer changes.
    Web &pageWeb(Web &web, bool final) {
        if (!final)
            return web;
        m_marked.push_back(std::make_unique<MarkingWeb>(web, MarkingWeb::Mark::Final));
        return *m_marked.back();
    }

    // An extension page as loadAnalysisPage reads it, with its own log.
    struct LoadedPage {
        ValueArray data;
        StepLog log;
    };
    LoadedPage loadExtension(Web &web, const PageRenderer &renderer, const Value &matchId) const {
        // An extension page is the page of a match listed in a history:
        // played long ago, so it never changes.
        MarkingWeb final(web, MarkingWeb::Mark::Final);
        AnalysisState page;
        page.currentMatchId = matchId;
        LoadedPage loaded;
        loadAnalysisPage(page, final, m_c.bases, renderer, &loaded.log);
        loaded.data = std::move(page.analysisData);
        return loaded;
    }

    template <class Extend>
    void extend(const Table &history, int sameSide, AnalysisStep load, AnalysisStep name, Extend &&extension,
                std::future<LoadedPage> *loaded) {
        StepLog *log = &m_run.log;
        const auto target = extensionTarget(history, sameSide, log);
        if (!target)
            return;
        m_s.currentMatchId = target->first;
        m_s.sideIndex = target->second;
        step(load, [&] {
            LoadedPage page = loaded ? loaded->get() : loadExtension(m_c.web, m_c.renderer, m_s.currentMatchId);
            m_s.analysisData = std::move(page.data);
            log->entries.append(page.log.entries);
        });
        step(name, extension);
    }

    AnalysisState &m_s;
    const AnalysisContext &m_c;
    SimilarRun m_run;
    std::vector<std::unique_ptr<MarkingWeb>> m_marked;
    Value m_id;
    bool m_noInfoLine = false;
};

} // namespace

QString similarMatchCaption(const Table &similarMatches, int row, const Value &kickOff) {
    using namespace similar;
    const auto S = [&](int c) { return similarMatches.at(c, row).text(); };
    return S(League).left(4) + u' ' + timeText(kickOff) + u' ' + S(HomeTeam).left(5) + S(FullTimeHome) + u'-'
           + S(FullTimeAway) + u' ' + S(AwayTeam).left(5);
}

SimilarRun analyzeSimilarRow(AnalysisState &s, const Value &rowKey, const AnalysisContext &context) {
    return SimilarPipeline(s, context).run(rowKey);
}

} // namespace chenglan
