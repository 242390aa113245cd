#include "app/CalendarPopup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
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
        // By where the press is, not by its receiver: a press the calendar's
        // parts do not take travels on to the widgets under them.
        if (event->type() == QEvent::MouseButtonPress) {
            const QPoint at = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
            const auto contains = [&at](const QWidget *w) {
                return w && w->isVisible() && QRect(w->mapToGlobal(QPoint(0, 0)), w->size()).contains(at);
            };
            const auto *window = qobject_cast<QMainWindow *>(m_calendar->window());
            const QWidget *menuBar = window ? window->menuWidget() : nullptr;
            if (!contains(m_calendar) && !contains(menuBar))
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
