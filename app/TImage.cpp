#include "app/TImage.h"

#include <QPaintEvent>
#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Imagem"));
    setFixedSize(0, 0);
}

void TImage::SetPicture(TBitmap picture) {
    m_picture = std::move(picture);
    m_pixmap = QPixmap();
    m_pixmapStale = true;
    setFixedSize(m_picture.Width(), m_picture.Height());
    update();
}

void TImage::paintEvent(QPaintEvent* event) {
    if (m_picture.Empty())
        return;
    if (m_pixmapStale) {
        m_pixmap = QPixmap::fromImage(m_picture.Image());
        m_pixmapStale = false;
    }
    QPainter painter(this);
    painter.drawPixmap(event->rect(), m_pixmap, event->rect());
}
