#include "platform/x11/KeyGrabber.h"

#include "platform/core/VirtualKeys.h"
#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbReply.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace qdx::x11 {

namespace {

constexpr xcb_keysym_t kAltL = 0xFFE9;
constexpr xcb_keysym_t kMetaL = 0xFFE7;
constexpr xcb_keysym_t kNumLock = 0xFF7F;

// Shortcut values held by any grabber of this process. The X server refuses a grab that another
// connection holds, but a connection may grab the same combination twice without complaint; this
// set makes a second registration of one value in one program fail as well.
std::mutex heldMutex;
std::set<uint16_t>& heldInProcess() {
    static std::set<uint16_t> held;
    return held;
}

bool reserve(uint16_t shortcut) {
    std::lock_guard lock(heldMutex);
    return heldInProcess().insert(shortcut).second;
}

void release(uint16_t shortcut) {
    std::lock_guard lock(heldMutex);
    heldInProcess().erase(shortcut);
}

} // namespace

void KeyGrabber::SymbolsFree::operator()(_XCBKeySymbols* symbols) const {
    xcb_key_symbols_free(symbols);
}

KeyGrabber::KeyGrabber(const QByteArray& display)
    : m_connection(std::make_unique<XcbConnection>(display)),
      m_symbols(xcb_key_symbols_alloc(m_connection->get())) {
    readModifierMasks();
    m_notifier =
        std::make_unique<QSocketNotifier>(m_connection->fileDescriptor(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { readEvents(); });
}

KeyGrabber::~KeyGrabber() {
    m_notifier.reset();
    while (!m_held.empty())
        ungrab(m_held.begin()->first);
}

void KeyGrabber::readModifierMasks() {
    xcb_connection_t* c = m_connection->get();
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!mapping || !m_symbols)
        return;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    // The modifier (Shift, Lock, Control, Mod1..Mod5) whose keys include one of `keysyms`.
    const auto maskOf = [&](std::initializer_list<xcb_keysym_t> keysyms) -> uint16_t {
        for (xcb_keysym_t keysym : keysyms) {
            std::unique_ptr<xcb_keycode_t, XcbFree> codes(
                xcb_key_symbols_get_keycode(m_symbols.get(), keysym));
            if (!codes)
                continue;
            for (int modifier = 3; modifier < 8; ++modifier)
                for (int i = 0; i < perModifier; ++i)
                    for (const xcb_keycode_t* k = codes.get(); *k != XCB_NO_SYMBOL; ++k)
                        if (keycodes[modifier * perModifier + i] == *k)
                            return uint16_t(1u << modifier);
        }
        return 0;
    };
    if (const uint16_t alt = maskOf({kAltL, kMetaL}))
        m_altMask = alt;
    if (const uint16_t numLock = maskOf({kNumLock}))
        m_numLockMask = numLock;
}

std::vector<KeyGrabber::Grab> KeyGrabber::grabsOf(uint16_t shortcut) const {
    std::vector<Grab> grabs;
    const uint32_t keysym = keysymOfVirtualKey(shortcut & 0xFF);
    if (keysym == 0 || !m_symbols)
        return grabs;
    std::unique_ptr<xcb_keycode_t, XcbFree> codes(
        xcb_key_symbols_get_keycode(m_symbols.get(), keysym));
    if (!codes)
        return grabs;
    uint16_t modifiers = 0;
    if (shortcut & kShift)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (shortcut & kCtrl)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (shortcut & kAlt)
        modifiers |= m_altMask;
    const uint16_t locks[] = {0, XCB_MOD_MASK_LOCK, m_numLockMask,
                              uint16_t(XCB_MOD_MASK_LOCK | m_numLockMask)};
    for (const xcb_keycode_t* k = codes.get(); *k != XCB_NO_SYMBOL; ++k)
        for (uint16_t lock : locks) {
            const Grab grab{*k, uint16_t(modifiers | lock)};
            if (std::find(grabs.begin(), grabs.end(), grab) == grabs.end())
                grabs.push_back(grab);
        }
    return grabs;
}

