#pragma once

#include "platform/core/TBitmap.h"

#include <QSize>

namespace qdx::x11 {

// Where frames of the screen come from. The X11 grabber is the real one; the recorder's tests
// put a fake in its place.
class ScreenSource {
public:
    virtual ~ScreenSource() = default;
    // A copy of the whole primary screen at `format` (converted by TBitmap's rules). Throws
    // X11Error when the copy fails.
    virtual TBitmap grab(TPixelFormat format) = 0;
    // Width and height of the screen that the next grab copies.
    virtual QSize size() const = 0;
};

} // namespace qdx::x11
