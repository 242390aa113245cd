#pragma once

#include <QRect>

namespace chenglan {

// A control's place in twips (1/1440 inch), the window's own unit.
struct TwipsRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    double bottom() const { return top + height; }
    friend bool operator==(const TwipsRect &, const TwipsRect &) = default;
};

// Twips to pixels and back at a logical DPI.
int twipsToPixels(double twips, double dpi);
double pixelsToTwips(int pixels, double dpi);
QRect toPixels(const TwipsRect &r, double dpiX, double dpiY);

// The places of the main window's controls. Lefts, tops and widths are the
// design values; the layout rule sets the heights of the grids and trend
// boxes and the top of the lower trend box from the window's height.
struct MainLayout {
    TwipsRect matchList{0, 0, 6495, 0};
    TwipsRect strengthPanel{6480, 0, 7455, 3495};
    TwipsRect trendCharts[2]{{6480, 3480, 7485, 0}, {6480, 3480, 7485, 0}};
    TwipsRect commandStrip{13920, 0, 10000, 735};
    TwipsRect trendButton{120, 120, 1215, 495}; // inside commandStrip
    TwipsRect similarList{13920, 720, 10000, 0};
    TwipsRect calendar{2040, 720, 2805, 2220};
    // The three server-slot options, inside commandStrip beside trendButton.
    TwipsRect ServerSlot[3]{{1560, 240, 1200, 300}, {2880, 240, 1200, 300}, {4200, 240, 1200, 300}};
    // How the listed similar matches ended, in one line after the options.
    TwipsRect SimilarSummary{5520, 240, 4400, 300};

    // Width the window needs to show every control at its design width.
    double designWidth() const { return commandStrip.left + commandStrip.width; }

    friend bool operator==(const MainLayout &, const MainLayout &) = default;
};

// The layout rule, run on every resize. outerHeight is the window's height
// in twips with the title bar, menu bar and borders. Every step is tried on
// its own; a step that would make a height negative is skipped and leaves
// that control as it was.
void applyLayoutRule(MainLayout &layout, double outerHeight);

// The match list is this much shorter than the window's outer height.
constexpr double LayoutReserveTwips = 900;

} // namespace chenglan
