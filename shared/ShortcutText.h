#pragma once

// Shortcut values and their text form. A shortcut value is 16 bits: the low byte is a Windows
// virtual-key code, 0x2000 Shift, 0x4000 Ctrl and 0x8000 Alt. config.ini and the hot keys carry
// these values; the text form is "Shift+", "Ctrl+", "Alt+" (in that order, for the flags set)
// followed by the key's name, e.g. "Ctrl+Alt+C".

#include <QString>

#include <cstdint>

inline constexpr uint16_t scShift = 0x2000;
inline constexpr uint16_t scCtrl = 0x4000;
inline constexpr uint16_t scAlt = 0x8000;

// The name of a key code: BkSp, Tab, Enter, Esc, Space, PgUp, PgDn, End, Home, arrows, Ins, Del,
// digits and capital letters, keypad digits as the digit, F1..F24, and the X keyboard's own name
// for any other key. Empty when the key has no name.
QString shortCutKeyName(int virtualKey);

// The text of a shortcut value; empty when its key has no name.
QString ShortCutToText(uint16_t shortCut);

// The value of a shortcut text. The prefixes "Shift+", "Ctrl+", "Alt+" are accepted in any order,
// letter case and number, "^" for "Ctrl+"; the rest must equal (ignoring case) the name of a key
// code from 8 upwards, the first such code counting, so a digit always reads as the ordinary digit
// key. Anything else gives 0 (no shortcut).
uint16_t TextToShortCut(const QString& text);
