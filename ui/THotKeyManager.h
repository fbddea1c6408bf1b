#pragma once

#include <QList>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace qdx::x11 {
class KeyGrabber;
}

// Handler of a pressed hot key: the shortcut value (virtual-key code | 0x2000 Shift | 0x4000 Ctrl
// | 0x8000 Alt) and the id that RegisterShortCut returned for it.
using TOnHotKeyPressed = std::function<void(uint16_t HotKey, uint16_t Index)>;

// System-wide hot keys: key combinations that reach this program whichever program has the
// keyboard focus. Each registration's id is the atom of "HotKeyManagerHotKey" followed by the
// shortcut value in decimal. A manager reports only the keys it registered itself, on the thread
// that created it (the user-interface thread). Without an X display nothing can be registered.
class THotKeyManager : public QObject {
public:
    explicit THotKeyManager(QObject* AOwner = nullptr);
    // Unregisters every hot key of this manager.
    ~THotKeyManager() override;
    THotKeyManager(const THotKeyManager&) = delete;
    THotKeyManager& operator=(const THotKeyManager&) = delete;

    // Registers the combination and returns its id; 0 when it cannot be registered (another
    // program or registration holds it, the key does not exist), leaving no trace.
    uint16_t RegisterShortCut(uint16_t HotKey);
    // Unregisters the registration with this id; false when there is none, or the platform did
    // not release it.
    bool UnregisterShortCut(uint16_t Index);
    // Unregisters the registration with id Index, then registers NewHotKey and returns its id.
    // 0 when no registration has the id (nothing changes then), or when the new combination
    // cannot be registered (the old one is gone then too).
    uint16_t ReplaceShortCut(uint16_t Index, uint16_t NewHotKey);
    // Unregisters every registration, from the last to the first.
    void UnregisterAll();
    bool IsShortCutRegistered(uint16_t HotKey) const;

    TOnHotKeyPressed OnHotKeyPressed;

    // The atom name of a shortcut value's id ("HotKeyManagerHotKey49219" for Ctrl+Alt+C).
    static QString atomNameOf(uint16_t HotKey);

private:
    struct Registration {
        uint16_t hotKey;
        uint16_t id;
    };
    void hotKeyPressed(uint16_t hotKey);

    std::unique_ptr<qdx::x11::KeyGrabber> m_grabber; // none without an X display
    QList<Registration> m_registrations;
};
