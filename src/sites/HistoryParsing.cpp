#include "sites/HistoryParsing.h"

#include "base/TextRules.h"

#include <cmath>

namespace chenglan {

namespace history {

QStringList records(const QString &list) {
    QStringList parts = list.split(u'|');
    parts.removeLast();
    if (parts.size() > MaxRecords)
        parts.resize(MaxRecords);
    return parts;
}

double fieldNumber(const QString &field) { return text::leadingNumberSkippingSpace(field); }

QStringList fields(const QString &record) { return record.isEmpty() ? QStringList() : record.split(u','); }

const QString &field(const QStringList &fields, int index) {
    if (index < 0 || index >= fields.size())
        throw StepFailure(QStringLiteral("record has no field %1 (%2 fields)").arg(index).arg(fields.size()));
    return fields[index];
}

} // namespace history

namespace {

using namespace history;

double cellNumber(const Value &v) { return v.isText() ? fieldNumber(*v.asText()) : v.number(); }

// One team's table. sameSideIdColumn is the column that holds the team's
// id when it played on the side it plays in the analysed match.
void parseHistory(const AnalysisState &s, int element, const Value &teamId, int sameSideIdColumn, Table &table,
                  StepLog *log) {
    QStringList recs;
    attempt([&] { recs = records(s.analysisData.at(element).text()); }, log);
    table = Table(Columns, int(recs.size()));
    const double id = teamId.number();
    bool shortNamed = false;
    for (int i = 0; i < recs.size(); ++i) {
        const QStringList fields = history::fields(recs[i]);
        if (fields.size() < RecordFields && log && !shortNamed) {
            // Said once per list: a changed record layout shortens them all.
            shortNamed = true;
            log->add(FailureKind::Layout,
                     QStringLiteral("analysis site, analysis page of match %1: %2 history record %3 has %4 "
                                    "fields, the parser reads %5")
                         .arg(s.currentMatchId.text(), element == analysisdata::HomeList ? QStringLiteral("home") : QStringLiteral("away"))
                         .arg(i + 1)
                         .arg(fields.size())
                         .arg(RecordFields));
        }
        for (int j = 0; j < RecordFields && j < fields.size(); ++j)
            table.set(j, i, Value(fields[j]));

        bool atHome = false;
        attempt([&] { atHome = fieldNumber(field(fields, HomeIdColumn)) == id; }, log);
        if (atHome) {
            attempt([&] { table.set(OwnGoalsColumn, i, Value(fieldNumber(field(fields, HomeGoalsColumn)))); }, log);
            attempt([&] { table.set(ConcededColumn, i, Value(fieldNumber(field(fields, AwayGoalsColumn)))); }, log);
            if (sameSideIdColumn == HomeIdColumn)
                table.set(SameSideColumn, i, Value::fromInt16(SameSideMark));
        }
        bool away = false;
        attempt([&] { away = fieldNumber(field(fields, AwayIdColumn)) == id; }, log);
        if (away) {
            attempt([&] { table.set(OwnGoalsColumn, i, Value(fieldNumber(field(fields, AwayGoalsColumn)))); }, log);
            attempt([&] { table.set(ConcededColumn, i, Value(fieldNumber(field(fields, HomeGoalsColumn)))); }, log);
            if (sameSideIdColumn == AwayIdColumn)
                table.set(SameSideColumn, i, Value::fromInt16(SameSideMark));
        }
        table.set(ScoreColumn, i, ResultScore(table.at(OwnGoalsColumn, i), table.at(ConcededColumn, i)));
    }
}

} // namespace

Value ResultScore(const Value &own, const Value &conceded) {
    const double scored = cellNumber(own);
    const double against = cellNumber(conceded);
    const double d = scored - against;
    const double total = scored + against;
    if (d > 4)
        return Value(2.25);
    if (d < -4)
        return Value(-2.25);
    if (d != std::floor(d))
        return {};
    // Half a point per goal of margin; a quarter more when the losing side
    // scored (or, in a draw, when anybody did).
    const bool shutOut = total == std::fabs(d);
    const double base = d / 2;
    if (shutOut)
        return Value(base);
    return Value(d >= 0 ? base + 0.25 : base - 0.25);
}

void parseTeamHistories(AnalysisState &s, StepLog *log) {
    parseHistory(s, analysisdata::HomeList, s.homeTeamId, HomeIdColumn, s.homeHistory, log);
    parseHistory(s, analysisdata::AwayList, s.awayTeamId, AwayIdColumn, s.awayHistory, log);
}

} // namespace chenglan
