#include "editor/TImagemQuadro.h"

#include <QPainter>

TImagemQuadro::TImagemQuadro(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImagemQuadro::SetPicture(TBitmap picture) {
    m_picture = std::move(picture);
    // A frame covers the whole control (it takes the frame's size or is stretched over it), so
    // nothing behind it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent, !m_picture.Empty() && (m_stretch || m_autoSize));
    adjustSize();
    update();
}

void TImagemQuadro::SetStretch(bool stretch) {
    m_stretch = stretch;
    setAttribute(Qt::WA_OpaquePaintEvent, !m_picture.Empty() && (m_stretch || m_autoSize));
    update();
}

void TImagemQuadro::SetAutoSize(bool autoSize) {
    m_autoSize = autoSize;
    setAttribute(Qt::WA_OpaquePaintEvent, !m_picture.Empty() && (m_stretch || m_autoSize));
    adjustSize();
}

void TImagemQuadro::adjustSize() {
    if (m_autoSize && !m_picture.Empty())
        resize(m_picture.Width(), m_picture.Height());
}

void TImagemQuadro::paintEvent(QPaintEvent*) {
    if (m_picture.Empty())
        return;
    // The frame is drawn straight from its pixels: a frame is shown once, so a pixmap copy
    // made first would only add a copy of every frame.
    QPainter painter(this);
    if (m_stretch) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(rect(), m_picture.Image());
    } else {
        painter.drawImage(QPoint(0, 0), m_picture.Image());
    }
}
