#pragma once

#include <QString>

class QAction;
class QMenu;

namespace chenglan {

class MainWindow;

// The window's 帮助 menu (object name "helpMenu"), made at the end of the
// menu bar when it is not there yet; whoever adds to it finds it this way.
QMenu *helpMenu(MainWindow *window);

// The menu bar's entry of 帮助, before which other menus go; null while
// there is none.
QAction *helpMenuAction(MainWindow *window);

// Adds "读懂分析结果" (the explanation page) and "关于" to 帮助.
void addHelpCommands(MainWindow *window);

// The explanation page, as HTML: the strength values, the pattern codes,
// the verdict levels and the similar-set summary.
QString explanationPage();

// 关于: the version, and the sites and the data service the window uses now.
QString aboutText(const MainWindow *window);

} // namespace chenglan
