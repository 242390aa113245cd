#include "usecases/ListAnalysis.h"

#include "sites/HistoryExtension.h"
#include "sites/HistoryParsing.h"
#include "sites/InfoLine.h"
#include "sites/PageFinality.h"
#include "net/PageCache.h"
#include "model/PatternCodes.h"
#include "base/TextRules.h"
#include "base/ValueJson.h"
#include "model/StrengthModel.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include <future>
#include <optional>

namespace chenglan {

namespace {

// The page of a team's oldest listed match and the list of that page that
// holds the team's history.
struct ExtensionTarget {
    Value matchId;
    Value side;
};

// Column 15 of the table's last row, and the side: sameSide when the team
// played that match on the side it plays now (column 28 is 2), else the other.
// A table without rows has nothing to extend: no page is loaded for it.
std::optional<ExtensionTarget> extensionTarget(const Table &history, int sameSide, StepLog *log) {
    std::optional<ExtensionTarget> target;
    attempt(
        [&] {
            const int last = history.lastRow();
            const bool same = history.at(history::SameSideColumn, last).equals(history::SameSideMark);
            target = ExtensionTarget{history.at(history::MatchIdColumn, last),
                                     Value::fromInt16(std::int16_t(same ? sameSide : 1 - sameSide))};
        },
        log);
    return target;
}

QString timeText(const Value &when) { return when.isDate() ? text::displayDateTime(*when.asDate()) : when.text(); }

class Pipeline {
public:
    Pipeline(AnalysisState &s, const AnalysisContext &context) : m_s(s), m_c(context) {}

    AnalysisRun run(const ScheduleState *schedule, const Value &rowKey, const Value &matchId) {
        startAnalysis(schedule, rowKey, matchId);
        const qsizetype logBefore = m_run.log.entries.size();
        step(AnalysisStep::LoadPage, false, [&] {
            // A listed match finished a day ago has a page that no longer
            // changes; any other is fetched every time.
            bool settled = false;
            if (schedule && !m_rowMissing)
                attempt([&] { settled = listedAnalysisPageSettled(schedule->matchTable, rowKey.toInt16()); });
            MarkingWeb final(m_c.web, MarkingWeb::Mark::Final);
            m_s.analysisData = analysispage::load(settled ? static_cast<Web &>(final) : m_c.web, m_c.bases,
                                                  m_c.renderer, m_s.currentMatchId, &m_run.log, &m_run.pages);
        });
        bool pageCame = true;
        for (qsizetype i = logBefore; i < m_run.log.entries.size(); ++i)
            if (m_run.log.entries[i].kind == FailureKind::Network || m_run.log.entries[i].kind == FailureKind::SiteError
                || m_run.log.entries[i].kind == FailureKind::Cancelled)
                pageCame = false;
        if (pageCame)
            analysispage::noteMissingHistory(m_s.analysisData, m_s.currentMatchId, &m_run.log);
        // A page that came in another layout is told apart from one that did
        // not come: the status then names the marker that went missing.
        QString pageFailure;
        QString layoutFailure;
        for (qsizetype i = logBefore; i < m_run.log.entries.size(); ++i) {
            const StepLog::Entry &e = m_run.log.entries[i];
            if (e.kind == FailureKind::Layout) {
                if (layoutFailure.isEmpty())
                    layoutFailure = e.message;
            } else if (e.kind != FailureKind::Data && pageFailure.isEmpty()) {
                pageFailure =
                    e.kind == FailureKind::Network ? QStringLiteral("连不上分析网站") : QStringLiteral("分析网站出错");
            }
        }
        step(AnalysisStep::ReadInfo, true, [&] { readInfoLine(); });
        step(AnalysisStep::ParseHistories, true, [&] { parseTeamHistories(m_s, &m_run.log); });
        extend();
        step(AnalysisStep::ComputeTrends, true, [&] { computeStrengthTrends(m_s, &m_run.log); });
        step(AnalysisStep::PatternCodes, true, [&] { patternCodes(m_s, &m_run.log); });
        if (schedule) {
            step(AnalysisStep::Caption, false, [&] { setCaption(*schedule); });
        }

        m_run.pageRead = pageFailure.isEmpty() && !m_noInfoLine;
        m_run.hasTrend = m_s.trendSeries.allocated() && m_s.trendSeries.rows() > 0;
        m_run.trendFitted = trendFitted(m_s);
        m_run.ok = !m_rowMissing && m_run.pageRead && m_run.hasTrend;
        if (m_rowMissing)
            m_run.status = QStringLiteral("赛程中没有第%1行").arg(rowKey.text());
        else if (!pageFailure.isEmpty())
            m_run.status = QStringLiteral("分析页面读取失败：%1").arg(pageFailure);
        else if (m_noInfoLine)
            m_run.status =
                layoutFailure.isEmpty()
                    ? QStringLiteral("分析页面没有比赛数据（比赛编号 %1）").arg(m_s.listMatchId.text())
                    : QStringLiteral("分析页面没有比赛数据（比赛编号 %1，页面格式变了）").arg(m_s.listMatchId.text());
        else if (!m_run.trendFitted)
            m_run.status = trendShortfall(m_s);
        else if (!m_extensionFailure.isEmpty())
            m_run.status = QStringLiteral("分析完成；历史扩展页面读取失败，趋势只用了较短的历史");
        else
            m_run.status = QStringLiteral("分析完成");
        return std::move(m_run);
    }

private:
    template <class F>
    void step(AnalysisStep name, bool model, F &&body) {
        if (m_c.progress)
            m_c.progress(name);
        QElapsedTimer clock;
        clock.start();
        body();
        const qint64 ns = clock.nsecsElapsed();
        m_run.steps.append({stepLabel(name), ns});
        if (model)
            m_run.modelNs += ns;
    }

