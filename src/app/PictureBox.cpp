#include "app/PictureBox.h"

#include <QPainter>
#include <QPaintEvent>

namespace chenglan {

PictureBox::PictureBox(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void PictureBox::setImage(const QImage &image) {
    m_image = image;
    update();
}

void PictureBox::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    if (!m_image.isNull())
        painter.drawImage(QPoint(0, 0), m_image);
}

} // namespace chenglan
