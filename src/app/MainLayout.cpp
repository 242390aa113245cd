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
    setHeight(l.MFG_BFS, outerHeight - LayoutReserveTwips);
    setHeight(l.PIC_TD[0], (l.MFG_BFS.height - l.PIC_SR.height) / 2);
    setHeight(l.PIC_TD[1], l.PIC_TD[0].height);
    l.PIC_TD[1].top = l.PIC_TD[0].top + l.PIC_TD[0].height;
    setHeight(l.MFG_JBM, l.MFG_BFS.height - l.FRM_COM.height);
}

} // namespace chenglan
