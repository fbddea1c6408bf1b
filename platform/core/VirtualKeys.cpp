#include "platform/core/VirtualKeys.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <array>

namespace qdx {

namespace {

struct KeyPair {
    int virtualKey;
    uint32_t keysym;
};

// Virtual-key code -> keysym the key carries at its first level on a US layout. Each keysym
// appears once here, so the mapping is one-to-one in both directions.
constexpr KeyPair kKeys[] = {
    {0x08, XKB_KEY_BackSpace},
    {0x09, XKB_KEY_Tab},
    {0x0C, XKB_KEY_Clear},
    {0x0D, XKB_KEY_Return},
    // Modifiers by their generic codes; the side-specific codes 0xA0..0xA5 are left out, since a
    // pressed modifier is reported with the generic code whichever side it is on.
    {0x10, XKB_KEY_Shift_L},
    {0x11, XKB_KEY_Control_L},
    {0x12, XKB_KEY_Alt_L},
    {0x13, XKB_KEY_Pause},
    {0x14, XKB_KEY_Caps_Lock},
    {0x1B, XKB_KEY_Escape},
    {0x20, XKB_KEY_space},
    {0x21, XKB_KEY_Prior},
    {0x22, XKB_KEY_Next},
    {0x23, XKB_KEY_End},
    {0x24, XKB_KEY_Home},
    {0x25, XKB_KEY_Left},
    {0x26, XKB_KEY_Up},
    {0x27, XKB_KEY_Right},
    {0x28, XKB_KEY_Down},
    {0x29, XKB_KEY_Select},
    // 0x2A (the old "print" key) has no keysym of its own: Print belongs to 0x2C.
    {0x2B, XKB_KEY_Execute},
    {0x2C, XKB_KEY_Print},
    {0x2D, XKB_KEY_Insert},
    {0x2E, XKB_KEY_Delete},
    {0x2F, XKB_KEY_Help},
    {0x30, XKB_KEY_0},
    {0x31, XKB_KEY_1},
    {0x32, XKB_KEY_2},
    {0x33, XKB_KEY_3},
    {0x34, XKB_KEY_4},
    {0x35, XKB_KEY_5},
    {0x36, XKB_KEY_6},
    {0x37, XKB_KEY_7},
    {0x38, XKB_KEY_8},
    {0x39, XKB_KEY_9},
    {0x41, XKB_KEY_a},
    {0x42, XKB_KEY_b},
    {0x43, XKB_KEY_c},
    {0x44, XKB_KEY_d},
    {0x45, XKB_KEY_e},
    {0x46, XKB_KEY_f},
    {0x47, XKB_KEY_g},
    {0x48, XKB_KEY_h},
    {0x49, XKB_KEY_i},
    {0x4A, XKB_KEY_j},
    {0x4B, XKB_KEY_k},
    {0x4C, XKB_KEY_l},
    {0x4D, XKB_KEY_m},
    {0x4E, XKB_KEY_n},
    {0x4F, XKB_KEY_o},
    {0x50, XKB_KEY_p},
    {0x51, XKB_KEY_q},
    {0x52, XKB_KEY_r},
    {0x53, XKB_KEY_s},
    {0x54, XKB_KEY_t},
    {0x55, XKB_KEY_u},
    {0x56, XKB_KEY_v},
    {0x57, XKB_KEY_w},
    {0x58, XKB_KEY_x},
    {0x59, XKB_KEY_y},
    {0x5A, XKB_KEY_z},
    {0x5B, XKB_KEY_Super_L},
    {0x5C, XKB_KEY_Super_R},
    {0x5D, XKB_KEY_Menu},
    {0x5F, XKB_KEY_XF86Sleep},
    {0x60, XKB_KEY_KP_0},
    {0x61, XKB_KEY_KP_1},
    {0x62, XKB_KEY_KP_2},
    {0x63, XKB_KEY_KP_3},
    {0x64, XKB_KEY_KP_4},
    {0x65, XKB_KEY_KP_5},
    {0x66, XKB_KEY_KP_6},
    {0x67, XKB_KEY_KP_7},
    {0x68, XKB_KEY_KP_8},
    {0x69, XKB_KEY_KP_9},
    {0x6A, XKB_KEY_KP_Multiply},
    {0x6B, XKB_KEY_KP_Add},
    {0x6C, XKB_KEY_KP_Separator},
    {0x6D, XKB_KEY_KP_Subtract},
    {0x6E, XKB_KEY_KP_Decimal},
    {0x6F, XKB_KEY_KP_Divide},
    {0x70, XKB_KEY_F1},
    {0x71, XKB_KEY_F2},
    {0x72, XKB_KEY_F3},
    {0x73, XKB_KEY_F4},
    {0x74, XKB_KEY_F5},
    {0x75, XKB_KEY_F6},
    {0x76, XKB_KEY_F7},
    {0x77, XKB_KEY_F8},
    {0x78, XKB_KEY_F9},
    {0x79, XKB_KEY_F10},
    {0x7A, XKB_KEY_F11},
    {0x7B, XKB_KEY_F12},
    {0x7C, XKB_KEY_F13},
    {0x7D, XKB_KEY_F14},
    {0x7E, XKB_KEY_F15},
    {0x7F, XKB_KEY_F16},
    {0x80, XKB_KEY_F17},
    {0x81, XKB_KEY_F18},
    {0x82, XKB_KEY_F19},
    {0x83, XKB_KEY_F20},
    {0x84, XKB_KEY_F21},
    {0x85, XKB_KEY_F22},
    {0x86, XKB_KEY_F23},
    {0x87, XKB_KEY_F24},
    {0x90, XKB_KEY_Num_Lock},
    {0x91, XKB_KEY_Scroll_Lock},
    {0xA6, XKB_KEY_XF86Back},
    {0xA7, XKB_KEY_XF86Forward},
    {0xA8, XKB_KEY_XF86Refresh},
    {0xA9, XKB_KEY_XF86Stop},
    {0xAA, XKB_KEY_XF86Search},
    {0xAB, XKB_KEY_XF86Favorites},
    {0xAC, XKB_KEY_XF86HomePage},
    {0xAD, XKB_KEY_XF86AudioMute},
    {0xAE, XKB_KEY_XF86AudioLowerVolume},
    {0xAF, XKB_KEY_XF86AudioRaiseVolume},
    {0xB0, XKB_KEY_XF86AudioNext},
    {0xB1, XKB_KEY_XF86AudioPrev},
    {0xB2, XKB_KEY_XF86AudioStop},
    {0xB3, XKB_KEY_XF86AudioPlay},
    {0xB4, XKB_KEY_XF86Mail},
    // Punctuation keys of a US layout, by their unshifted symbol.
    {0xBA, XKB_KEY_semicolon},
    {0xBB, XKB_KEY_equal},
    {0xBC, XKB_KEY_comma},
    {0xBD, XKB_KEY_minus},
    {0xBE, XKB_KEY_period},
    {0xBF, XKB_KEY_slash},
    {0xC0, XKB_KEY_grave},
    {0xDB, XKB_KEY_bracketleft},
    {0xDC, XKB_KEY_backslash},
    {0xDD, XKB_KEY_bracketright},
    {0xDE, XKB_KEY_apostrophe},
    // The extra key of 102-key keyboards, left of Z.
    {0xE2, XKB_KEY_less},
};

// Keysyms that X reports for keys of the table in other states: capital letters, the keypad with
// NumLock off, Shift+Tab, the right-hand modifiers. They map back to the code of the key; a keysym
// is never produced here.
constexpr KeyPair kBackwardOnly[] = {
    {0x41, XKB_KEY_A},         {0x42, XKB_KEY_B},         {0x43, XKB_KEY_C},
    {0x44, XKB_KEY_D},         {0x45, XKB_KEY_E},         {0x46, XKB_KEY_F},
    {0x47, XKB_KEY_G},         {0x48, XKB_KEY_H},         {0x49, XKB_KEY_I},
    {0x4A, XKB_KEY_J},         {0x4B, XKB_KEY_K},         {0x4C, XKB_KEY_L},
    {0x4D, XKB_KEY_M},         {0x4E, XKB_KEY_N},         {0x4F, XKB_KEY_O},
    {0x50, XKB_KEY_P},         {0x51, XKB_KEY_Q},         {0x52, XKB_KEY_R},
    {0x53, XKB_KEY_S},         {0x54, XKB_KEY_T},         {0x55, XKB_KEY_U},
    {0x56, XKB_KEY_V},         {0x57, XKB_KEY_W},         {0x58, XKB_KEY_X},
    {0x59, XKB_KEY_Y},         {0x5A, XKB_KEY_Z},         {0x09, XKB_KEY_ISO_Left_Tab},
    {0x0D, XKB_KEY_KP_Enter},  {0x20, XKB_KEY_KP_Space},  {0x09, XKB_KEY_KP_Tab},
    {0x24, XKB_KEY_KP_Home},   {0x25, XKB_KEY_KP_Left},   {0x26, XKB_KEY_KP_Up},
    {0x27, XKB_KEY_KP_Right},  {0x28, XKB_KEY_KP_Down},   {0x21, XKB_KEY_KP_Prior},
    {0x22, XKB_KEY_KP_Next},   {0x23, XKB_KEY_KP_End},    {0x0C, XKB_KEY_KP_Begin},
    {0x2D, XKB_KEY_KP_Insert}, {0x2E, XKB_KEY_KP_Delete}, {0x10, XKB_KEY_Shift_R},
    {0x11, XKB_KEY_Control_R}, {0x12, XKB_KEY_Alt_R},     {0x12, XKB_KEY_Meta_L},
    {0x12, XKB_KEY_Meta_R},
};

// The forward table indexed by code, built once.
const std::array<uint32_t, 256>& forwardTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (const KeyPair& k : kKeys)
            t[k.virtualKey] = k.keysym;
        return t;
    }();
    return table;
}

} // namespace

uint32_t keysymOfVirtualKey(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    return forwardTable()[virtualKey];
}

int virtualKeyOfKeysym(uint32_t keysym) {
    if (keysym == 0)
        return 0;
    for (const KeyPair& k : kKeys)
        if (k.keysym == keysym)
            return k.virtualKey;
    for (const KeyPair& k : kBackwardOnly)
        if (k.keysym == keysym)
            return k.virtualKey;
    return 0;
}

QString keyboardKeyName(int virtualKey) {
    const uint32_t keysym = keysymOfVirtualKey(virtualKey);
    if (keysym == 0)
        return {};
    char name[64];
    const int length = xkb_keysym_get_name(keysym, name, sizeof name);
    if (length <= 0)
        return {};
    return QString::fromLatin1(name, qMin<int>(length, int(sizeof name) - 1));
}

} // namespace qdx
