#pragma once

#include <QKeySequence>

#include <cstdint>

// The key sequence menus show and answer for a shortcut value (virtual-key code in the low byte,
// 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt); an empty sequence for 0 or a key Qt cannot name.
QKeySequence keySequenceOf(uint16_t shortCut);
