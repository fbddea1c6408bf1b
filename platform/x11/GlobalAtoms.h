#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace qdx::x11 {

// A table of named atoms with 16-bit ids from 0xC000 upwards, reference-counted: adding a name
// that is in the table again returns its id and counts one more reference; deleting drops one
// reference and frees the id with the last. Names compare without regard to case, as atom names
// always have. The hot-key ids of the programs are atoms of this table. Thread-safe.
class GlobalAtoms {
public:
    static constexpr uint16_t kFirstAtom = 0xC000;
    static constexpr int kMaxNameLength = 255;

    GlobalAtoms() = default;
    GlobalAtoms(const GlobalAtoms&) = delete;
    GlobalAtoms& operator=(const GlobalAtoms&) = delete;

    // The one table of the process.
    static GlobalAtoms& process();

    // thread-safe: the name's atom with one more reference; 0 for an empty or over-long name,
    // or when all 16384 ids are taken.
    uint16_t addAtom(const QString& name);
    // thread-safe: the name's atom, or 0 when the table does not hold it.
    uint16_t findAtom(const QString& name) const;
    // thread-safe: drops one reference of the atom; false when the table does not hold it.
    bool deleteAtom(uint16_t atom);
    // thread-safe: the name the atom was first added with; empty when the table lacks it.
    QString atomName(uint16_t atom) const;
    // thread-safe: references the atom holds (0 when none).
    int referenceCount(uint16_t atom) const;

private:
    struct Entry {
        QString name;
        int references = 0;
    };
    mutable std::mutex m_mutex;
    std::map<uint16_t, Entry> m_entries;
    QHash<QString, uint16_t> m_byName; // case-folded name -> atom
    std::set<uint16_t> m_freed;        // ids given back, below m_nextUnused
    uint32_t m_nextUnused = kFirstAtom;
};

} // namespace qdx::x11
