#pragma once

#include <QFrame>
#include <QImage>

namespace chenglan {

// A picture box: shows the image a drawing produced, at its top left, on the
// box's background colour, and keeps showing it through repaints and
// resizes until another image replaces it.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }
    // The drawing area inside the border, in pixels.
    QSize canvasSize() const { return contentsRect().size(); }
    void setBackColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    QColor m_back = Qt::white;
};

} // namespace chenglan
