#pragma once

// Reducing a picture while its rows are read, for thumbnails of pictures too large to decode
// whole: each block of k x k pixels becomes one pixel, the average of the block, so only the
// reduced picture and one row of sums (or, for rows that come out of order, the sums of the whole
// reduced picture) are ever held.

#include <QImage>
#include <QSize>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qdx {

class PictureReducer {
public:
    // The factor for a width x height picture: the largest k whose reduced picture is still not
    // below `atLeast` either way; 1 (no reduction) for an invalid size or a small picture. At most
    // 4096, so that the sums of a block fit in 32 bits.
    static int factorFor(int width, int height, QSize atLeast) {
        if (!atLeast.isValid() || atLeast.width() <= 0 || atLeast.height() <= 0)
            return 1;
        return std::clamp(std::min(width / atLeast.width(), height / atLeast.height()), 1, 4096);
    }

    // How the rows come, each once: top to bottom or bottom to top (one row of sums is held), or
    // in any order (the sums of the whole reduced picture are held).
    enum class Order { TopDown, BottomUp, Any };

    PictureReducer(int width, int height, int factor, Order order)
        : m_width(width), m_height(height), m_factor(std::max(factor, 1)),
          m_outWidth((width + m_factor - 1) / m_factor),
          m_outHeight((height + m_factor - 1) / m_factor), m_order(order),
          m_image(m_outWidth, m_outHeight, QImage::Format_RGB32),
          m_sums(size_t(m_outWidth) * 3 * (order == Order::Any ? size_t(m_outHeight) : 1), 0) {}

    bool isNull() const { return m_image.isNull(); }

    // Adds row `y` of the picture: `width` colours.
    void addRow(int y, const QRgb* row) {
        if (y < 0 || y >= m_height || m_image.isNull())
            return;
        const int outY = y / m_factor;
        const bool any = m_order == Order::Any;
        uint32_t* sums = m_sums.data() + (any ? size_t(outY) * size_t(m_outWidth) * 3 : 0);
        for (int outX = 0, x = 0; outX < m_outWidth; ++outX, sums += 3) {
            const int end = std::min(x + m_factor, m_width);
            for (; x < end; ++x) {
                sums[0] += uint32_t(qRed(row[x]));
                sums[1] += uint32_t(qGreen(row[x]));
                sums[2] += uint32_t(qBlue(row[x]));
            }
        }
        // The last row of a band in the order the rows come ends it.
        const bool ended = m_order == Order::TopDown
                               ? y % m_factor == m_factor - 1 || y == m_height - 1
                               : y % m_factor == 0;
        if (!any && ended) {
            store(outY, m_sums.data());
            std::fill(m_sums.begin(), m_sums.end(), 0u);
        }
    }

    // Adds `count` pixels of row `y` from column `x` on, every `step` columns (the pixels of one
    // pass of an interlaced picture); only for rows that come in any order.
    void addPixels(int y, int x, int step, int count, const QRgb* pixels) {
        if (y < 0 || y >= m_height || m_image.isNull() || m_order != Order::Any)
            return;
        uint32_t* sums = m_sums.data() + size_t(y / m_factor) * size_t(m_outWidth) * 3;
        for (int i = 0; i < count && x < m_width; ++i, x += step) {
            uint32_t* sum = sums + size_t(x / m_factor) * 3;
            sum[0] += uint32_t(qRed(pixels[i]));
            sum[1] += uint32_t(qGreen(pixels[i]));
            sum[2] += uint32_t(qBlue(pixels[i]));
        }
    }

    // The reduced picture, once every row was added.
    QImage result() {
        if (m_order == Order::Any && !m_image.isNull())
            for (int outY = 0; outY < m_outHeight; ++outY)
                store(outY, m_sums.data() + size_t(outY) * size_t(m_outWidth) * 3);
        return m_image;
    }

private:
    void store(int outY, const uint32_t* sums) {
        const int rows = std::min(m_factor, m_height - outY * m_factor);
        QRgb* out = reinterpret_cast<QRgb*>(m_image.scanLine(outY));
        for (int outX = 0; outX < m_outWidth; ++outX, sums += 3) {
            const uint32_t count =
                uint32_t(std::min(m_factor, m_width - outX * m_factor)) * uint32_t(rows);
            out[outX] = qRgb(int((sums[0] + count / 2) / count), int((sums[1] + count / 2) / count),
                             int((sums[2] + count / 2) / count));
        }
    }

    int m_width;
    int m_height;
    int m_factor;
    int m_outWidth;
    int m_outHeight;
    Order m_order;
    QImage m_image;
    std::vector<uint32_t> m_sums;
};

} // namespace qdx
