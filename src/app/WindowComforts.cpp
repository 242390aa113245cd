#include "app/WindowComforts.h"

#include "app/CalendarPopup.h"
#include "app/GridView.h"
#include "app/HelpMenu.h"
#include "app/ListExport.h"
#include "app/MainWindow.h"
#include "app/PictureBox.h"
#include "app/PictureMenu.h"
#include "base/Columns.h"
#include "base/TextRules.h"
#include "model/GridFormats.h"

#include <QCalendarWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

namespace chenglan {

namespace {

// The name a file of the window's contents is offered under: what, and the
// day shown ("比赛列表 2026-12-08").
QString fileName(MainWindow *window, const QString &what) {
    return what + u' ' + window->today().toString(QStringLiteral("yyyy-MM-dd"));
}

// Text of a table cell, empty where the table has none.
QString cellText(const Table &table, int column, int row) {
    if (!table.allocated() || column < 0 || column >= table.columns() || row < 0 || row >= table.rows())
        return {};
    return table.at(column, row).text().trimmed();
}

// The table row a list row stands for (its row key), -1 when none.
int keyedRow(const GridData &grid, int gridRow, int keyColumn) {
    bool ok = false;
    const int row = grid.text(gridRow, keyColumn).toInt(&ok);
    return ok ? row : -1;
}

// The match list cuts league and team names: its tooltips give them whole.
QString matchListToolTip(const MainWindow *window, int gridRow, int column) {
    static const QHash<int, int> fields{{matchlist::LeagueColumn, matchtable::LeagueField},
                                        {matchlist::HomeTeamColumn, matchtable::HomeTeamField},
                                        {matchlist::AwayTeamColumn, matchtable::AwayTeamField}}; // list column -> schedule field
    if (!fields.contains(column))
        return {};
    const int row = keyedRow(window->matchList()->grid(), gridRow, MatchListKeyColumn);
    return cellText(window->schedule().matchTable, fields.value(column), row);
}

// So does the similar list, on both lines of a match.
QString similarListToolTip(const MainWindow *window, int gridRow, int column) {
    const GridData &grid = window->similarList()->grid();
    const int row = keyedRow(grid, gridRow, SimilarListKeyColumn);
    const Table &records = window->state().similarMatches;
    const bool secondLine =
        gridRow > 1 && grid.text(gridRow - 1, SimilarListKeyColumn) == grid.text(gridRow, SimilarListKeyColumn);
    if (column == similarlist::LeagueColumn)
        return cellText(records, similar::League, row);
    if (column == similarlist::TeamColumn && secondLine)
        return cellText(records, similar::AwayTeam, row);
    if (column == similarlist::TeamColumn) {
        const QString home = cellText(records, similar::HomeTeam, row);
        const QString extra = cellText(records, similar::HandicapLine, row);
        return home.isEmpty() ? QString() : home + u'(' + extra + u')';
    }
    return {};
}

// The pictures' captions cut the names as well: the boxes' tooltips name the
// matches they show in full.
void showPictureToolTips(MainWindow *window) {
    const AnalysisState &s = window->state();
    QStringList lines;
    bool ok = false;
    const int listRow = s.listRowKey.text().toInt(&ok);
    const Table &matches = window->schedule().matchTable;
    if (ok && !cellText(matches, matchtable::HomeTeamField, listRow).isEmpty())
        lines << QStringLiteral("%1  %2  %3 对 %4")
                     .arg(cellText(matches, matchtable::LeagueField, listRow),
                          s.listMatchTime.asDate() ? text::displayDateTime(*s.listMatchTime.asDate())
                                                   : s.listMatchTime.text(),
                          cellText(matches, matchtable::HomeTeamField, listRow),
                          cellText(matches, matchtable::AwayTeamField, listRow));
    if (s.analysisMode == AnalysisMode::SimilarMatch) {
        const int row = s.similarRowKey.text().toInt(&ok);
        if (ok && !cellText(s.similarMatches, similar::HomeTeam, row).isEmpty())
            lines << QStringLiteral("相似比赛：%1  %2  %3 对 %4")
                         .arg(cellText(s.similarMatches, similar::League, row),
                              cellText(s.similarMatches, similar::Kickoff, row),
                              cellText(s.similarMatches, similar::HomeTeam, row),
                              cellText(s.similarMatches, similar::AwayTeam, row));
    }
    const QString tip = lines.join(u'\n');
    window->strengthPanel()->setToolTip(tip);
    window->trendBox(0)->setToolTip(tip);
    window->trendBox(1)->setToolTip(tip);
    // The summary line is cut where the window is narrower than the design.
    if (auto *summary = window->findChild<QLabel *>(QStringLiteral("SimilarSummary")))
        summary->setToolTip(summary->text());
}

// Ctrl+C and a context menu with 复制 and 导出… on a list.
void addListCommands(MainWindow *window, GridView *list, const QString &what) {
    QObject::connect(list, &GridView::copied, list, [list] { copySelectedRows(list); });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [window, list, what](const QPoint &at) {
        QMenu menu(list);
        QAction *copy = menu.addAction(QStringLiteral("复制选中的行"));
        copy->setShortcut(QKeySequence::Copy);
        copy->setEnabled(!list->selectedGridRows().isEmpty());
        QAction *save = menu.addAction(QStringLiteral("导出…"));
        save->setEnabled(list->grid().rows() > 1);
        QAction *chosen = menu.exec(list->viewport()->mapToGlobal(at));
        if (chosen == copy)
            copySelectedRows(list);
        else if (chosen == save)
            exportList(window, list, fileName(window, what));
    });
}

} // namespace

