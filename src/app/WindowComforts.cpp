#include "app/WindowComforts.h"

#include "app/CalendarPopup.h"
#include "app/MainWindow.h"

#include <QCalendarWidget>

namespace chenglan {

void addWindowComforts(MainWindow *window) {
    closeOnEscapeOrClickOutside(window->calendar());
}

} // namespace chenglan
