#pragma once

#include "platform/core/TBitmap.h"

#include <QSize>

namespace qdx {

// Where screen copies come from: the X server's primary monitor in the programs, a scripted
// picture in tests. A source is used by one thread at a time.
class ScreenSource {
public:
    virtual ~ScreenSource() = default;
    // A copy of the whole primary screen with the pointer drawn in, at the given depth.
    // Throws qdx::Exception (or a subclass) when the screen cannot be copied.
    virtual TBitmap grab(TPixelFormat pixelFormat) = 0;
    // The primary screen's size in pixels.
    virtual QSize size() = 0;
};

} // namespace qdx