QString windowTitleFor(const ScheduleRequest &listed, const QDate &today) {
    QDate day = today;
    if (listed.game == ScheduleRequest::Game::Jingcai && !listed.selectedDate.isEmpty())
        day = QDate::fromString(listed.selectedDate, QStringLiteral("yyyy-M-d"));
    const QString game =
        listed.game == ScheduleRequest::Game::Beidan ? QStringLiteral("北京单场") : QStringLiteral("竞彩");
    return QStringLiteral("澄岚竞彩 — %1 %2").arg(game, day.toString(QStringLiteral("yyyy-MM-dd"))).trimmed();
}

void addWindowComforts(MainWindow *window) {
    closeOnEscapeOrClickOutside(window->calendar());
    QObject::connect(window, &MainWindow::scheduleShown, window,
                     [window] { window->setWindowTitle(windowTitleFor(window->listedRequest(), window->today())); });
    window->matchList()->setToolTipSource(
        [window](int gridRow, int column) { return matchListToolTip(window, gridRow, column); });
    window->similarList()->setToolTipSource(
        [window](int gridRow, int column) { return similarListToolTip(window, gridRow, column); });
    QObject::connect(window, &MainWindow::analysisShown, window, [window] { showPictureToolTips(window); });

    const QString matches = QStringLiteral("比赛列表");
    const QString similar = QStringLiteral("相似比赛");
    addListCommands(window, window->matchList(), matches);
    addListCommands(window, window->similarList(), similar);
    auto *exportMenu = new QMenu(QStringLiteral("导出"), window->menuBar());
    exportMenu->setObjectName(QStringLiteral("exportMenu"));
    window->menuBar()->insertMenu(helpMenuAction(window), exportMenu);
    exportMenu->addAction(QStringLiteral("导出比赛列表…"), window,
                          [window, matches] { exportList(window, window->matchList(), fileName(window, matches)); });
    exportMenu->addAction(QStringLiteral("导出相似比赛…"), window,
                          [window, similar] { exportList(window, window->similarList(), fileName(window, similar)); });

    addPictureMenu(window->strengthPanel(), QStringLiteral("实力面板"));
    addPictureMenu(window->trendBox(0), QStringLiteral("走势图一"));
    addPictureMenu(window->trendBox(1), QStringLiteral("走势图二"));
    addHelpCommands(window);
}

} // namespace chenglan
