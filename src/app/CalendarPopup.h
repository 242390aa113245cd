#pragma once

class QWidget;

namespace chenglan {

// Makes a calendar lying over the window close as a popup does: on Esc
// pressed anywhere in its window, and on a mouse press in its window outside
// it (the press still goes where it was aimed). A press on the menu bar is
// left to the menu's own toggle.
void closeOnEscapeOrClickOutside(QWidget *calendar);

} // namespace chenglan
