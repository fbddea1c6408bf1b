#include "shared/WmfPlayer.h"

#include "platform/core/Dib.h"
#include "shared/PictureError.h"

#include <QFontMetricsF>
#include <QPainterPath>

#include <cmath>
#include <cstring>
#include <numbers>

namespace qdx {

namespace {

// Record functions (the low byte names the record, the high byte its usual parameter count).
enum : uint16_t {
    kSaveDc = 0x001E,
    kRealizePalette = 0x0035,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetPolyFillMode = 0x0106,
    kRestoreDc = 0x0127,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kCreatePatternBrush = 0x01F9,
    kCreatePalette = 0x00F7,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kOffsetWindowOrg = 0x020F,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
};

// Raster operations that matter for pictures; the rest draw as a plain copy.
constexpr uint32_t kSrcCopy = 0x00CC0020;
constexpr uint32_t kSrcPaint = 0x00EE0086;
constexpr uint32_t kSrcAnd = 0x008800C6;
constexpr uint32_t kSrcInvert = 0x00660046;
constexpr uint32_t kSrcErase = 0x00440328;
constexpr uint32_t kNotSrcCopy = 0x00330008;
constexpr uint32_t kNotSrcErase = 0x001100A6;
constexpr uint32_t kMergePaint = 0x00BB0226;
constexpr uint32_t kPatCopy = 0x00F00021;
constexpr uint32_t kPatInvert = 0x005A0049;
constexpr uint32_t kDstInvert = 0x00550009;
constexpr uint32_t kBlackness = 0x00000042;
constexpr uint32_t kWhiteness = 0x00FF0062;

// Text alignment and ExtTextOut options.
constexpr int kTaUpdateCp = 1;
constexpr int kTaHorizontal = 6; // TA_LEFT 0, TA_RIGHT 2, TA_CENTER 6
constexpr int kTaRight = 2;
constexpr int kTaCenter = 6;
constexpr int kTaVertical = 24; // TA_TOP 0, TA_BOTTOM 8, TA_BASELINE 24
constexpr int kTaBottom = 8;
constexpr int kTaBaseline = 24;
constexpr uint16_t kEtoOpaque = 2;
constexpr uint16_t kEtoClipped = 4;

constexpr size_t kMaxSavedStates = 1024;
constexpr size_t kMaxObjects = 0xFFFF;

QColor colourOf(uint32_t ref) {
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

QPainter::CompositionMode modeOf(uint32_t rop) {
    switch (rop) {
    case kSrcPaint:
        return QPainter::RasterOp_SourceOrDestination;
    case kSrcAnd:
        return QPainter::RasterOp_SourceAndDestination;
    case kSrcInvert:
        return QPainter::RasterOp_SourceXorDestination;
    case kSrcErase:
        return QPainter::RasterOp_SourceAndNotDestination;
    case kNotSrcCopy:
        return QPainter::RasterOp_NotSource;
    case kNotSrcErase:
        return QPainter::RasterOp_NotSourceAndNotDestination;
    case kMergePaint:
        return QPainter::RasterOp_NotSourceOrDestination;
    default:
        return QPainter::CompositionMode_SourceOver;
    }
}

bool dibIsBottomUp(std::span<const uint8_t> packed) {
    if (packed.size() < 12)
        return true;
    uint32_t size;
    std::memcpy(&size, packed.data(), 4);
    if (size == 12)
        return true;
    int32_t height;
    std::memcpy(&height, packed.data() + 8, 4);
    return height > 0;
}

} // namespace

class WmfPlayer::Params {
public:
    explicit Params(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    size_t words() const { return m_bytes.size() / 2; }
    bool has(size_t n) const { return words() >= n; }
    uint16_t u(size_t i) const {
        if (i >= words())
            return 0;
        uint16_t v;
        std::memcpy(&v, m_bytes.data() + 2 * i, 2);
        return v;
    }
    int s(size_t i) const { return int16_t(u(i)); }
    uint32_t u32(size_t i) const { return uint32_t(u(i)) | (uint32_t(u(i + 1)) << 16); }
    QPointF point(size_t i) const { return QPointF(s(i + 1), s(i)); } // stored y, x
    // Four words stored bottom, right, top, left.
    QRectF rectReversed(size_t i) const {
        return QRectF(QPointF(s(i + 3), s(i + 2)), QPointF(s(i + 1), s(i)));
    }
    std::span<const uint8_t> bytesFrom(size_t word) const {
        return 2 * word >= m_bytes.size() ? std::span<const uint8_t>() : m_bytes.subspan(2 * word);
    }

private:
    std::span<const uint8_t> m_bytes;
};

WmfPlayer::WmfPlayer(QSize pixels, QRect bounds, int objectCount)
    : m_image(pixels, QImage::Format_RGB32) {
    if (m_image.isNull())
        throw PictureError(QStringLiteral("Not enough memory for the metafile's picture."));
    m_image.fill(Qt::white);
    m_objects.resize(size_t(std::max(objectCount, 0)));
    m_state.windowOrigin = bounds.topLeft();
    m_state.windowExtent = QPointF(bounds.width(), bounds.height());
    m_state.pen = QPen(Qt::black, 0);
    m_state.brush = QBrush(Qt::white);
    m_state.font.font.setStyleStrategy(QFont::NoAntialias);
    m_painter.begin(&m_image);
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

TBitmap WmfPlayer::result() {
    if (m_painter.isActive())
        m_painter.end();
    return TBitmap(m_image, pf32bit);
}

void WmfPlayer::play(std::span<const uint8_t> records) {
    size_t pos = 0;
    while (records.size() - pos >= 6) {
        uint32_t words;
        uint16_t function;
        std::memcpy(&words, records.data() + pos, 4);
        std::memcpy(&function, records.data() + pos + 4, 2);
        if (function == 0)
            return; // the end record
        if (words < 3)
            throw PictureError(
                QStringLiteral("The metafile is damaged (a record of %1 words).").arg(words));
        if ((records.size() - pos) / 2 < words)
            throw PictureError(
                QStringLiteral("The metafile is cut short (a record of %1 words runs "
                               "past the end of the file).")
                    .arg(words));
        dispatch(function, Params(records.subspan(pos + 6, size_t(words) * 2 - 6)));
        pos += size_t(words) * 2;
    }
    // Every metafile ends with its end record: records that stop before it mean a file cut short,
    // not a blank picture.
    throw PictureError(QStringLiteral("The metafile is cut short (its records end before the end "
                                      "record)."));
}

QTransform WmfPlayer::transform() const {
    const double ex = m_state.windowExtent.x();
    const double ey = m_state.windowExtent.y();
    const double sx = ex != 0 ? m_image.width() / ex : 1.0;
    const double sy = ey != 0 ? m_image.height() / ey : 1.0;
    return QTransform(sx, 0, 0, sy, -m_state.windowOrigin.x() * sx, -m_state.windowOrigin.y() * sy);
}

// Puts the state's clip and mapping on the painter and resets the drawing mode.
void WmfPlayer::applyState() {
    m_painter.resetTransform();
    if (m_state.clip)
        m_painter.setClipRegion(*m_state.clip);
    else
        m_painter.setClipping(false);
    m_painter.setTransform(transform());
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void WmfPlayer::addObject(Object object) {
    for (auto& slot : m_objects) {
        if (!slot) {
            slot = std::move(object);
            return;
        }
    }
    if (m_objects.size() < kMaxObjects)
        m_objects.emplace_back(std::move(object));
}

void WmfPlayer::selectObject(int index) {
    if (index < 0 || size_t(index) >= m_objects.size() || !m_objects[size_t(index)])
        return;
    const Object& object = *m_objects[size_t(index)];
    if (const auto* pen = std::get_if<PenSpec>(&object))
        m_state.pen = pen->pen;
    else if (const auto* brush = std::get_if<BrushSpec>(&object))
        m_state.brush = brush->brush;
    else if (const auto* font = std::get_if<FontSpec>(&object))
        m_state.font = *font;
}

void WmfPlayer::deleteObject(int index) {
    if (index >= 0 && size_t(index) < m_objects.size())
        m_objects[size_t(index)].reset();
}

void WmfPlayer::drawShape(const QPainterPath& path, bool fill) {
    applyState();
    if (fill && m_state.brush.style() != Qt::NoBrush) {
        // Hatched brushes show the background colour between their lines in opaque mode.
        if (m_state.opaqueBackground && m_state.brush.style() >= Qt::HorPattern &&
            m_state.brush.style() <= Qt::DiagCrossPattern)
            m_painter.fillPath(path, m_state.backColour);
        m_painter.fillPath(path, m_state.brush);
    }
    m_painter.strokePath(path, m_state.pen);
}

void WmfPlayer::drawArcRecord(const Params& p, int kind) {
    if (!p.has(8))
        return;
    // Angles are worked out on the device, where counter-clockwise is what the viewer sees; a
    // mapping that mirrors one axis turns the direction round.
    const QTransform t = transform();
    const QRectF box = t.mapRect(p.rectReversed(4).normalized());
    const QPointF centre = box.center();
    const QPointF start = t.map(p.point(2));
    const QPointF end = t.map(p.point(0));
    auto angle = [&](QPointF q) {
        return std::atan2(-(q.y() - centre.y()), q.x() - centre.x()) * 180.0 / std::numbers::pi;
    };
    const double a0 = angle(start);
    double span = angle(end) - a0;
    while (span <= 0)
        span += 360.0;
    if (t.determinant() < 0)
        span -= 360.0;
    QPainterPath path;
    if (kind == kPie)
        path.moveTo(centre);
    else
        path.arcMoveTo(box, a0);
    path.arcTo(box, a0, span);
    if (kind != kArc)
        path.closeSubpath();
    bool invertible = false;
    const QTransform back = t.inverted(&invertible);
    if (invertible)
        drawShape(back.map(path), kind != kArc);
}

void WmfPlayer::fillPattern(const QRectF& logical, uint32_t rop) {
    applyState();
    const QRectF rect = logical.normalized();
    switch (rop) {
    case kBlackness:
        m_painter.fillRect(rect, Qt::black);
        break;
    case kWhiteness:
        m_painter.fillRect(rect, Qt::white);
        break;
    case kDstInvert:
        m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        m_painter.fillRect(rect, Qt::black);
        break;
    case kPatInvert:
        m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter.fillRect(rect, m_state.brush);
        break;
    default:
        if (m_state.brush.style() != Qt::NoBrush)
            m_painter.fillRect(rect, m_state.brush);
        break;
    }
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void WmfPlayer::drawDib(std::span<const uint8_t> packed, QRectF target, QRectF source, uint32_t rop,
                        bool sourceFromBottom) {
    QString error;
    const TBitmap dib = decodePackedDib(packed, &error);
    if (dib.Empty())
        return; // a damaged bitmap record draws nothing; the rest of the picture still plays
    QImage image = dib.Image();
    if (source.width() <= 0 || source.height() <= 0)
        source = QRectF(0, 0, image.width(), image.height());
    else if (sourceFromBottom && dibIsBottomUp(packed))
        source.moveTop(image.height() - source.top() - source.height());
    // Negative destination sizes mirror the picture.
    const bool mirrorX = target.width() < 0;
    const bool mirrorY = target.height() < 0;
    if (mirrorX || mirrorY) {
        image = image.convertToFormat(QImage::Format_RGB32).mirrored(mirrorX, mirrorY);
        if (mirrorX)
            source.moveLeft(image.width() - source.left() - source.width());
        if (mirrorY)
            source.moveTop(image.height() - source.top() - source.height());
        target = target.normalized();
    }
    applyState();
    m_painter.setCompositionMode(modeOf(rop));
    m_painter.drawImage(target, image, source);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void WmfPlayer::intersectClip(const QRectF& logical, bool exclude) {
    const QRect device = transform().mapRect(logical.normalized()).toAlignedRect();
    const QRegion whole(m_image.rect());
    const QRegion current = m_state.clip.value_or(whole);
    m_state.clip = exclude ? current.subtracted(QRegion(device)) : current.intersected(device);
}

void WmfPlayer::drawText(QPointF logical, const QByteArray& bytes, const std::vector<int>& advances,
                         uint16_t options, std::optional<QRectF> rect) {
    const QTransform t = transform();
    const double scaleX = std::abs(t.m11());
    const double scaleY = std::abs(t.m22());
    const bool updateCp = m_state.textAlign & kTaUpdateCp;
    const QPointF origin = t.map(updateCp ? m_state.position : logical);

    QFont font = m_state.font.font;
    const int height = m_state.font.height;
    // A positive height is the character cell; its characters are about 80% of it.
    const double pixels = height == 0  ? 12.0
                          : height < 0 ? -height * scaleY
                                       : height * scaleY * 0.8;
    font.setPixelSize(std::max(1, int(std::lround(std::min(pixels, 4096.0)))));
    const QString text = QString::fromLatin1(bytes);
    const QFontMetricsF metrics(font, &m_image);
    double width = 0;
    std::vector<double> offsets;
    if (!advances.empty()) {
        for (int a : advances) {
            offsets.push_back(width);
            width += a * scaleX;
        }
    } else {
        width = metrics.horizontalAdvance(text);
    }

    applyState();
    m_painter.resetTransform();
    if (rect) {
        const QRectF box = t.mapRect(rect->normalized());
        if (options & kEtoOpaque)
            m_painter.fillRect(box, m_state.backColour);
        if (options & kEtoClipped)
            m_painter.setClipRect(box, Qt::IntersectClip);
    }
    m_painter.translate(origin);
    m_painter.rotate(-m_state.font.escapement / 10.0);
    double x = 0;
    if ((m_state.textAlign & kTaHorizontal) == kTaCenter)
        x = -width / 2;
    else if ((m_state.textAlign & kTaHorizontal) == kTaRight)
        x = -width;
    double baseline = metrics.ascent();
    if ((m_state.textAlign & kTaVertical) == kTaBaseline)
        baseline = 0;
    else if ((m_state.textAlign & kTaVertical) == kTaBottom)
        baseline = -metrics.descent();
    if (m_state.opaqueBackground)
        m_painter.fillRect(
            QRectF(x, baseline - metrics.ascent(), width, metrics.ascent() + metrics.descent()),
            m_state.backColour);
    m_painter.setFont(font);
    m_painter.setPen(m_state.textColour);
    if (!offsets.empty()) {
        for (qsizetype i = 0; i < text.size() && size_t(i) < offsets.size(); ++i)
            m_painter.drawText(QPointF(x + offsets[size_t(i)], baseline), text.mid(i, 1));
    } else {
        m_painter.drawText(QPointF(x, baseline), text);
    }
    if (updateCp && scaleX > 0)
        m_state.position += QPointF(width / t.m11(), 0);
}

void WmfPlayer::dispatch(uint16_t function, const Params& p) {
    switch (function) {
    case kSaveDc:
        if (m_saved.size() < kMaxSavedStates)
            m_saved.push_back(m_state);
        break;
    case kRestoreDc: {
        const int n = p.s(0);
        const int64_t index = n < 0 ? int64_t(m_saved.size()) + n : int64_t(n) - 1;
        if (index >= 0 && index < int64_t(m_saved.size())) {
            m_state = m_saved[size_t(index)];
            m_saved.resize(size_t(index));
        }
        break;
    }
    case kSetBkColor:
        m_state.backColour = colourOf(p.u32(0));
        break;
    case kSetTextColor:
        m_state.textColour = colourOf(p.u32(0));
        break;
    case kSetBkMode:
        m_state.opaqueBackground = p.u(0) == 2;
        break;
    case kSetPolyFillMode:
        m_state.fillRule = p.u(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
        break;
    case kSetTextAlign:
        m_state.textAlign = p.u(0);
        break;
    case kSetWindowOrg:
        if (p.has(2))
            m_state.windowOrigin = p.point(0);
        break;
    case kSetWindowExt:
        if (p.has(2))
            m_state.windowExtent = p.point(0);
        break;
    case kOffsetWindowOrg:
        m_state.windowOrigin += p.point(0);
        break;
    case kScaleWindowExt:
        if (p.has(4) && p.s(0) != 0 && p.s(2) != 0)
            m_state.windowExtent = QPointF(m_state.windowExtent.x() * p.s(3) / p.s(2),
                                           m_state.windowExtent.y() * p.s(1) / p.s(0));
        break;
    case kMoveTo:
        m_state.position = p.point(0);
        break;
    case kLineTo: {
        QPainterPath path(m_state.position);
        path.lineTo(p.point(0));
        drawShape(path, false);
        m_state.position = p.point(0);
        break;
    }
    case kPolyline:
    case kPolygon: {
        const int n = p.s(0);
        if (n <= 0 || !p.has(1 + 2 * size_t(n)))
            break;
        QPolygonF polygon;
        polygon.reserve(n);
        for (int i = 0; i < n; ++i)
            polygon.append(QPointF(p.s(1 + 2 * size_t(i)), p.s(2 + 2 * size_t(i))));
        QPainterPath path;
        path.setFillRule(m_state.fillRule);
        path.addPolygon(polygon);
        if (function == kPolygon)
            path.closeSubpath();
        drawShape(path, function == kPolygon);
        break;
    }
    case kPolyPolygon: {
        const size_t count = p.u(0);
        if (!p.has(1 + count))
            break;
        size_t total = 0;
        for (size_t i = 0; i < count; ++i)
            total += p.u(1 + i);
        if (!p.has(1 + count + 2 * total))
            break;
        QPainterPath path;
        path.setFillRule(m_state.fillRule);
        size_t at = 1 + count;
        for (size_t i = 0; i < count; ++i) {
            QPolygonF polygon;
            for (size_t k = 0; k < p.u(1 + i); ++k, at += 2)
                polygon.append(QPointF(p.s(at), p.s(at + 1)));
            path.addPolygon(polygon);
            path.closeSubpath();
        }
        drawShape(path, true);
        break;
    }
    case kRectangle:
    case kEllipse: {
        if (!p.has(4))
            break;
        QPainterPath path;
        if (function == kRectangle)
            path.addRect(p.rectReversed(0).normalized());
        else
            path.addEllipse(p.rectReversed(0).normalized());
        drawShape(path, true);
        break;
    }
    case kRoundRect: {
        if (!p.has(6))
            break;
        QPainterPath path;
        path.addRoundedRect(p.rectReversed(2).normalized(), std::abs(p.s(1)) / 2.0,
                            std::abs(p.s(0)) / 2.0);
        drawShape(path, true);
        break;
    }
    case kArc:
    case kPie:
    case kChord:
        drawArcRecord(p, function);
        break;
    case kSetPixel: {
        if (!p.has(4))
            break;
        const QPointF device = transform().map(p.point(2));
        const int x = int(std::floor(device.x()));
        const int y = int(std::floor(device.y()));
        applyState();
        m_painter.resetTransform();
        m_painter.fillRect(QRect(x, y, 1, 1), colourOf(p.u32(0)));
        break;
    }
    case kTextOut: {
        const int length = p.s(0);
        if (length <= 0 || !p.has(1 + (size_t(length) + 1) / 2 + 2))
            break;
        const size_t after = 1 + (size_t(length) + 1) / 2;
        const auto bytes = p.bytesFrom(1);
        drawText(p.point(after), QByteArray(reinterpret_cast<const char*>(bytes.data()), length),
                 {}, 0, std::nullopt);
        break;
    }
    case kExtTextOut: {
        if (!p.has(4))
            break;
        const int length = p.s(2);
        const uint16_t options = p.u(3);
        size_t at = 4;
        std::optional<QRectF> rect;
        if (options & (kEtoOpaque | kEtoClipped)) {
            if (!p.has(8))
                break;
            rect = QRectF(QPointF(p.s(4), p.s(5)), QPointF(p.s(6), p.s(7)));
            at = 8;
        }
        if (length < 0 || !p.has(at + (size_t(length) + 1) / 2))
            break;
        const auto bytes = p.bytesFrom(at);
        std::vector<int> advances;
        const size_t dxAt = at + (size_t(length) + 1) / 2;
        if (length > 0 && p.has(dxAt + size_t(length)))
            for (int i = 0; i < length; ++i)
                advances.push_back(p.s(dxAt + size_t(i)));
        drawText(p.point(0), QByteArray(reinterpret_cast<const char*>(bytes.data()), length),
                 advances, options, rect);
        break;
    }
    case kPatBlt:
        if (p.has(6))
            fillPattern(QRectF(p.s(5), p.s(4), p.s(3), p.s(2)), p.u32(0));
        break;
    case kDibBitBlt:
        if (p.words() == 9) // no bitmap: rop, y/x source, reserved, height, width, y/x target
            fillPattern(QRectF(p.s(8), p.s(7), p.s(6), p.s(5)), p.u32(0));
        else if (p.has(8))
            drawDib(p.bytesFrom(8), QRectF(p.s(7), p.s(6), p.s(5), p.s(4)),
                    QRectF(p.s(3), p.s(2), p.s(5), p.s(4)), p.u32(0), false);
        break;
    case kDibStretchBlt:
        if (p.words() == 11) // no bitmap
            fillPattern(QRectF(p.s(10), p.s(9), p.s(8), p.s(7)), p.u32(0));
        else if (p.has(10))
            drawDib(p.bytesFrom(10), QRectF(p.s(9), p.s(8), p.s(7), p.s(6)),
                    QRectF(p.s(5), p.s(4), p.s(3), p.s(2)), p.u32(0), false);
        break;
    case kStretchDib:
        if (p.has(11))
            drawDib(p.bytesFrom(11), QRectF(p.s(10), p.s(9), p.s(8), p.s(7)),
                    QRectF(p.s(6), p.s(5), p.s(4), p.s(3)), p.u32(0), true);
        break;
    case kSetDibToDev:
        if (p.has(9))
            drawDib(p.bytesFrom(9), QRectF(p.s(8), p.s(7), p.s(6), p.s(5)),
                    QRectF(p.s(4), p.s(3), p.s(6), p.s(5)), kSrcCopy, true);
        break;
    case kCreatePenIndirect: {
        PenSpec object;
        const uint16_t style = p.u(0);
        if ((style & 0x0F) == 5) {
            object.pen = QPen(Qt::NoPen);
        } else {
            object.pen = QPen(colourOf(p.u32(3)), std::abs(p.s(1)));
            static constexpr Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                                       Qt::DashDotLine, Qt::DashDotDotLine};
            object.pen.setStyle((style & 0x0F) < 5 ? kStyles[style & 0x0F] : Qt::SolidLine);
            const int cap = style & 0x0F00;
            object.pen.setCapStyle(cap == 0x100   ? Qt::SquareCap
                                   : cap == 0x200 ? Qt::FlatCap
                                                  : Qt::RoundCap);
            const int join = style & 0xF000;
            object.pen.setJoinStyle(join == 0x1000   ? Qt::BevelJoin
                                    : join == 0x2000 ? Qt::MiterJoin
                                                     : Qt::RoundJoin);
        }
        addObject(object);
        break;
    }
    case kCreateBrushIndirect: {
        BrushSpec object;
        const uint16_t style = p.u(0);
        const QColor colour = colourOf(p.u32(1));
        if (style == 0) {
            object.brush = QBrush(colour);
        } else if (style == 2) {
            static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                          Qt::FDiagPattern, Qt::BDiagPattern,
                                                          Qt::CrossPattern, Qt::DiagCrossPattern};
            const uint16_t hatch = p.u(3);
            object.brush = QBrush(colour, hatch < 6 ? kHatches[hatch] : Qt::SolidPattern);
        } else {
            object.brush = QBrush(Qt::NoBrush);
        }
        addObject(object);
        break;
    }
    case kDibCreatePatternBrush: {
        BrushSpec object;
        QString error;
        if (p.u(0) != 3) { // BS_PATTERN holds a device-dependent bitmap, which is not played
            const TBitmap pattern = decodePackedDib(p.bytesFrom(2), &error);
            if (!pattern.Empty())
                object.brush = QBrush(pattern.Image().convertToFormat(QImage::Format_RGB32));
        }
        addObject(object);
        break;
    }
    case kCreateFontIndirect: {
        FontSpec object;
        object.height = p.s(0);
        object.escapement = p.s(2);
        const int weight = p.s(4);
        const auto bytes = p.bytesFrom(5);
        auto byteAt = [&](size_t i) {
            return i < bytes.size() ? bytes[i] : uint8_t(0);
        };
        QByteArray face;
        for (size_t i = 8; i < bytes.size() && i < 8 + 32 && bytes[i] != 0; ++i)
            face.append(char(bytes[i]));
        if (!face.isEmpty())
            object.font.setFamilies({QString::fromLatin1(face)});
        object.font.setWeight(weight > 0 ? QFont::Weight(std::clamp(weight, 1, 1000))
                                         : QFont::Normal);
        object.font.setItalic(byteAt(0) != 0);
        object.font.setUnderline(byteAt(1) != 0);
        object.font.setStrikeOut(byteAt(2) != 0);
        object.font.setStyleStrategy(QFont::NoAntialias);
        addObject(object);
        break;
    }
    case kCreatePatternBrush:
        addObject(BrushSpec{QBrush(Qt::NoBrush)});
        break;
    case kCreatePalette:
    case kCreateRegion:
        addObject(Placeholder{});
        break;
    case kSelectObject:
        selectObject(p.u(0));
        break;
    case kDeleteObject:
        deleteObject(p.u(0));
        break;
    case kIntersectClipRect:
    case kExcludeClipRect:
        if (p.has(4))
            intersectClip(p.rectReversed(0), function == kExcludeClipRect);
        break;
    case kSelectClipRegion:
        m_state.clip.reset();
        break;
    case kSetMapMode:
    case kRealizePalette:
    default:
        break;
    }
}

} // namespace qdx
