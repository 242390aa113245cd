#include "app/PictureBox.h"

#include <QPainter>

namespace chenglan {

PictureBox::PictureBox(QWidget *parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setImage(const QImage &image) {
    m_image = image;
    update();
}

void PictureBox::setBackColor(const QColor &color) {
    m_back = color;
    update();
}

void PictureBox::paintEvent(QPaintEvent *event) {
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.fillRect(area, m_back);
        if (!m_image.isNull()) {
            painter.setClipRect(area);
            painter.drawImage(area.topLeft(), m_image);
        }
    }
    QFrame::paintEvent(event);
}

} // namespace chenglan
