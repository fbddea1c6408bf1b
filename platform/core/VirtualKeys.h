#pragma once

// Windows virtual-key codes are the key values of shortcuts (config.ini and the hot keys carry
// them); this is the one table that maps them to X keysyms and back.

#include <QString>

#include <cstdint>

namespace qdx {

// The X keysym of a virtual-key code (0x41 'A' -> XK_a); 0 when the code has none.
uint32_t keysymOfVirtualKey(int virtualKey);
// The virtual-key code of an X keysym (XK_a and XK_A -> 0x41); 0 when none.
int virtualKeyOfKeysym(uint32_t keysym);
// The X keyboard's own name of the key a virtual-key code stands for ("semicolon", "Print"),
// empty when it has none.
QString keyboardKeyName(int virtualKey);

} // namespace qdx
