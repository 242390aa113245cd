#include "app/CalendarPopup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QWidget>

namespace chenglan {

namespace {

class PopupCloser : public QObject {
public:
    explicit PopupCloser(QWidget *calendar) : QObject(calendar), m_calendar(calendar) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (!m_calendar->isVisible() || !watched->isWidgetType())
            return false;
        auto *target = static_cast<QWidget *>(watched);
        if (target->window() != m_calendar->window())
            return false;
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            m_calendar->hide();
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress) {
            const bool inside = target == m_calendar || m_calendar->isAncestorOf(target);
            const bool onMenuBar = qobject_cast<QMenuBar *>(target) != nullptr;
            if (!inside && !onMenuBar)
                m_calendar->hide();
        }
        return false;
    }

private:
    QWidget *m_calendar;
};

} // namespace

void closeOnEscapeOrClickOutside(QWidget *calendar) { new PopupCloser(calendar); }

} // namespace chenglan
