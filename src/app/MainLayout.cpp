#include "app/MainLayout.h"

#include <cmath>

namespace chenglan {

int twipsToPixels(double twips, double dpi) { return int(std::lround(twips * dpi / 1440.0)); }

double pixelsToTwips(int pixels, double dpi) { return dpi > 0 ? pixels * 1440.0 / dpi : 0; }

QRect toPixels(const TwipsRect &r, double dpiX, double dpiY) {
    const int left = twipsToPixels(r.left, dpiX);
    const int top = twipsToPixels(r.top, dpiY);
    // Edges are rounded, not sizes, so that touching controls stay touching.
    return QRect(left, top, twipsToPixels(r.left + r.width, dpiX) - left, twipsToPixels(r.top + r.height, dpiY) - top);
}

void applyLayoutRule(MainLayout &l, double outerHeight) {
    auto setHeight = [](TwipsRect &r, double height) {
        if (height >= 0)
            r.height = height;
    };
    setHeight(l.matchList, outerHeight - LayoutReserveTwips);
    setHeight(l.trendCharts[0], (l.matchList.height - l.strengthPanel.height) / 2);
    setHeight(l.trendCharts[1], l.trendCharts[0].height);
    l.trendCharts[1].top = l.trendCharts[0].top + l.trendCharts[0].height;
    setHeight(l.similarList, l.matchList.height - l.commandStrip.height);
}

} // namespace chenglan
