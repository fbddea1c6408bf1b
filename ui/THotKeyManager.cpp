#include "ui/THotKeyManager.h"

#include "platform/x11/GlobalAtoms.h"
#include "platform/x11/KeyGrabber.h"
#include "platform/x11/NoDisplayError.h"

#include <algorithm>

using qdx::x11::GlobalAtoms;

THotKeyManager::THotKeyManager(QObject* AOwner) : QObject(AOwner) {
    try {
        m_grabber = std::make_unique<qdx::x11::KeyGrabber>();
        m_grabber->onPressed = [this](uint16_t hotKey) {
            hotKeyPressed(hotKey);
        };
    } catch (const qdx::x11::X11Error&) {
        // No display: the manager exists, but every registration answers 0.
    }
}

THotKeyManager::~THotKeyManager() {
    UnregisterAll();
}

QString THotKeyManager::atomNameOf(uint16_t HotKey) {
    return QStringLiteral("HotKeyManagerHotKey") + QString::number(HotKey);
}

uint16_t THotKeyManager::RegisterShortCut(uint16_t HotKey) {
    GlobalAtoms& atoms = GlobalAtoms::process();
    const uint16_t id = atoms.addAtom(atomNameOf(HotKey));
    if (id == 0)
        return 0;
    if (!m_grabber || !m_grabber->grab(HotKey)) {
        atoms.deleteAtom(id);
        return 0;
    }
    m_registrations.append({HotKey, id});
    return id;
}

bool THotKeyManager::UnregisterShortCut(uint16_t Index) {
    for (qsizetype i = 0; i < m_registrations.size(); ++i) {
        if (m_registrations[i].id != Index)
            continue;
        const Registration registration = m_registrations[i];
        const bool released = m_grabber && m_grabber->ungrab(registration.hotKey);
        GlobalAtoms::process().deleteAtom(registration.id);
        m_registrations.removeAt(i);
        return released;
    }
    return false;
}

uint16_t THotKeyManager::ReplaceShortCut(uint16_t Index, uint16_t NewHotKey) {
    const bool known = std::any_of(m_registrations.cbegin(), m_registrations.cend(),
                                   [Index](const Registration& r) { return r.id == Index; });
    if (!known)
        return 0;
    UnregisterShortCut(Index);
    return RegisterShortCut(NewHotKey);
}

void THotKeyManager::UnregisterAll() {
    while (!m_registrations.isEmpty())
        UnregisterShortCut(m_registrations.last().id);
}

bool THotKeyManager::IsShortCutRegistered(uint16_t HotKey) const {
    return std::any_of(m_registrations.cbegin(), m_registrations.cend(),
                       [HotKey](const Registration& r) { return r.hotKey == HotKey; });
}

void THotKeyManager::hotKeyPressed(uint16_t hotKey) {
    if (!OnHotKeyPressed)
        return;
    for (const Registration& registration : m_registrations)
        if (registration.hotKey == hotKey) {
            OnHotKeyPressed(hotKey, registration.id);
            return;
        }
}
