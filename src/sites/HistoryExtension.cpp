#include "sites/HistoryExtension.h"

#include "sites/HistoryParsing.h"

namespace chenglan {

namespace {

using namespace history;

// How a failing statement is treated: skipped (the convention of every other
// step), or ending the whole extension.
class Runner {
public:
    Runner(bool stopAtFirstFailure, StepLog *log) : m_stop(stopAtFirstFailure), m_log(log) {}
    template <class F>
    void operator()(F &&statement) {
        if (m_stop)
            statement();
        else
            attempt(std::forward<F>(statement), m_log);
    }

private:
    bool m_stop;
    StepLog *m_log;
};

void extend(AnalysisState &s, Table &table, const Value &teamId, int sameSideIdColumn, Runner run) {
    QStringList recs;
    int u = -1;
    run([&] { recs = records(s.analysisData.at(s.sideIndex.toInt16()).text()); });
    run([&] {
        if (!table.allocated())
            throw StepFailure(QStringLiteral("history table not allocated"));
        u = table.rows() - 1;
    });
    if (!table.allocated())
        return;
    table.resizeRows(u + 1 + int(recs.size()));
    const double id = teamId.number();
    for (int i = 0; i < recs.size(); ++i) {
        const int row = u + 1 + i;
        const QStringList fields = history::fields(recs[i]);
        for (int j = 0; j < fields.size(); ++j)
            run([&] { table.set(j, row, Value(fields[j])); });

        bool atHome = false;
        run([&] { atHome = fieldNumber(field(fields, HomeIdColumn)) == id; });
        if (atHome) {
            run([&] { table.set(OwnGoalsColumn, row, Value(fieldNumber(field(fields, HomeGoalsColumn)))); });
            run([&] { table.set(ConcededColumn, row, Value(fieldNumber(field(fields, AwayGoalsColumn)))); });
            if (sameSideIdColumn == HomeIdColumn)
                table.set(SameSideColumn, row, Value::fromInt16(SameSideMark));
        }
        bool away = false;
        run([&] { away = fieldNumber(field(fields, AwayIdColumn)) == id; });
        if (away) {
            run([&] { table.set(OwnGoalsColumn, row, Value(fieldNumber(field(fields, AwayGoalsColumn)))); });
            run([&] { table.set(ConcededColumn, row, Value(fieldNumber(field(fields, HomeGoalsColumn)))); });
            if (sameSideIdColumn == AwayIdColumn)
                table.set(SameSideColumn, row, Value::fromInt16(SameSideMark));
        }
        table.set(ScoreColumn, row, ResultScore(table.at(OwnGoalsColumn, row), table.at(ConcededColumn, row)));
    }
}

} // namespace

void extendHomeHistory(AnalysisState &s, StepLog *log) { extend(s, s.homeHistory, s.homeTeamId, HomeIdColumn, Runner(false, log)); }

void extendAwayHistory(AnalysisState &s, StepLog *log) {
    try {
        extend(s, s.awayHistory, s.awayTeamId, AwayIdColumn, Runner(true, log));
    } catch (const StepFailure &failure) {
        if (failure.kind() == FailureKind::Cancelled)
            throw;
        if (log)
            log->add(failure.kind(), QStringLiteral("extendAwayHistory stopped: %1").arg(failure.message()));
    }
}

} // namespace chenglan
