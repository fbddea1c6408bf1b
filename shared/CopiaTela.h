#pragma once

#include "platform/core/TBitmap.h"

#include <memory>

// A copy of the whole primary screen, pointer included, at the colour depth that numero_cores
// names (the screen's own 32 bits when the name is not recognised); none when the screen cannot be
// copied (no X display, a refused request).
std::unique_ptr<TBitmap> CopiarTela();
