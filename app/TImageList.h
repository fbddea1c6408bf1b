#pragma once

#include <QPixmap>
#include <QSize>

#include <algorithm>
#include <cstdint>
#include <map>

// The thumbnails of the image browser: pictures of one cell size, held by the index of their entry
// in the list, within a budget of bytes. The list only counts: the window decides which entries
// hold a thumbnail and drops the ones farthest from the view when the budget is spent.
class TImageList {
public:
    // What all thumbnails of a window may hold together: 256 MiB.
    static constexpr int64_t kOrcamento = int64_t(256) << 20;

    int Width() const { return m_size.width(); }
    int Height() const { return m_size.height(); }
    QSize Size() const { return m_size; }
    // A new cell size empties the list, as every image must have the cell's size.
    void SetSize(QSize size) {
        m_size = size;
        Clear();
    }
    // The bytes one thumbnail of the cell size holds (32 bits a pixel).
    int64_t CellBytes() const { return int64_t(m_size.width()) * m_size.height() * 4; }

    int64_t Budget() const { return m_budget; }
    void SetBudget(int64_t bytes) { m_budget = bytes; }
    // The bytes the thumbnails held now take.
    int64_t Bytes() const { return m_bytes; }

    int Count() const { return int(m_images.size()); }
    bool Has(int entry) const { return m_images.count(entry) != 0; }
    // The thumbnail of an entry (replacing the one it held); null pictures are not held.
    void Put(int entry, const QPixmap& image) {
        Drop(entry);
        if (image.isNull())
            return;
        m_images.emplace(entry, image);
        m_bytes += bytesOf(image);
    }
    void Drop(int entry) {
        const auto it = m_images.find(entry);
        if (it == m_images.end())
            return;
        m_bytes -= bytesOf(it->second);
        m_images.erase(it);
    }
    // The thumbnail of an entry; a null picture when it holds none.
    QPixmap Image(int entry) const {
        const auto it = m_images.find(entry);
        return it == m_images.end() ? QPixmap() : it->second;
    }
    // The lowest and highest entries that hold a thumbnail (-1 when none does).
    int First() const { return m_images.empty() ? -1 : m_images.begin()->first; }
    int Last() const { return m_images.empty() ? -1 : m_images.rbegin()->first; }
    void Clear() {
        m_images.clear();
        m_bytes = 0;
    }

private:
    static int64_t bytesOf(const QPixmap& image) {
        return int64_t(image.width()) * image.height() * std::max(image.depth(), 1) / 8;
    }

    QSize m_size;
    int64_t m_budget = kOrcamento;
    int64_t m_bytes = 0;
    std::map<int, QPixmap> m_images;
};
