#include "app/WindowComforts.h"

#include "app/CalendarPopup.h"
#include "app/GridView.h"
#include "app/ListExport.h"
#include "app/MainWindow.h"
#include "app/PictureBox.h"
#include "app/PictureMenu.h"

#include <QCalendarWidget>
#include <QMenu>
#include <QMenuBar>

namespace chenglan {

namespace {

// The name a file of the window's contents is offered under: what, and the
// day shown ("比赛列表 2026-12-08").
QString fileName(MainWindow *window, const QString &what) {
    return what + u' ' + window->today().toString(QStringLiteral("yyyy-MM-dd"));
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

void addWindowComforts(MainWindow *window) {
    closeOnEscapeOrClickOutside(window->calendar());

    const QString matches = QStringLiteral("比赛列表");
    const QString similar = QStringLiteral("相似比赛");
    addListCommands(window, window->matchList(), matches);
    addListCommands(window, window->similarList(), similar);
    QMenu *exportMenu = window->menuBar()->addMenu(QStringLiteral("导出"));
    exportMenu->setObjectName(QStringLiteral("exportMenu"));
    exportMenu->addAction(QStringLiteral("导出比赛列表…"), window, [window, matches] {
        exportList(window, window->matchList(), fileName(window, matches));
    });
    exportMenu->addAction(QStringLiteral("导出相似比赛…"), window, [window, similar] {
        exportList(window, window->similarList(), fileName(window, similar));
    });

    addPictureMenu(window->strengthPanel(), QStringLiteral("实力面板"));
    addPictureMenu(window->trendBox(0), QStringLiteral("走势图一"));
    addPictureMenu(window->trendBox(1), QStringLiteral("走势图二"));
}

} // namespace chenglan