bool KeyGrabber::grab(uint16_t shortcut) {
    // Bits other than the key and Shift, Ctrl and Alt (a hand-edited setting) name no
    // combination a press could be matched to; grabbing the rest would take the key away from
    // every program without ever reporting it.
    if (shortcut & ~uint16_t(0xFF | kShift | kCtrl | kAlt))
        return false;
    if (m_connection->broken() || !reserve(shortcut))
        return false;
    const std::vector<Grab> grabs = grabsOf(shortcut);
    if (grabs.empty()) {
        release(shortcut);
        return false;
    }
    xcb_connection_t* c = m_connection->get();
    const xcb_window_t root = m_connection->root();
    // Send every grab first and check them after, so that one round trip covers all of them.
    std::vector<std::pair<Grab, xcb_void_cookie_t>> sent;
    for (const Grab& g : grabs) {
        if (m_grabUsers.count(g)) // held already for another shortcut with the same key
            continue;
        sent.emplace_back(g, xcb_grab_key_checked(c, 0, root, g.second, g.first,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    std::vector<Grab> made;
    bool refused = false;
    for (const auto& [g, cookie] : sent) {
        XcbError error(xcb_request_check(c, cookie));
        if (error)
            refused = true; // BadAccess: another client grabbed this combination
        else
            made.push_back(g);
    }
    if (refused || m_connection->broken()) {
        // Leave no trace: undo every grab this call made.
        for (const Grab& g : made)
            xcb_ungrab_key(c, g.first, root, g.second);
        m_connection->sync();
        release(shortcut);
        readEventsLater();
        return false;
    }
    for (const Grab& g : grabs)
        ++m_grabUsers[g];
    m_held.emplace(shortcut, grabs);
    readEventsLater();
    return true;
}

bool KeyGrabber::ungrab(uint16_t shortcut) {
    const auto found = m_held.find(shortcut);
    if (found == m_held.end())
        return false;
    xcb_connection_t* c = m_connection->get();
    for (const Grab& g : found->second) {
        const auto users = m_grabUsers.find(g);
        if (users == m_grabUsers.end())
            continue;
        if (--users->second == 0) {
            xcb_ungrab_key(c, g.first, m_connection->root(), g.second);
            m_grabUsers.erase(users);
        }
    }
    m_held.erase(found);
    release(shortcut);
    const bool done = !m_connection->broken() && m_connection->sync();
    readEventsLater();
    return done;
}

uint16_t KeyGrabber::shortcutOf(xcb_keycode_t keycode, uint16_t state) const {
    if (!m_symbols)
        return 0;
    xcb_keysym_t keysym = xcb_key_symbols_get_keysym(m_symbols.get(), keycode, 0);
    // With NumLock on, the keypad gives its digits (the second level of those keys).
    if (state & m_numLockMask) {
        const xcb_keysym_t second = xcb_key_symbols_get_keysym(m_symbols.get(), keycode, 1);
        if (xcb_is_keypad_key(second))
            keysym = second;
    }
    const int virtualKey = virtualKeyOfKeysym(keysym);
    if (virtualKey <= 0 || virtualKey > 0xFF)
        return 0;
    uint16_t shortcut = uint16_t(virtualKey);
    if (state & XCB_MOD_MASK_SHIFT)
        shortcut |= kShift;
    if (state & XCB_MOD_MASK_CONTROL)
        shortcut |= kCtrl;
    if (state & m_altMask)
        shortcut |= kAlt;
    return shortcut;
}

void KeyGrabber::readEvents() {
    xcb_connection_t* c = m_connection->get();
    // A handler may destroy this grabber (and its connection); reading stops then.
    const std::weak_ptr<int> alive = m_lifetime;
    while (XcbEvent event{xcb_poll_for_event(c)}) {
        const uint8_t type = event->response_type & 0x7F;
        if (type == XCB_KEY_PRESS) {
            const auto* press = reinterpret_cast<xcb_key_press_event_t*>(event.get());
            const uint16_t shortcut = shortcutOf(press->detail, press->state);
            if (shortcut && holds(shortcut) && onPressed) {
                onPressed(shortcut);
                if (alive.expired())
                    return;
            }
        } else if (type == XCB_MAPPING_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_mapping_notify_event_t*>(event.get());
            xcb_refresh_keyboard_mapping(m_symbols.get(), notify);
            if (notify->request == XCB_MAPPING_MODIFIER ||
                notify->request == XCB_MAPPING_KEYBOARD) {
                readModifierMasks();
                regrabAll();
            }
        }
    }
    // A broken connection keeps its socket readable forever: stop listening rather than spin.
    if (m_connection->broken() && m_notifier)
        m_notifier->setEnabled(false);
}

void KeyGrabber::regrabAll() {
    // A new layout may put the keys on other key codes and Alt or NumLock on other modifiers: the
    // grabs of the old codes are given back and every held shortcut is grabbed where its key is
    // now. A grab another client holds by now is refused asynchronously and simply not made.
    xcb_connection_t* c = m_connection->get();
    const xcb_window_t root = m_connection->root();
    for (const auto& [grab, users] : m_grabUsers)
        xcb_ungrab_key(c, grab.first, root, grab.second);
    m_grabUsers.clear();
    for (auto& [shortcut, grabs] : m_held) {
        grabs = grabsOf(shortcut);
        for (const Grab& g : grabs)
            if (m_grabUsers[g]++ == 0)
                xcb_grab_key(c, 0, root, g.second, g.first, XCB_GRAB_MODE_ASYNC,
                             XCB_GRAB_MODE_ASYNC);
    }
    xcb_flush(c);
}

void KeyGrabber::readEventsLater() {
    // Waiting for replies may have moved events from the socket into XCB's queue, where the
    // socket notifier does not see them.
    if (m_notifier)
        QMetaObject::invokeMethod(
            m_notifier.get(), [this] { readEvents(); }, Qt::QueuedConnection);
}

} // namespace qdx::x11
