#pragma once

#include <QImage>
#include <QJsonArray>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QRect>
#include <QString>
#include <QStringList>

#include <iosfwd>

namespace chenglan {

// Colours are 24-bit numbers with red in the lowest byte:
// red + 256 * green + 65536 * blue.
namespace colour {
constexpr int Black = 0;
constexpr int Red = 255;
constexpr int Yellow = 65535;
constexpr int Blue = 16711680;
constexpr int White = 16777215;
constexpr int GridBrown = 2763392; // (128, 42, 42)
} // namespace colour

QRgb toQRgb(int colour);
int fromQRgb(QRgb rgb);

// One text as the canvas drew it: for tests and the command line's JSON.
struct DrawnText {
    QString text;
    QPointF position; // top-left in the user coordinates in force when drawn
    QPoint pixel;     // top-left in image pixels
    QSize pixelSize;  // the text's box in pixels: its advance width by one em
    int colour = 0;
    double fontSize = 0; // points

    friend bool operator==(const DrawnText &, const DrawnText &) = default;
};
void PrintTo(const DrawnText &text, std::ostream *os);

// The drawing surface of a picture box. Sizes and positions are twips
// (1440 to the inch) until a user coordinate system is set with scale();
// twips become pixels through the DPI the canvas was made with.
//
// The image covers the whole box, its sunken border included, so the window
// and a PNG written by the command line show the same pixels. Drawing is
// clipped to the inner area, which is what width()/height() minus the border
// leave: scaleWidth()/scaleHeight() measure it in the current units.
//
// The image is always persistent: nothing drawn is lost when the window that
// shows it is covered or repainted.
class Canvas {
public:
    enum class LineStyle { Solid, Dotted };

    static constexpr int DefaultBorderPixels = 2;
    static constexpr double DefaultFontSize = 9;
    static constexpr double TwipsPerInch = 1440;

    Canvas(double widthTwips, double heightTwips, double dpi = 96, int borderPixels = DefaultBorderPixels);

    // Outer size in twips, border included (the box's Width and Height).
    double width() const { return m_outerPixels.width() * twipsPerPixel(); }
    double height() const { return m_outerPixels.height() * twipsPerPixel(); }
    double dpi() const { return m_dpi; }
    double twipsPerPixel() const { return TwipsPerInch / m_dpi; }

    // Changes the outer size. What was drawn stays at the top left, new area
    // shows the back colour, and the coordinate system returns to twips so
    // that the next drawing reads the new inner size.
    void resize(double widthTwips, double heightTwips);

    // The user coordinate system: the inner area's left-top corner is
    // (x1, y1) and its right-bottom corner (x2, y2). y2 < y1 turns y upward.
    void scale(double x1, double y1, double x2, double y2);
    // Back to twips with the origin at the inner area's top-left corner.
    void scaleToTwips();
    double scaleLeft() const { return m_scaleLeft; }
    double scaleTop() const { return m_scaleTop; }
    double scaleWidth() const { return m_scaleWidth; }
    double scaleHeight() const { return m_scaleHeight; }

    // Fills the inner area with the back colour, forgets the texts drawn and
    // puts the current position at (0, 0).
    void clear();

    int backColour() const { return m_back; }
    void setBackColour(int colour);
    int foreColour() const { return m_fore; }
    void setForeColour(int colour);
    double fontSize() const { return m_fontSize; }
    void setFontSize(double points);
    LineStyle lineStyle() const { return m_lineStyle; }
    void setLineStyle(LineStyle style) { m_lineStyle = style; }
    int lineWidth() const { return m_lineWidth; }
    void setLineWidth(int pixels);

    double currentX() const { return m_currentX; }
    double currentY() const { return m_currentY; }
    void setCurrentX(double x) { m_currentX = x; }
    void setCurrentY(double y) { m_currentY = y; }
    void moveTo(double x, double y) {
        m_currentX = x;
        m_currentY = y;
    }

    // A straight line in the current style and width; the current position
    // moves to its end. As a pen wider than one pixel cannot be dotted, a
    // dotted style draws solid when the width is more than 1.
    void line(double x1, double y1, double x2, double y2, int colour);
    void line(double x1, double y1, double x2, double y2) { line(x1, y1, x2, y2, m_fore); }
    // A filled box between two corners. Texts it covers leave the record.
    void fillBox(double x1, double y1, double x2, double y2, int colour);

    // Draws a text in the fore colour on a transparent background, its top-left
    // corner at the current position. Afterwards the current position is the
    // start of the next line: x at the left edge, y one text height further
    // down the picture.
    void print(const QString &text);
    // The same, but the current position moves to the end of the text on the
    // same line, ready for the next piece.
    void printInline(const QString &text);

    // Height and width of a text in the current font, in current units.
    double textWidth(const QString &text) const;
    double textHeight() const;

    const QImage &image() const { return m_image; }
    // Texts drawn since the last clear, in drawing order.
    const QList<DrawnText> &texts() const { return m_texts; }
    QStringList textStrings() const;

    bool writePng(const QString &path) const;

    // Image pixel of a point in user coordinates.
    QPoint toPixel(double x, double y) const;

private:
    QRect innerRect() const;
    double pixelX(double x) const;
    double pixelY(double y) const;
    double userDX(double pixels) const;
    double userDY(double pixels) const;
    QFont font() const;
    int drawText(const QString &text); // returns the text's width in pixels
    void drawBorder();

    double m_dpi;
    int m_border;
    QSize m_outerPixels;
    QImage m_image;
    QList<DrawnText> m_texts;

    double m_scaleLeft = 0;
    double m_scaleTop = 0;
    double m_scaleWidth = 0;
    double m_scaleHeight = 0;

    int m_back = colour::White;
    int m_fore = colour::Black;
    double m_fontSize = DefaultFontSize;
    LineStyle m_lineStyle = LineStyle::Solid;
    int m_lineWidth = 1;
    double m_currentX = 0;
    double m_currentY = 0;
};

// The record of drawn texts as JSON: text, x, y (user), px, py (pixels),
// colour and fontSize for every text.
QJsonArray drawnTextsJson(const Canvas &canvas);

// The font family every chart text uses; it carries the Chinese glyphs.
QString chartFontFamily();

} // namespace chenglan
