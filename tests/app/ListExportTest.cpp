#include "app/ListExport.h"

#include <gtest/gtest.h>

using namespace chenglan;

namespace {

// A grid as the window's lists are: captioned columns, an uncaptioned spare
// column and the row key, and names holding what CSV and TSV must escape.
GridData namesGrid() {
    GridData grid(5);
    grid.setFormat(QStringLiteral("联赛 |球队 |盘口 | |"));
    grid.addItem(QStringLiteral("英超\t布莱顿,霍夫\t平手\t\t0"));
    grid.addItem(QStringLiteral("德甲\t\"红牛\"莱比锡\t半球\t\t1"));
    grid.addItem(QStringLiteral("意甲\t米兰\t一球\t\t2"));
    return grid;
}

} // namespace

TEST(ListExport, CsvQuotesCommasAndQuotesAndLeadsWithTheByteOrderMark) {
    const QByteArray csv = gridAsCsv(namesGrid());
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(QString::fromUtf8(csv.mid(3)), QStringLiteral("联赛,球队,盘口\r\n"
                                                            "英超,\"布莱顿,霍夫\",平手\r\n"
                                                            "德甲,\"\"\"红牛\"\"莱比锡\",半球\r\n"
                                                            "意甲,米兰,一球\r\n"));
}

TEST(ListExport, CopiedRowsAreTabSeparatedWithoutTheRowKey) {
    GridData grid = namesGrid();
    EXPECT_EQ(rowsAsTabText(grid, {1, 3}), QStringLiteral("英超\t布莱顿,霍夫\t平手\n意甲\t米兰\t一球\n"));
}
