#pragma once

#include "usecases/ScheduleListing.h"

#include <QDate>
#include <QString>

namespace chenglan {

class MainWindow;

// The window title naming the game and the day listed, "澄岚竞彩 — 竞彩
// 2026-12-08" or "澄岚竞彩 — 北京单场 2026-12-08"; the current day or issue
// is today's.
QString windowTitleFor(const ScheduleRequest &listed, const QDate &today);

// What the window offers beyond its design, added once its controls exist:
// the calendar closing like a popup, copying and exporting the lists, the
// pictures' context menu, the title naming what is listed, and 帮助.
void addWindowComforts(MainWindow *window);

} // namespace chenglan
