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
    attempt([&] {
        const int last = history.lastRow();
        const bool same = history.at(history::SameSideColumn, last).equals(2);
        target = ExtensionTarget{history.at(history::MatchIdColumn, last),
                                 Value::fromInt16(std::int16_t(same ? sameSide : 1 - sameSide))};
    }, log);
    return target;
}

QString timeText(const Value &when) {
    return when.isDate() ? text::displayDateTime(*when.asDate()) : when.text();
}

class Pipeline {
public:
    Pipeline(AnalysisState &s, const AnalysisContext &context) : m_s(s), m_c(context) {}

    AnalysisRun run(const ScheduleState *schedule, const Value &rowKey, const Value &matchId) {
        startAnalysis(schedule, rowKey, matchId);
        const qsizetype logBefore = m_run.log.entries.size();
        step(QStringLiteral("SJBM"), false, [&] {
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
                pageFailure = e.kind == FailureKind::SiteError ? QStringLiteral("网站出错（%1）").arg(e.message)
                                                                : e.message;
            }
        }
        step(QStringLiteral("info"), true, [&] { readInfoLine(); });
        step(QStringLiteral("SSSS"), true, [&] { parseTeamHistories(m_s, &m_run.log); });
        extend();
        step(QStringLiteral("SRMA"), true, [&] { computeStrengthTrends(m_s, &m_run.log); });
        step(QStringLiteral("LXYC"), true, [&] { patternCodes(m_s, &m_run.log); });
        if (schedule) {
            step(QStringLiteral("caption"), false, [&] { setCaption(*schedule); });
        }

        m_run.pageRead = pageFailure.isEmpty() && !m_noInfoLine;
        m_run.hasTrend = m_s.trendSeries.allocated() && m_s.trendSeries.rows() > 0;
        m_run.ok = !m_rowMissing && m_run.pageRead && m_run.hasTrend;
        if (m_rowMissing)
            m_run.status = QStringLiteral("赛程中没有第%1行").arg(rowKey.text());
        else if (!pageFailure.isEmpty())
            m_run.status = QStringLiteral("分析页面读取失败：%1").arg(pageFailure);
        else if (m_noInfoLine)
            m_run.status = layoutFailure.isEmpty()
                               ? QStringLiteral("分析页面没有比赛数据（比赛编号 %1）").arg(m_s.listMatchId.text())
                               : QStringLiteral("分析页面没有比赛数据（比赛编号 %1；%2）")
                                     .arg(m_s.listMatchId.text(), layoutFailure);
        else if (!m_run.hasTrend)
            m_run.status = trendShortfall(m_s);
        else if (!m_extensionFailure.isEmpty())
            m_run.status = QStringLiteral("分析完成；历史扩展页面读取失败（%1），趋势只用了较短的历史").arg(m_extensionFailure);
        else
            m_run.status = QStringLiteral("分析完成");
        return std::move(m_run);
    }

private:
    template <class F>
    void step(const QString &name, bool model, F &&body) {
        if (m_c.progress)
            m_c.progress(name);
        QElapsedTimer clock;
        clock.start();
        body();
        const qint64 ns = clock.nsecsElapsed();
        m_run.steps.append({name, ns});
        if (model)
            m_run.modelNs += ns;
    }

    // A new analysis starts from nothing: no value of the previous match may
    // stand in for one that this run fails to read.
    void startAnalysis(const ScheduleState *schedule, const Value &rowKey, const Value &matchId) {
        m_s.listRowKey = rowKey;
        m_s.listMatchId = Value();
        if (schedule)
            m_rowMissing = !attempt([&] { m_s.listMatchId = schedule->matchTable.at(0, rowKey.toInt16()); },
                                    &m_run.log);
        else
            m_s.listMatchId = matchId;
        m_s.currentMatchId = m_s.listMatchId;
        m_s.analysisMode = Value::fromInt16(0);
        m_s.listHandicapLoaded = Value::fromInt16(0);
        m_s.strengthSummary = ValueArray(8);
        m_s.handicapSummary = Table(8, 2);
        m_s.homeTeamId = m_s.awayTeamId = Value();
        m_s.homeTeamName = m_s.awayTeamName = Value();
        m_s.listMatchTime = m_s.matchDate = Value();
        m_s.listMatchCaption = m_s.chartCaption = Value();
    }

    void readInfoLine() {
        StepLog *log = &m_run.log;
        const InfoLine info = InfoLine::read(m_s.analysisData, log);
        m_noInfoLine = info.isEmpty();
        attempt([&] { m_s.homeTeamId = Value(history::fieldNumber(info.item(0))); }, log);
        attempt([&] { m_s.awayTeamId = Value(history::fieldNumber(info.item(1))); }, log);
        attempt([&] { m_s.homeTeamName = Value(info.item(2)); }, log);
        attempt([&] { m_s.awayTeamName = Value(info.item(3)); }, log);
        attempt([&] { m_s.listMatchTime = Value(Value(info.item(4)).toDate()); }, log);
        m_s.matchDate = m_s.listMatchTime;
    }

    // Both extension pages depend only on the first page's histories, so they
    // can be loaded at the same time; they are applied in the fixed order,
    // home then away, so the state is the same as when loaded one by one.
    void extend() {
        const auto home = extensionTarget(m_s.homeHistory, 0, &m_run.log);
        const auto away = extensionTarget(m_s.awayHistory, 1, &m_run.log);

        std::future<ValueArray> awayPage;
        StepLog awayLog;
        PageTimes awayTimes;
        const bool sideBySide = home && away && m_c.secondWeb;
        std::optional<ValueArray> homePage;
        if (sideBySide) {
            step(QStringLiteral("SJBM extensions"), false, [&] {
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
                step(QStringLiteral("SJBM home"), false, [&] { homePage = loadPage(home->matchId); });
            m_s.analysisData = *homePage;
            step(QStringLiteral("SSZD"), true, [&] { extendHomeHistory(m_s, &m_run.log); });
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
                step(QStringLiteral("SJBM away"), false, [&] { m_s.analysisData = loadPage(away->matchId); });
            }
            step(QStringLiteral("SSKD"), true, [&] { extendAwayHistory(m_s, &m_run.log); });
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
        attempt([&] {
            const Table &t = schedule.matchTable;
            const int row = m_s.listRowKey.toInt16();
            const QString home = t.at(5, row).text();
            if (home.size() < 2)
                throw StepFailure(QStringLiteral("home team text \"%1\" is shorter than 2 characters").arg(home));
            m_s.listMatchCaption = Value(t.at(2, row).text().left(4) + u' ' + timeText(m_s.listMatchTime) + u' ' +
                                         home.left(home.size() - 2) + t.at(6, row).text() + u' ' +
                                         t.at(7, row).text().left(5));
        }, &m_run.log);
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
        {QStringLiteral("StrengthSummary"), toJson(s.strengthSummary)},
        {QStringLiteral("PatternCode20"), toJson(s.patternCode20)},
        {QStringLiteral("PatternCode10"), toJson(s.patternCode10)},
        {QStringLiteral("ListMatchCaption"), toJson(s.listMatchCaption)},
        {QStringLiteral("StepTimes"), steps},
        {QStringLiteral("Status"), run.status},
    };
}

} // namespace chenglan
