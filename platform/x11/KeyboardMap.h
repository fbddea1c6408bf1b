#pragma once

// The X server's own keyboard map, read for one key: which key a key code is when no modifier is
// held. A shifted digit or punctuation key arrives in toolkits as the symbol it types with Shift
// ('!' for Shift+1); shortcuts name the key itself.

#include <cstdint>

struct xcb_connection_t;

namespace qdx::x11 {

// The virtual-key code of the key with X key code `keycode` at its first level (the digit of
// the key that types '!' with Shift on a US keyboard, whatever the layout puts there); 0 when the
// key has none or the map cannot be read.
int baseVirtualKeyOfKeycode(xcb_connection_t* connection, uint32_t keycode);

} // namespace qdx::x11
