#pragma once

// Another X client for the tests: it makes windows of known colours, cursors, virtual monitors and
// key grabs of its own, through a connection separate from the code under test.

#include <QRect>
#include <QRgb>

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

namespace qdx::test {

class XClient {
public:
    // Connects to $DISPLAY; connected() is false when that fails.
    XClient();
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool connected() const { return m_screen != nullptr; }
    xcb_connection_t* get() const { return m_c; }
    xcb_window_t root() const { return m_screen->root; }
    QRect rootRect() const;

    // A mapped, override-redirect window filled with `colour` (as near as the visual allows).
    xcb_window_t window(const QRect& rect, QRgb colour);
    void destroy(xcb_window_t window);
    void focus(xcb_window_t window);

    // A cursor of `size` whose pixels are `fore` inside `foreRect` and `back` elsewhere, fully
    // opaque, with its hot spot at `hot`; shown over `window`.
    xcb_cursor_t cursor(QSize size, QPoint hot, QRect foreRect, QRgb fore, QRgb back);
    void showCursor(xcb_window_t window, xcb_cursor_t cursor);

    // Passive key grabs on the root window of this client; false when the server refused one.
    bool grabKey(uint32_t keysym, uint16_t modifiers);
    void ungrabKey(uint32_t keysym, uint16_t modifiers);
    // True when every lock variant (none, Lock, Mod2, both) of the combination can be grabbed
    // by this client, that is when no other client holds any; the grabs are released again.
    bool canGrabAllVariants(uint32_t keysym, uint16_t modifiers);
    std::vector<xcb_keycode_t> keycodesOf(uint32_t keysym);
    // Gives the key `keycode` the keysym `keysym` on every level, as a layout change does; the
    // server tells every client with a MappingNotify. Returns the keysyms it had before.
    std::vector<uint32_t> mapKey(xcb_keycode_t keycode, uint32_t keysym);
    // Gives the key its keysyms back (as mapKey returned them).
    void restoreKey(xcb_keycode_t keycode, const std::vector<uint32_t>& keysyms);
    // The keyboard's modifier and lock state (Shift, Lock, Control, Mod1..Mod5 bits).
    uint16_t modifierState();

    // A RandR 1.5 monitor without outputs, made primary when asked; false when refused.
    bool addMonitor(const char* name, const QRect& rect, bool primary);
    void removeMonitor(const char* name);

    void sync();

private:
    xcb_connection_t* m_c = nullptr;
    xcb_screen_t* m_screen = nullptr;
    std::vector<xcb_window_t> m_windows;
};

} // namespace qdx::test
