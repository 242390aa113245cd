#include "model/GridFormats.h"
#include "model/MatchListGrid.h"

#include <gtest/gtest.h>

using namespace chenglan;

TEST(HexColorToRgb, ReadsRedGreenBlueWithRedInTheLowestByte) {
    EXPECT_EQ(HexColorToRgb(u"#009900"_qs), 39168);
    EXPECT_EQ(HexColorToRgb(u"#ff0000"_qs), 255);
    EXPECT_EQ(HexColorToRgb(u"#0000FF"_qs), 16711680);
    EXPECT_EQ(HexColorToRgb(u"#FFFFFF"_qs), WhiteColor);
}

TEST(HexColorToRgb, CleansTheTextBeforeReading) {
    EXPECT_EQ(HexColorToRgb(QString()), 0);
    EXPECT_EQ(HexColorToRgb(u"'#009900'"_qs), 39168);
    EXPECT_EQ(HexColorToRgb(u"  #ff0000  "_qs), 255);
    EXPECT_EQ(HexColorToRgb(u"#ff000099"_qs), 255) << "only the first six digits count";
    EXPECT_EQ(HexColorToRgb(u"#0099"_qs), 39168) << "blue never reached counts as 0";
    EXPECT_EQ(HexColorToRgb(u"##"_qs), 0);
}

TEST(HexColorToRgb, FailsOnTextThatIsNotHexadecimal) {
    for (const char16_t *bad : {u"#00990", u"#0", u"#abc", u"#GG0000", u"#00 900", u"#-10000", u"英超"})
        EXPECT_THROW(HexColorToRgb(QString::fromUtf16(bad)), StepFailure) << QString::fromUtf16(bad).toStdString();
}

namespace {

void setRow(Table &t, int row, const QStringList &fields) {
    for (int f = 0; f < fields.size(); ++f)
        if (!fields[f].isNull())
            t.set(f, row, Value(fields[f]));
}

ScheduleState threeMatches() {
    ScheduleState s;
    s.matchTable = Table(21, 4);
    s.matchRowFlags = ValueArray(4);
    //                 0     1           2                 3              4        5                 6      7                 8       9       10
    setRow(s.matchTable, 0, {u"1"_qs, u"#009900"_qs, u"英格兰超级联赛"_qs, u"10-09 15:30"_qs, QString(), u"曼联足球俱乐部"_qs,
                             u"2-1"_qs, u"利物浦足球俱乐部"_qs, u"0.95"_qs, u"半球"_qs, u"0.85"_qs});
    setRow(s.matchTable, 1, {u"2"_qs, u"#ff0000"_qs, u"德甲"_qs, u"10-09 20:00"_qs});
    setRow(s.matchTable, 2, {u"3"_qs, u"#zz0000"_qs, u"法甲"_qs, u"10-09 21:00"_qs, u" (-1)"_qs, u"巴黎"_qs, QString(),
                             u"马赛"_qs, u"1.01"_qs, u"平手"_qs, u"0.80"_qs});
    setRow(s.matchTable, 3, {u"4"_qs, u"#0000ff"_qs, u"意甲"_qs});
    s.matchRowFlags.set(0, Value::fromInt16(1));
    s.matchRowFlags.set(1, Value::fromInt16(0));
    s.matchRowFlags.set(2, Value(1.0));
    // Row 3 has no flag at all.
    return s;
}

} // namespace

TEST(FillMatchList, ListsFlaggedRowsWithoutGapsAndKeepsTheirTableRow) {
    GridData grid = newMatchListGrid();
    fillMatchList(grid, threeMatches());

    ASSERT_EQ(grid.rows(), 3);
    EXPECT_EQ(grid.dataLines(),
              QStringList({u"英格兰\t10-09 15:30\t曼联足球\t利物浦足\t0.95\t半球\t0.85\t2-1\t\t0\t\t\t\t\t"_qs,
                           u"法甲\t10-09 21:00\t巴黎\t马赛\t1.01\t平手 (-1)\t0.80\t\t\t2\t\t\t\t\t"_qs}));
    EXPECT_EQ(grid.text(1, MatchListKeyColumn), u"0"_qs);
    EXPECT_EQ(grid.text(2, MatchListKeyColumn), u"2"_qs);
}

TEST(FillMatchList, PaintsTheLeagueCellAndKeepsTheDefaultForAnUnreadableColour) {
    GridData grid = newMatchListGrid();
    StepLog log;
    fillMatchList(grid, threeMatches(), &log);

    EXPECT_EQ(grid.cell(1, 0).backColor, 39168);
    EXPECT_EQ(grid.cell(1, 0).foreColor, WhiteColor);
    EXPECT_EQ(grid.row(1).heightTwips, MatchListRowTwips);
    EXPECT_FALSE(grid.cell(1, 1).backColor.has_value());

    EXPECT_FALSE(grid.cell(2, 0).backColor.has_value()) << "#zz0000 cannot be read";
    EXPECT_EQ(grid.cell(2, 0).foreColor, WhiteColor) << "the text colour is still set";
    EXPECT_EQ(grid.row(2).heightTwips, MatchListRowTwips);
    EXPECT_EQ(log.entries.size(), 1) << "only the bad colour is a skipped statement";
}

TEST(FillMatchList, ReplacesThePreviousListAndListsNothingWithoutATable) {
    GridData grid = newMatchListGrid();
    fillMatchList(grid, threeMatches());
    const GridData once = grid;
    fillMatchList(grid, threeMatches());
    EXPECT_EQ(grid, once);

    fillMatchList(grid, ScheduleState{});
    EXPECT_EQ(grid.rows(), 1);
    EXPECT_EQ(grid.text(0, 0), u"联赛 "_qs) << "the captions stay";
}

TEST(GridFormats, MatchListCaptionsWidthsAndAlignment) {
    const GridData grid = newMatchListGrid();
    EXPECT_EQ(grid.columns(), MatchListColumns);
    const QStringList captions{u"联赛 "_qs, u"时间 "_qs, u"主队 "_qs, u"客队 "_qs, u"主水 "_qs,
                               u"盘口 "_qs, u"客水 "_qs, u"比分 "_qs};
    for (int c = 0; c < MatchListColumns; ++c)
        EXPECT_EQ(grid.text(0, c), c < captions.size() ? captions[c] : QString()) << c;
    const int widths[] = {800, 600, 1000, 1000, 600, 1000, 600, 600, 600, 600, 600};
    for (int c = 0; c <= 10; ++c) {
        EXPECT_EQ(grid.columnWidth(c), widths[c]) << c;
        EXPECT_EQ(grid.columnAlignment(c), GridData::Center) << c;
    }
    for (int c = 11; c < MatchListColumns; ++c)
        EXPECT_FALSE(grid.columnWidth(c).has_value()) << c;
}

TEST(GridFormats, SimilarListCaptionsAndWidths) {
    const GridData grid = newSimilarListGrid();
    EXPECT_EQ(grid.columns(), SimilarListColumns);
    EXPECT_EQ(grid.text(0, 2), u"球队 "_qs);
    EXPECT_EQ(grid.text(0, 4), u"实力Ⅰ "_qs);
    EXPECT_EQ(grid.text(0, 10), u"半全场 "_qs);
    EXPECT_EQ(grid.text(0, 11), QString());
    const int widths[] = {900, 1000, 1400, 1200};
    for (int c = 0; c < SimilarListColumns; ++c)
        EXPECT_EQ(grid.columnWidth(c), c < 4 ? widths[c] : 700) << c;
}