    // A new analysis starts from nothing: no value of the previous match may
    // stand in for one that this run fails to read.
    void startAnalysis(const ScheduleState *schedule, const Value &rowKey, const Value &matchId) {
        m_s.listRowKey = rowKey;
        m_s.listMatchId = Value();
        if (schedule)
            m_rowMissing =
                !attempt([&] { m_s.listMatchId = schedule->matchTable.at(matchtable::MatchIdField, rowKey.toInt16()); },
                         &m_run.log);
        else
            m_s.listMatchId = matchId;
        m_s.currentMatchId = m_s.listMatchId;
        m_s.analysisMode = AnalysisMode::ListMatch;
        m_s.listHandicapLoaded = Value::fromInt16(0);
        m_s.profile.strengths = ValueArray(strength::Count);
        m_s.handicapSummary = Table(HandicapItems, HandicapMatches);
        m_s.homeTeamId = m_s.awayTeamId = Value();
        m_s.homeTeamName = m_s.awayTeamName = Value();
        m_s.listMatchTime = m_s.matchDate = Value();
        m_s.listMatchCaption = m_s.chartCaption = Value();
    }

    // Every value set here was emptied by startAnalysis, so an item that
    // cannot be read leaves its value empty.
    void readInfoLine() {
        const InfoLineValues info = chenglan::readInfoLine(m_s.analysisData, true, &m_run.log);
        m_noInfoLine = info.lineMissing;
        m_s.homeTeamId = info.homeTeamId;
        m_s.awayTeamId = info.awayTeamId;
        m_s.homeTeamName = info.homeTeamName;
        m_s.awayTeamName = info.awayTeamName;
        m_s.listMatchTime = info.kickOff;
        m_s.matchDate = m_s.listMatchTime;
    }

    // Both extension pages depend only on the first page's histories, so they
    // can be loaded at the same time; they are applied in the fixed order,
    // home then away, so the state is the same as when loaded one by one.
    void extend() {
        const auto home = extensionTarget(m_s.homeHistory, analysisdata::HomeList, &m_run.log);
        const auto away = extensionTarget(m_s.awayHistory, analysisdata::AwayList, &m_run.log);

        std::future<ValueArray> awayPage;
        StepLog awayLog;
        PageTimes awayTimes;
        const bool sideBySide = home && away && m_c.secondWeb;
        std::optional<ValueArray> homePage;
        if (sideBySide) {
            step(AnalysisStep::LoadExtensions, false, [&] {
                const PageRenderer awayRenderer(m_c.renderer.limits());
                awayPage = std::async(std::launch::async, [&, awayRenderer] {
                    MarkingWeb final(*m_c.secondWeb, MarkingWeb::Mark::Final);
                    return analysispage::load(final, m_c.bases, awayRenderer, away->matchId, &awayLog, &awayTimes);
                });
                homePage = loadPage(home->matchId);
                awayPage.wait();
            });
        }

        if (home) {
            m_s.currentMatchId = home->matchId;
            m_s.sideIndex = home->side;
            if (!homePage)
                step(AnalysisStep::LoadHomeExtension, false, [&] { homePage = loadPage(home->matchId); });
            m_s.analysisData = *homePage;
            step(AnalysisStep::ExtendHome, true, [&] { extendHomeHistory(m_s, &m_run.log); });
        }
        if (away) {
            m_s.currentMatchId = away->matchId;
            m_s.sideIndex = away->side;
            if (sideBySide) {
                m_s.analysisData = awayPage.get();
                m_run.log.entries.append(awayLog.entries);
                m_run.pages.fetchNs += awayTimes.fetchNs;
                m_run.pages.renderNs += awayTimes.renderNs;
                noteExtensionFailure(awayLog, 0);
            } else {
                step(AnalysisStep::LoadAwayExtension, false, [&] { m_s.analysisData = loadPage(away->matchId); });
            }
            step(AnalysisStep::ExtendAway, true, [&] { extendAwayHistory(m_s, &m_run.log); });
        }
    }

