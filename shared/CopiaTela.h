#pragma once

#include "platform/core/TBitmap.h"

#include <memory>

namespace qdx::x11 {
class ScreenSource;
} // namespace qdx::x11

// A plain copy of the whole primary screen (the pointer is not drawn in) at the colour depth that
// numero_cores names (the screen's own 32 bits when the name is not recognised); none when the
// screen cannot be copied (no X display, a refused request).
std::unique_ptr<TBitmap> CopiarTela(qdx::x11::ScreenSource& screen);
// The same from the X server's primary monitor, through a connection of its own.
std::unique_ptr<TBitmap> CopiarTela();
