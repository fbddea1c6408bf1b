#pragma once

#include <QList>
#include <QPixmap>
#include <QSize>

// The thumbnails of the image browser: pictures of one cell size, addressed by their index.
class TImageList {
public:
    int Width() const { return m_size.width(); }
    int Height() const { return m_size.height(); }
    QSize Size() const { return m_size; }
    // A new cell size empties the list, as every image must have the cell's size.
    void SetSize(QSize size) {
        m_size = size;
        m_images.clear();
    }
    int Count() const { return int(m_images.size()); }
    // Adds an image of the cell size; returns its index.
    int Add(const QPixmap& image) {
        m_images.append(image);
        return int(m_images.size()) - 1;
    }
    const QPixmap& Image(int index) const { return m_images.at(index); }
    void Clear() { m_images.clear(); }

private:
    QSize m_size;
    QList<QPixmap> m_images;
};
