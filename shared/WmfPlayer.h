#pragma once

// Plays the records of a 16-bit Windows metafile onto a bitmap with QPainter: window origin and
// extent, saved states, pens, brushes (solid, hatched, DIB patterns), fonts, lines, polylines,
// polygons, rectangles, rounded rectangles, ellipses, arcs, pies, chords, pixels, text, pattern
// fills, clipping rectangles and the DIB records (StretchDIB, DIBStretchBlt, DIBBitBlt,
// SetDIBitsToDevice). Other records are stepped over. Drawing is not antialiased, as on the
// platform the format comes from.

#include "platform/core/TBitmap.h"

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRegion>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace qdx {

class WmfPlayer {
public:
    // A white picture of `pixels`; the window (logical units) starts as `bounds`, the placeable
    // header's bounding box. `objectCount` sizes the object table (it grows when a file
    // creates more).
    WmfPlayer(QSize pixels, QRect bounds, int objectCount);
    WmfPlayer(const WmfPlayer&) = delete;
    WmfPlayer& operator=(const WmfPlayer&) = delete;

    // Plays the records up to the end-of-file record. A record whose declared size is impossible,
    // a record that runs past the end of the data and data that ends before the end-of-file
    // record (a file cut short) throw PictureError.
    void play(std::span<const uint8_t> records);

    // The picture drawn so far, 32 bits per pixel.
    TBitmap result();

private:
    struct FontSpec {
        QFont font;
        int height = 0;     // logical units; negative: character height, positive: cell height
        int escapement = 0; // tenths of a degree, counter-clockwise
    };
    struct PenSpec {
        QPen pen;
    };
    struct BrushSpec {
        QBrush brush;
    };
    struct Placeholder {}; // palettes, regions and other objects that take a slot but do nothing
    using Object = std::variant<Placeholder, PenSpec, BrushSpec, FontSpec>;

    struct State {
        QPen pen;
        QBrush brush;
        FontSpec font;
        QColor textColour = Qt::black;
        QColor backColour = Qt::white;
        bool opaqueBackground = true;
        int textAlign = 0;
        Qt::FillRule fillRule = Qt::OddEvenFill;
        QPointF position;
        QPointF windowOrigin;
        QPointF windowExtent;
        std::optional<QRegion> clip; // device pixels
    };

    // Parameters of one record, read as 16-bit words; reading past the end gives nothing.
    class Params;

    void dispatch(uint16_t function, const Params& p);
    QTransform transform() const;
    void applyState();
    void addObject(Object object);
    void selectObject(int index);
    void deleteObject(int index);

    void drawShape(const QPainterPath& path, bool fill);
    void drawArcRecord(const Params& p, int kind);
    void drawText(QPointF logical, const QByteArray& bytes, const std::vector<int>& advances,
                  uint16_t options, std::optional<QRectF> rect);
    void fillPattern(const QRectF& logical, uint32_t rop);
    void drawDib(std::span<const uint8_t> packed, QRectF target, QRectF source, uint32_t rop,
                 bool sourceFromBottom);
    void intersectClip(const QRectF& logical, bool exclude);

    QImage m_image;
    QPainter m_painter;
    State m_state;
    std::vector<State> m_saved;
    std::vector<std::optional<Object>> m_objects;
};

} // namespace qdx
