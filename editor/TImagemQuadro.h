#pragma once

#include "platform/core/TBitmap.h"

#include <QWidget>

// The picture control of the film windows: it holds a frame and draws it stretched over its whole
// area (Stretch) or unscaled at its top-left corner; with AutoSize it takes the frame's own size.
class TImagemQuadro : public QWidget {
public:
    explicit TImagemQuadro(QWidget* parent = nullptr);

    const TBitmap& Picture() const { return m_picture; }
    void SetPicture(TBitmap picture);
    void Clear() { SetPicture(TBitmap()); }

    bool Stretch() const { return m_stretch; }
    void SetStretch(bool stretch);
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool autoSize);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void adjustSize();

    TBitmap m_picture;
    bool m_stretch = false;
    bool m_autoSize = true;
};
