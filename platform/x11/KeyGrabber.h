#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

struct _XCBKeySymbols;
class QSocketNotifier;

namespace qdx::x11 {

class XcbConnection;

// System-wide hot keys on X11: passive key grabs on the root window, so that a key combination
// reaches this program whichever window has the focus. A combination is given as a shortcut value:
// the low byte a virtual-key code, 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt. Each combination is
// grabbed also with CapsLock, NumLock and both held, so that the lock keys do not disable it.
//
// The grabber has its own X connection. It belongs to the thread that creates it (the GUI
// thread), which must run an event loop: key presses are read from the connection's socket
// through a socket notifier there, and `onPressed` is called there. When the keyboard mapping
// changes (another layout), every held combination is grabbed again at its keys' new codes.
class KeyGrabber {
public:
    static constexpr uint16_t kShift = 0x2000;
    static constexpr uint16_t kCtrl = 0x4000;
    static constexpr uint16_t kAlt = 0x8000;

    // Throws NoDisplayError without a display.
    explicit KeyGrabber(const QByteArray& display = {});
    // Releases every grab it holds.
    ~KeyGrabber();
    KeyGrabber(const KeyGrabber&) = delete;
    KeyGrabber& operator=(const KeyGrabber&) = delete;

    // Grabs the combination. False, with nothing grabbed, when the value has bits besides the
    // key, Shift, Ctrl and Alt, when the key has no key code on this keyboard, when another X
    // client holds any of its grabs, or when this program holds the same shortcut value already
    // (through this grabber or another).
    bool grab(uint16_t shortcut);
    // Releases the combination; false when this grabber does not hold it or the connection broke.
    bool ungrab(uint16_t shortcut);
    bool holds(uint16_t shortcut) const { return m_held.count(shortcut) != 0; }

    // The shortcut value a key press stands for: the key's virtual-key code and the Shift, Ctrl
    // and Alt bits of its modifier state; CapsLock and NumLock are ignored. 0 for keys without a
    // virtual-key code.
    uint16_t shortcutOf(xcb_keycode_t keycode, uint16_t state) const;

    // Called with the shortcut value when a held combination is pressed.
    std::function<void(uint16_t shortcut)> onPressed;

private:
    using Grab = std::pair<xcb_keycode_t, uint16_t>; // key code, modifier mask
    std::vector<Grab> grabsOf(uint16_t shortcut) const;
    void readModifierMasks();
    // Grabs every held shortcut again at the key codes of the current keyboard mapping.
    void regrabAll();
    void readEvents();
    void readEventsLater();

    struct SymbolsFree {
        void operator()(_XCBKeySymbols* symbols) const;
    };
    std::unique_ptr<XcbConnection> m_connection;
    std::unique_ptr<_XCBKeySymbols, SymbolsFree> m_symbols;
    std::unique_ptr<QSocketNotifier> m_notifier;
    uint16_t m_altMask = XCB_MOD_MASK_1;
    uint16_t m_numLockMask = XCB_MOD_MASK_2;
    std::map<uint16_t, std::vector<Grab>> m_held; // shortcut value -> its grabs
    std::map<Grab, int> m_grabUsers;              // shortcuts of this grabber using each grab
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

} // namespace qdx::x11
