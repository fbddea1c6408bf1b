#include "editor/TImagemQuadro.h"

#include <QPainter>

TImagemQuadro::TImagemQuadro(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImagemQuadro::SetPicture(TBitmap picture) {
    m_picture = std::move(picture);
    m_pixmapStale = true;
    adjustSize();
    update();
}

void TImagemQuadro::SetStretch(bool stretch) {
    m_stretch = stretch;
    update();
}

void TImagemQuadro::SetAutoSize(bool autoSize) {
    m_autoSize = autoSize;
    adjustSize();
}

void TImagemQuadro::adjustSize() {
    if (m_autoSize && !m_picture.Empty())
        resize(m_picture.Width(), m_picture.Height());
}

void TImagemQuadro::paintEvent(QPaintEvent*) {
    if (m_picture.Empty())
        return;
    if (m_pixmapStale) {
        m_pixmap = QPixmap::fromImage(m_picture.Image());
        m_pixmapStale = false;
    }
    QPainter painter(this);
    if (m_stretch) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawPixmap(rect(), m_pixmap);
    } else {
        painter.drawPixmap(0, 0, m_pixmap);
    }
}
