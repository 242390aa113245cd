#pragma once

namespace chenglan {

class MainWindow;

// What the window offers beyond its design, added once its controls exist:
// the calendar closing like a popup, copying and exporting the lists, the
// pictures' context menu, the title naming what is listed, and 帮助.
void addWindowComforts(MainWindow *window);

} // namespace chenglan
