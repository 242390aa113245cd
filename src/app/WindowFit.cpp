#include "app/WindowFit.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace chenglan {

QSize fittedClientSize(const QSize &wanted, const QRect &available, const QMargins &frame) {
    const int width = available.width() - frame.left() - frame.right();
    const int height = available.height() - frame.top() - frame.bottom();
    return QSize(std::max(1, std::min(wanted.width(), width)), std::max(1, std::min(wanted.height(), height)));
}

void fitWindowToScreen(QWidget *window) {
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QMargins frame = UnshownFrameAllowance;
    if (window->isVisible()) {
        const QRect outer = window->frameGeometry();
        const QRect inner = window->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    }
    const QSize size = fittedClientSize(window->size(), available, frame);
    if (size != window->size())
        window->resize(size);
    // Back onto the screen when the frame hangs over its right or bottom edge.
    QPoint at = window->isVisible() ? window->frameGeometry().topLeft() : window->pos();
    const QSize outer = size.grownBy(frame);
    at.setX(std::clamp(at.x(), available.left(), std::max(available.left(), available.right() + 1 - outer.width())));
    at.setY(std::clamp(at.y(), available.top(), std::max(available.top(), available.bottom() + 1 - outer.height())));
    if (at != (window->isVisible() ? window->frameGeometry().topLeft() : window->pos()))
        window->move(at);
}

void fitLayoutToWidth(MainLayout &l, double innerWidth) {
    const MainLayout design;
    auto fit = [&](TwipsRect &box, const TwipsRect &designBox) {
        const double room = innerWidth - box.left;
        box.width = room >= MinimumFittedTwips ? std::min(designBox.width, room) : designBox.width;
    };
    fit(l.commandStrip, design.commandStrip);
    fit(l.similarList, design.similarList);
}

} // namespace chenglan
