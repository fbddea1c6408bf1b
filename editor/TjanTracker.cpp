#include "editor/TjanTracker.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace {

// Nearest integer, halves to the even neighbour (the default rounding mode).
int roundEven(double value) {
    return int(std::nearbyint(value));
}

QRect toQRect(const TjanTracker::Rect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

// A one-pixel frame on the rectangle's own edge pixels, `topLeft` on the top and left edges and
// `bottomRight` on the others; the rectangle shrinks by one pixel on every side.
void frame3D(QPainter& painter, TjanTracker::Rect& r, const QColor& topLeft,
             const QColor& bottomRight) {
    if (r.right > r.left && r.bottom > r.top) {
        painter.setPen(topLeft);
        painter.drawLine(r.left, r.top, r.right - 1, r.top);
        painter.drawLine(r.left, r.top, r.left, r.bottom - 1);
        painter.setPen(bottomRight);
        painter.drawLine(r.left, r.bottom - 1, r.right - 1, r.bottom - 1);
        painter.drawLine(r.right - 1, r.top, r.right - 1, r.bottom - 1);
    }
    r.left += 1;
    r.top += 1;
    r.right -= 1;
    r.bottom -= 1;
}

} // namespace

TjanTracker::TjanTracker(QWidget* parent) : QWidget(parent) {
    // Everything is painted here; nothing is erased before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    resize(150, 24);
    computeGeometry();
}

TjanTracker::Rect TjanTracker::oriented(int alongLow, int alongHigh, int acrossLow,
                                        int acrossHigh) const {
    if (horizontal())
        return {alongLow, acrossLow, alongHigh, acrossHigh};
    return {acrossLow, alongLow, acrossHigh, alongHigh};
}

void TjanTracker::computeTrackEnds() {
    m_trackStart = thumbAlong() / 2 + 5;
    m_trackEnd = along() - m_trackStart;
}

void TjanTracker::computeTrackRect() {
    const int top = (across() - m_trackHeight) / 2;
    m_trackRect = oriented(m_trackStart, m_trackEnd, top, across() - top);
}

void TjanTracker::computeHitRect() {
    const int widen = (thumbAcross() - m_trackHeight) / 2;
    m_hitRect = m_trackRect;
    if (horizontal()) {
        m_hitRect.top -= widen;
        m_hitRect.bottom += widen;
    } else {
        m_hitRect.left -= widen;
        m_hitRect.right += widen;
    }
}

void TjanTracker::computeThumbRect() {
    const int top = (across() - thumbAcross()) / 2;
    m_thumbRect =
        oriented(m_thumbPos - thumbAlong() / 2, m_thumbPos + thumbAlong() / 2, top, across() - top);
}

void TjanTracker::computeSelectionRect() {
    Rect r = oriented(m_selStartPixel, m_selEndPixel, 0, 0);
    if (horizontal()) {
        r.top = m_trackRect.top;
        r.bottom = m_trackRect.bottom;
    } else {
        r.left = m_trackRect.left;
        r.right = m_trackRect.right;
    }
    // Clipped to the track; the two ends are not put in order.
    r.left = std::max(r.left, m_trackRect.left);
    r.right = std::min(r.right, m_trackRect.right);
    r.top = std::max(r.top, m_trackRect.top);
    r.bottom = std::min(r.bottom, m_trackRect.bottom);
    m_selRect = r;
}

void TjanTracker::computeGeometry() {
    computeTrackEnds();
    computeTrackRect();
    computeHitRect();
    computeThumbRect();
    computeSelectionRect();
}

int TjanTracker::valueFromPosition(int position) const {
    const int span = m_trackEnd - m_trackStart;
    // A control too short for a track has no usable positions: every one stands for Minimum.
    if (span <= 0)
        return m_minimum;
    return roundEven(double(position - m_trackStart) / double(span) *
                         (double(m_maximum) - double(m_minimum)) +
                     double(m_minimum));
}

int TjanTracker::positionFromValue(int value) const {
    return m_trackStart +
           roundEven((double(value) - double(m_minimum)) / (double(m_maximum) - double(m_minimum)) *
                     double(m_trackEnd - m_trackStart));
}

void TjanTracker::computeSelectionPixels() {
    m_selStartPixel = positionFromValue(m_selAnchor);
    m_selEndPixel = positionFromValue(m_selEndValue);
}

void TjanTracker::SetMinimum(int value) {
    if (value >= m_maximum)
        return;
    m_minimum = value;
    if (m_value < value)
        m_value = value;
    m_thumbPos = positionFromValue(m_value);
    update();
}

void TjanTracker::SetMaximum(int value) {
    if (value <= m_minimum)
        return;
    m_maximum = value;
    if (m_value > value)
        m_value = value;
    m_thumbPos = positionFromValue(m_value);
    update();
}

void TjanTracker::SetValue(int value) {
    if (m_value >= m_minimum && m_value <= m_maximum)
        m_value = value;
    m_thumbPos = positionFromValue(m_value);
    update();
}

void TjanTracker::SetOrientation(TjtbOrientation orientation) {
    // At run time the thumb follows at the next resize or range write.
    m_orientation = orientation;
    update();
}

void TjanTracker::SetBackBitmap(const QPixmap& picture) {
    m_backBitmap = picture;
    update();
}

