#include "platform/x11/KeyboardMap.h"

#include "platform/core/VirtualKeys.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <memory>

namespace qdx::x11 {

int baseVirtualKeyOfKeycode(xcb_connection_t* connection, uint32_t keycode) {
    if (!connection || keycode < 8 || keycode > 255)
        return 0;
    const std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(connection), &xcb_key_symbols_free);
    if (!symbols)
        return 0;
    const xcb_keysym_t keysym =
        xcb_key_symbols_get_keysym(symbols.get(), xcb_keycode_t(keycode), 0);
    return keysym ? virtualKeyOfKeysym(keysym) : 0;
}

} // namespace qdx::x11
