#pragma once

#include "app/MainLayout.h"

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace chenglan {

// Room a window manager's frame may take around a window that has not been
// shown yet (title bar and borders), so that the framed window still fits.
inline const QMargins UnshownFrameAllowance{4, 32, 4, 4};

// The size of a window's client area no larger than wanted at which the
// window with its frame fits inside the available screen area.
QSize fittedClientSize(const QSize &wanted, const QRect &available, const QMargins &frame);

// Makes a window no larger than its screen's available area, and moves it
// onto that area when it hangs over an edge. Before the window is shown its
// frame is estimated with UnshownFrameAllowance.
void fitWindowToScreen(QWidget *window);

// Where the window is narrower than the design width, the boxes on the right
// (the command strip and the similar-match list) end at the window's right
// edge instead of under it, so that every box stays in reach; their lefts
// stay, and the similar list scrolls its columns. A box whose left is past
// the edge, or would be narrower than MinimumFittedTwips, keeps its design
// width. innerWidth is the width of the window's client area in twips.
void fitLayoutToWidth(MainLayout &layout, double innerWidth);
constexpr double MinimumFittedTwips = 2000;

} // namespace chenglan
