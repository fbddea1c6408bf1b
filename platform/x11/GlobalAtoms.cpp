#include "platform/x11/GlobalAtoms.h"

namespace qdx::x11 {

namespace {

QString keyOf(const QString& name) {
    return name.toCaseFolded();
}

} // namespace

GlobalAtoms& GlobalAtoms::process() {
    static GlobalAtoms table;
    return table;
}

uint16_t GlobalAtoms::addAtom(const QString& name) {
    if (name.isEmpty() || name.size() > kMaxNameLength)
        return 0;
    const QString key = keyOf(name);
    std::lock_guard lock(m_mutex);
    if (const auto found = m_byName.constFind(key); found != m_byName.cend()) {
        ++m_entries[found.value()].references;
        return found.value();
    }
    // The lowest freed id first, so that ids stay small; then the next never used one.
    uint16_t id = 0;
    if (!m_freed.empty()) {
        id = *m_freed.begin();
        m_freed.erase(m_freed.begin());
    } else if (m_nextUnused <= 0xFFFFu) {
        id = static_cast<uint16_t>(m_nextUnused++);
    } else {
        return 0;
    }
    m_entries.emplace(id, Entry{name, 1});
    m_byName.insert(key, id);
    return id;
}

uint16_t GlobalAtoms::findAtom(const QString& name) const {
    std::lock_guard lock(m_mutex);
    return m_byName.value(keyOf(name), 0);
}

bool GlobalAtoms::deleteAtom(uint16_t atom) {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(atom);
    if (found == m_entries.end())
        return false;
    if (--found->second.references == 0) {
        m_byName.remove(keyOf(found->second.name));
        m_entries.erase(found);
        m_freed.insert(atom);
    }
    return true;
}

QString GlobalAtoms::atomName(uint16_t atom) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(atom);
    return found == m_entries.end() ? QString() : found->second.name;
}

int GlobalAtoms::referenceCount(uint16_t atom) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(atom);
    return found == m_entries.end() ? 0 : found->second.references;
}

} // namespace qdx::x11
