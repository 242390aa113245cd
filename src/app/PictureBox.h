#pragma once

#include <QImage>
#include <QWidget>

namespace chenglan {

// A picture box: shows the image of its canvas (border included, as the
// charts draw it) at its top left, on white where the image does not reach,
// and keeps showing it through repaints and resizes until another image
// replaces it.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};

} // namespace chenglan
