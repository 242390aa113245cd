#include "model/MatchListGrid.h"

#include "base/TextRules.h"
#include "model/GridFormats.h"

#include <QStringList>

namespace chenglan {

namespace {

int hexDigit(const QString &h, qsizetype position) {
    if (position >= h.size())
        throw StepFailure(QStringLiteral("colour text \"%1\" has an odd number of digits").arg(h));
    const char16_t c = h[position].unicode();
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    throw StepFailure(QStringLiteral("colour text \"%1\" holds \"%2\", not a hexadecimal digit").arg(h, h[position]));
}

QString field(const Table &t, int column, int row) {
    if (!t.allocated() || column >= t.columns() || row < 0 || row >= t.rows())
        return {};
    return t.at(column, row).text();
}

} // namespace

int HexColorToRgb(const QString &color) {
    QString h = color;
    h.remove(u'#');
    h.remove(u'\'');
    h = text::trimBlanks(h).left(6).toUpper();

    int components[3] = {0, 0, 0};
    for (qsizetype p = 0; p < h.size() && p < 6; p += 2)
        components[p / 2] = hexDigit(h, p) * 16 + hexDigit(h, p + 1);
    return components[0] + 256 * components[1] + 65536 * components[2];
}

QString matchListLine(const Table &t, int row) {
    using namespace matchtable;
    const QStringList cells{
        field(t, LeagueField, row).left(3),
        field(t, KickOffField, row),
        field(t, HomeTeamField, row).left(4),
        field(t, AwayTeamField, row).left(4),
        field(t, HomeOddsField, row),
        field(t, HandicapField, row) + field(t, HandicapSuffixField, row),
        field(t, AwayOddsField, row),
        field(t, ScoreField, row),
        QString(),
        QString::number(row),
    };
    return cells.join(u'\t');
}

void fillMatchList(GridData &matchList, const ScheduleState &s, StepLog *log) {
    matchList.setRows(1);
    int r = 1;
    for (int i = 0; i < s.matchTable.rows(); ++i) {
        bool listed = false;
        attempt([&] { listed = s.matchRowFlags.at(i).equals(1); }, log);
        if (!listed)
            continue;
        matchList.addItem(matchListLine(s.matchTable, i));
        attempt([&] { matchList.select(r, matchlist::LeagueColumn); }, log);
        attempt([&] { matchList.setCellBackColor(HexColorToRgb(field(s.matchTable, matchtable::LeagueColourField, i))); }, log);
        attempt([&] { matchList.setCellForeColor(WhiteColor); }, log);
        attempt([&] { matchList.setRowHeight(r, MatchListRowTwips); }, log);
        ++r;
    }
}

} // namespace chenglan