    // An extension page is the page of a match listed in a history: played
    // long ago, so it never changes.
    ValueArray loadPage(const Value &matchId) {
        const qsizetype before = m_run.log.entries.size();
        MarkingWeb final(m_c.web, MarkingWeb::Mark::Final);
        ValueArray page = analysispage::load(final, m_c.bases, m_c.renderer, matchId, &m_run.log, &m_run.pages);
        noteExtensionFailure(m_run.log, before);
        return page;
    }

    // The first failure that kept an extension page from being read.
    void noteExtensionFailure(const StepLog &log, qsizetype from) {
        for (qsizetype i = from; i < log.entries.size(); ++i)
            if (log.entries[i].kind != FailureKind::Data && m_extensionFailure.isEmpty())
                m_extensionFailure = log.entries[i].message;
    }

    void setCaption(const ScheduleState &schedule) {
        attempt(
            [&] {
                using namespace matchtable;
                const Table &t = schedule.matchTable;
                const int row = m_s.listRowKey.toInt16();
                const QString home = t.at(HomeTeamField, row).text();
                if (home.size() < 2)
                    throw StepFailure(QStringLiteral("home team text \"%1\" is shorter than 2 characters").arg(home));
                m_s.listMatchCaption = Value(t.at(LeagueField, row).text().left(4) + u' ' + timeText(m_s.listMatchTime)
                                             + u' ' + home.left(home.size() - 2) + t.at(ScoreField, row).text() + u' '
                                             + t.at(AwayTeamField, row).text().left(5));
            },
            &m_run.log);
        m_s.chartCaption = m_s.listMatchCaption;
    }

    AnalysisState &m_s;
    const AnalysisContext &m_c;
    AnalysisRun m_run;
    QString m_extensionFailure;
    bool m_rowMissing = false;
    bool m_noInfoLine = false;
};

} // namespace

AnalysisRun analyzeListRow(AnalysisState &s, const ScheduleState &schedule, const Value &rowKey,
                           const AnalysisContext &context) {
    return Pipeline(s, context).run(&schedule, rowKey, Value());
}

AnalysisRun analyzeMatchId(AnalysisState &s, const Value &matchId, const AnalysisContext &context) {
    return Pipeline(s, context).run(nullptr, Value(), matchId);
}

QJsonObject analysisJson(const AnalysisState &s, const AnalysisRun &run) {
    QJsonArray steps;
    for (const AnalysisRun::StepTime &t : run.steps)
        steps.append(QJsonObject{{QStringLiteral("step"), t.step}, {QStringLiteral("ms"), double(t.ns) / 1e6}});
    return QJsonObject{
        {QStringLiteral("ListRowKey"), toJson(s.listRowKey)},
        {QStringLiteral("ListMatchId"), toJson(s.listMatchId)},
        {QStringLiteral("AnalysisData"), toJson(s.analysisData)},
        {QStringLiteral("HomeTeamId"), toJson(s.homeTeamId)},
        {QStringLiteral("AwayTeamId"), toJson(s.awayTeamId)},
        {QStringLiteral("HomeTeamName"), toJson(s.homeTeamName)},
        {QStringLiteral("AwayTeamName"), toJson(s.awayTeamName)},
        {QStringLiteral("ListMatchTime"), toJson(s.listMatchTime)},
        {QStringLiteral("MatchDate"), toJson(s.matchDate)},
        {QStringLiteral("HomeHistory"), toJson(s.homeHistory)},
        {QStringLiteral("AwayHistory"), toJson(s.awayHistory)},
        {QStringLiteral("TrendSeries"), toJson(s.trendSeries)},
        {QStringLiteral("StrengthSummary"), toJson(s.profile.strengths)},
        {QStringLiteral("PatternCode20"), toJson(s.profile.code20)},
        {QStringLiteral("PatternCode10"), toJson(s.profile.code10)},
        {QStringLiteral("ListMatchCaption"), toJson(s.listMatchCaption)},
        {QStringLiteral("StepTimes"), steps},
        {QStringLiteral("Status"), run.status},
    };
}

} // namespace chenglan
