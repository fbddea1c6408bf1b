#pragma once

#include "platform/core/TBitmap.h"

#include <QPixmap>
#include <QWidget>

// A picture control: it holds a bitmap, is exactly as large as the bitmap, and draws it unscaled at
// its top-left corner.
class TImage : public QWidget {
public:
    explicit TImage(QWidget* parent = nullptr);

    const TBitmap& Picture() const { return m_picture; }
    // Takes the bitmap and sizes the control to it.
    void SetPicture(TBitmap picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBitmap m_picture;
    QPixmap m_pixmap; // made at the first paint, so that taking a picture stays cheap
    bool m_pixmapStale = false;
};
