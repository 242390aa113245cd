#include "charts/Canvas.h"

#include "base/Step.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QJsonObject>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <stdexcept>

namespace chenglan {

namespace {

// The top of a text is the top of its em box, where the Chinese glyphs
// start. The font's own ascent reaches higher, for accents, and would push
// every line down by a quarter of its height.
constexpr double EmBoxAscent = 0.88;

int pixelsFromTwips(double twips, double twipsPerPixel) {
    const double px = std::round(twips / twipsPerPixel);
    return px > 0 && std::isfinite(px) ? int(std::min(px, 20000.0)) : 0;
}

} // namespace

QRgb toQRgb(int colour) {
    return qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

int fromQRgb(QRgb rgb) { return qRed(rgb) + 256 * qGreen(rgb) + 65536 * qBlue(rgb); }

void PrintTo(const DrawnText &t, std::ostream *os) {
    *os << '"' << t.text.toStdString() << "\" at (" << t.position.x() << ", " << t.position.y()
        << ") px (" << t.pixel.x() << ", " << t.pixel.y() << ") colour " << t.colour << " size "
        << t.fontSize;
}

QString chartFontFamily() { return QStringLiteral("Noto Sans CJK SC"); }

Canvas::Canvas(double widthTwips, double heightTwips, double dpi, int borderPixels)
    : m_dpi(dpi > 0 && std::isfinite(dpi) ? dpi : 96), m_border(std::max(0, borderPixels)) {
    resize(widthTwips, heightTwips);
}

void Canvas::resize(double widthTwips, double heightTwips) {
    const QSize outer(pixelsFromTwips(widthTwips, twipsPerPixel()),
                      pixelsFromTwips(heightTwips, twipsPerPixel()));
    QImage image(outer, QImage::Format_RGB32);
    image.setDotsPerMeterX(int(std::lround(m_dpi / 0.0254)));
    image.setDotsPerMeterY(int(std::lround(m_dpi / 0.0254)));
    image.fill(toQRgb(m_back));
    if (!m_image.isNull() && !image.isNull()) {
        QPainter p(&image);
        const QRect kept = innerRect();
        p.drawImage(kept.topLeft(), m_image, kept);
    }
    m_image = image;
    m_outerPixels = outer;
    drawBorder();
    scaleToTwips();
}

QRect Canvas::innerRect() const {
    return QRect(m_border, m_border, std::max(0, m_outerPixels.width() - 2 * m_border),
                 std::max(0, m_outerPixels.height() - 2 * m_border));
}

void Canvas::drawBorder() {
    if (m_border == 0 || m_image.isNull())
        return;
    QPainter p(&m_image);
    const QRect outer(QPoint(0, 0), m_outerPixels);
    // A sunken edge: shadow above and left, light below and right.
    const QColor rings[][2] = {{QColor(128, 128, 128), QColor(255, 255, 255)},
                               {QColor(64, 64, 64), QColor(212, 208, 200)}};
    for (int i = 0; i < m_border; ++i) {
        const QRect r = outer.adjusted(i, i, -i, -i); // bottom() and right() are the last row and column
        const auto &ring = rings[std::min(i, 1)];
        p.setPen(ring[1]);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(ring[0]);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
    }
}

void Canvas::scale(double x1, double y1, double x2, double y2) {
    if (!(std::isfinite(x1) && std::isfinite(y1) && std::isfinite(x2) && std::isfinite(y2)) ||
        x1 == x2 || y1 == y2)
        throw StepFailure(QStringLiteral("a coordinate system needs two distinct corners"));
    m_scaleLeft = x1;
    m_scaleTop = y1;
    m_scaleWidth = x2 - x1;
    m_scaleHeight = y2 - y1;
}

void Canvas::scaleToTwips() {
    m_scaleLeft = 0;
    m_scaleTop = 0;
    m_scaleWidth = innerRect().width() * twipsPerPixel();
    m_scaleHeight = innerRect().height() * twipsPerPixel();
}

double Canvas::pixelX(double x) const {
    const QRect in = innerRect();
    return m_scaleWidth == 0 ? in.left() : in.left() + (x - m_scaleLeft) * in.width() / m_scaleWidth;
}

double Canvas::pixelY(double y) const {
    const QRect in = innerRect();
    return m_scaleHeight == 0 ? in.top() : in.top() + (y - m_scaleTop) * in.height() / m_scaleHeight;
}

double Canvas::userDX(double pixels) const {
    const int w = innerRect().width();
    return w == 0 ? 0 : pixels * m_scaleWidth / w;
}

double Canvas::userDY(double pixels) const {
    const int h = innerRect().height();
    return h == 0 ? 0 : pixels * m_scaleHeight / h;
}

QPoint Canvas::toPixel(double x, double y) const {
    // Far-off and undefined positions land well outside the image.
    const auto clampPixel = [](double v) {
        return std::isnan(v) ? -1000000 : int(std::clamp(std::floor(v + 0.5), -1.0e6, 1.0e6));
    };
    return QPoint(clampPixel(pixelX(x)), clampPixel(pixelY(y)));
}

void Canvas::clear() {
    if (!m_image.isNull()) {
        QPainter p(&m_image);
        p.fillRect(innerRect(), QColor(toQRgb(m_back)));
    }
    m_texts.clear();
    m_currentX = 0;
    m_currentY = 0;
}

void Canvas::setBackColour(int c) { m_back = c & 0xFFFFFF; }
void Canvas::setForeColour(int c) { m_fore = c & 0xFFFFFF; }

void Canvas::setFontSize(double points) {
    if (!(points > 0 && points <= 2048))
        throw StepFailure(QStringLiteral("invalid font size %1").arg(points));
    m_fontSize = points;
}

void Canvas::setLineWidth(int pixels) {
    if (pixels < 1 || pixels > 32767)
        throw StepFailure(QStringLiteral("invalid line width %1").arg(pixels));
    m_lineWidth = pixels;
}

void Canvas::line(double x1, double y1, double x2, double y2, int c) {
    if (m_image.isNull())
        return;
    QPainter p(&m_image);
    p.setClipRect(innerRect());
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen pen{QColor(toQRgb(c))};
    pen.setWidth(m_lineWidth);
    const bool dotted = m_lineStyle == LineStyle::Dotted && m_lineWidth == 1;
    pen.setStyle(dotted ? Qt::DotLine : Qt::SolidLine);
    pen.setCapStyle(dotted || m_lineWidth == 1 ? Qt::FlatCap : Qt::RoundCap);
    p.setPen(pen);
    const QPoint a = toPixel(x1, y1);
    const QPoint b = toPixel(x2, y2);
    if (a == b)
        p.drawPoint(a);
    else
        p.drawLine(a, b);
    m_currentX = x2;
    m_currentY = y2;
}

void Canvas::fillBox(double x1, double y1, double x2, double y2, int c) {
    const QRect box = QRect(toPixel(x1, y1), toPixel(x2, y2)).normalized();
    if (!m_image.isNull()) {
        QPainter p(&m_image);
        p.setClipRect(innerRect());
        p.fillRect(box, QColor(toQRgb(c)));
    }
    const QRect inner = innerRect();
    m_texts.removeIf([&](const DrawnText &t) {
        const QRect visible = QRect(t.pixel, t.pixelSize).intersected(inner);
        return !visible.isEmpty() && box.contains(visible);
    });
    m_currentX = x2;
    m_currentY = y2;
}

QFont Canvas::font() const {
    if (!qGuiApp)
        throw std::logic_error("drawing text needs a QGuiApplication (use QT_QPA_PLATFORM=offscreen without a display)");
    QFont f(chartFontFamily());
    // Whole pixels, as the box's system font was realised on the screen.
    f.setPixelSize(std::max(1, int(std::lround(m_fontSize * m_dpi / 72.0))));
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

int Canvas::drawText(const QString &text) {
    const QFont f = font();
    const QFontMetrics metrics(f);
    const int em = f.pixelSize();
    const int width = metrics.horizontalAdvance(text);
    const QPoint topLeft = toPixel(m_currentX, m_currentY);
    if (!m_image.isNull()) {
        QPainter p(&m_image);
        p.setClipRect(innerRect());
        p.setRenderHint(QPainter::TextAntialiasing, true);
        p.setFont(f);
        p.setPen(QColor(toQRgb(m_fore)));
        const int ascent = std::min(metrics.ascent(), int(std::lround(em * EmBoxAscent)));
        p.drawText(QPoint(topLeft.x(), topLeft.y() + ascent), text);
    }
    m_texts.append({text, QPointF(m_currentX, m_currentY), topLeft, QSize(width, em), m_fore, m_fontSize});
    return width;
}

void Canvas::print(const QString &text) {
    drawText(text);
    m_currentX = m_scaleLeft;
    m_currentY = m_currentY + userDY(font().pixelSize());
}

void Canvas::printInline(const QString &text) {
    const int width = drawText(text);
    m_currentX = m_currentX + userDX(width);
}

double Canvas::textWidth(const QString &text) const {
    return userDX(QFontMetrics(font()).horizontalAdvance(text));
}

double Canvas::textHeight() const { return std::fabs(userDY(font().pixelSize())); }

QStringList Canvas::textStrings() const {
    QStringList out;
    for (const DrawnText &t : m_texts)
        out.append(t.text);
    return out;
}

bool Canvas::writePng(const QString &path) const { return m_image.save(path, "PNG"); }

QJsonArray drawnTextsJson(const Canvas &canvas) {
    QJsonArray out;
    for (const DrawnText &t : canvas.texts()) {
        out.append(QJsonObject{{QStringLiteral("text"), t.text},
                               {QStringLiteral("x"), t.position.x()},
                               {QStringLiteral("y"), t.position.y()},
                               {QStringLiteral("px"), t.pixel.x()},
                               {QStringLiteral("py"), t.pixel.y()},
                               {QStringLiteral("colour"), t.colour},
                               {QStringLiteral("fontSize"), t.fontSize}});
    }
    return out;
}

} // namespace chenglan
