#pragma once

#include "platform/x11/X11Error.h"

namespace qdx::x11 {

// There is no X display to talk to: DISPLAY is unset, or the server it names cannot be reached.
// Screen grabs and hot keys need X11 (or XWayland); callers catch this to say so.
class NoDisplayError : public X11Error {
public:
    using X11Error::X11Error;
};

} // namespace qdx::x11