void TjanTracker::SetThumbWidth(int value) {
    m_thumbWidth = value;
    computeGeometry();
    update();
}

void TjanTracker::SetThumbHeight(int value) {
    if (value >= height())
        return;
    m_thumbHeight = value;
    computeGeometry();
    update();
}

void TjanTracker::SetTrackHeight(int value) {
    if (value >= across())
        return;
    m_trackHeight = value;
    computeTrackRect();
    computeHitRect();
    computeSelectionRect();
    update();
}

void TjanTracker::SetSelStart(int value) {
    m_selAnchor = value;
    computeSelectionPixels();
    update();
}

void TjanTracker::SetSelEnd(int value) {
    m_selEndValue = value;
    computeSelectionPixels();
    update();
}

void TjanTracker::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    computeTrackEnds();
    computeTrackRect();
    computeHitRect();
    m_thumbPos = positionFromValue(m_value);
    computeSelectionPixels();
    computeSelectionRect();
    update();
}

void TjanTracker::paintEvent(QPaintEvent*) {
    // The backing store of the window is the off-screen picture: what is painted here reaches the
    // screen in one copy.
    QPainter painter(this);
    computeGeometry();

    // Background.
    if (m_backBitmap.width() > 0 && m_backBitmap.height() > 0) {
        for (int y = 0; y < height(); y += m_backBitmap.height())
            for (int x = 0; x < width(); x += m_backBitmap.width())
                painter.drawPixmap(x, y, m_backBitmap);
    } else {
        painter.fillRect(rect(), m_backColor);
        painter.setPen(m_backBorder ? m_borderColor : m_backColor);
        painter.drawRect(QRect(0, 0, width() - 1, height() - 1));
    }

    // Track.
    QColor track = m_trackColor;
    if (m_trackPositionColor) {
        const double f = double(m_value) / (double(m_maximum) - double(m_minimum));
        track = QColor(int(m_trackColor.red() * f) & 0xFF, int(m_trackColor.green() * f) & 0xFF,
                       int(m_trackColor.blue() * f) & 0xFF);
    }
    if (m_trackRect.right > m_trackRect.left && m_trackRect.bottom > m_trackRect.top)
        painter.fillRect(toQRect(m_trackRect), track);

    // Selection band, drawn between its two ends whichever comes first.
    if (m_selStartPixel > 0) {
        Rect band = m_selRect;
        if (band.left > band.right)
            std::swap(band.left, band.right);
        if (band.top > band.bottom)
            std::swap(band.top, band.bottom);
        if (band.right > band.left && band.bottom > band.top)
            painter.fillRect(toQRect(band), m_selectionColorShow ? m_selectionColor : m_trackColor);
    }

    const QColor highlight = palette().color(QPalette::Light);
    if (m_trackBorder)
        frame3D(painter, m_trackRect, Qt::black, highlight);

    // Thumb.
    if (m_thumbRect.right > m_thumbRect.left && m_thumbRect.bottom > m_thumbRect.top)
        painter.fillRect(toQRect(m_thumbRect), m_thumbColor);
    frame3D(painter, m_thumbRect, highlight, Qt::black);

    if (m_showCaption && m_thumbRect.right > m_thumbRect.left) {
        QFont captionFont = font();
        captionFont.setBold(m_captionBold);
        painter.setFont(captionFont);
        painter.setPen(m_captionColor);
        const QRect area = toQRect(m_thumbRect);
        const QString text = painter.fontMetrics().elidedText(QString::number(m_value),
                                                              Qt::ElideRight, area.width());
        painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
}

int TjanTracker::clampedPointer(int coordinate) const {
    // The track as the last paint left it, one pixel outward.
    const int low = rectAlongLow(m_trackRect) - 1;
    const int high = rectAlongHigh(m_trackRect) + 1;
    if (coordinate < low)
        return low;
    if (coordinate > high)
        return high;
    return coordinate;
}

void TjanTracker::mousePressEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint p = event->position().toPoint();
    if (!m_hitRect.contains(p.x(), p.y()))
        return;
    // While the button is held the toolkit's implicit grab sends every move here, also from
    // outside the control.
    m_dragging = true;
    m_thumbPos = pointerAlong(event->position());
    m_value = valueFromPosition(m_thumbPos);
    if (event->modifiers() & Qt::ShiftModifier) {
        m_selecting = true;
        m_selStartPixel = m_thumbPos;
        m_selEndPixel = m_thumbPos;
        m_selAnchor = m_value;
        m_selEndValue = m_value;
        computeSelectionRect();
    }
    computeThumbRect();
    update();
    Q_EMIT onChangedValue(this, m_value);
}

void TjanTracker::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    if (!(event->buttons() & Qt::LeftButton) || !m_dragging)
        return;
    m_thumbPos = clampedPointer(pointerAlong(event->position()));
    m_value = valueFromPosition(m_thumbPos);
    if ((event->modifiers() & Qt::ShiftModifier) && m_selecting) {
        m_selEndPixel = m_thumbPos;
        m_selEndValue = m_value;
        computeSelectionRect();
    }
    computeThumbRect();
    update();
    Q_EMIT onChangedValue(this, m_value);
}

void TjanTracker::mouseReleaseEvent(QMouseEvent* event) {
    m_dragging = false;
    m_selecting = false;
    QWidget::mouseReleaseEvent(event);
}
