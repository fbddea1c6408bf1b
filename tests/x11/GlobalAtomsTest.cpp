#include "platform/x11/GlobalAtoms.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

using qdx::x11::GlobalAtoms;

namespace {

TEST(GlobalAtoms, AddsCountsFindsAndFreesNamesWithoutRegardToCase) {
    GlobalAtoms atoms;
    const uint16_t id = atoms.addAtom(QStringLiteral("HotKeyManagerHotKey49219"));
    EXPECT_EQ(id, 0xC000);
    EXPECT_EQ(atoms.addAtom(QStringLiteral("hotkeymanagerhotkey49219")), id);
    EXPECT_EQ(atoms.referenceCount(id), 2);
    EXPECT_EQ(atoms.atomName(id), QStringLiteral("HotKeyManagerHotKey49219"));
    EXPECT_EQ(atoms.findAtom(QStringLiteral("HOTKEYMANAGERHOTKEY49219")), id);
    EXPECT_EQ(atoms.findAtom(QStringLiteral("HotKeyManagerHotKey49220")), 0);

    EXPECT_TRUE(atoms.deleteAtom(id));
    EXPECT_EQ(atoms.findAtom(QStringLiteral("HotKeyManagerHotKey49219")), id);
    EXPECT_TRUE(atoms.deleteAtom(id));
    EXPECT_EQ(atoms.findAtom(QStringLiteral("HotKeyManagerHotKey49219")), 0);
    EXPECT_FALSE(atoms.deleteAtom(id));
    EXPECT_TRUE(atoms.atomName(id).isEmpty());
    EXPECT_FALSE(atoms.deleteAtom(0));
}

TEST(GlobalAtoms, FreedIdsComeBackAndTheTableEndsAt0xFFFF) {
    GlobalAtoms atoms;
    const uint16_t a = atoms.addAtom(QStringLiteral("a"));
    const uint16_t b = atoms.addAtom(QStringLiteral("b"));
    const uint16_t c = atoms.addAtom(QStringLiteral("c"));
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, a + 2);
    atoms.deleteAtom(b);
    EXPECT_EQ(atoms.addAtom(QStringLiteral("d")), b);

    EXPECT_EQ(atoms.addAtom(QString()), 0);
    EXPECT_EQ(atoms.addAtom(QString(256, QLatin1Char('x'))), 0);
    EXPECT_NE(atoms.addAtom(QString(255, QLatin1Char('x'))), 0);

    for (int i = 0; i < 0x4000; ++i)
        atoms.addAtom(QStringLiteral("n%1").arg(i));
    // a, b, c, d and the long name hold 0xC000..0xC003, so n16379 takes the last id.
    EXPECT_EQ(atoms.findAtom(QStringLiteral("n16379")), 0xFFFF);
    EXPECT_EQ(atoms.addAtom(QStringLiteral("one too many")), 0);
    // An existing name still gets its reference when the table is full.
    EXPECT_EQ(atoms.addAtom(QStringLiteral("a")), a);
}

TEST(GlobalAtoms, ThreadsSharingTheTableGetOneIdPerName) {
    GlobalAtoms atoms;
    constexpr int kThreads = 4, kNames = 200;
    std::vector<std::vector<uint16_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kNames; ++i)
                seen[t].push_back(atoms.addAtom(QStringLiteral("name%1").arg(i)));
        });
    for (auto& thread : threads)
        thread.join();
    std::set<uint16_t> distinct;
    for (int i = 0; i < kNames; ++i) {
        for (int t = 1; t < kThreads; ++t)
            ASSERT_EQ(seen[t][i], seen[0][i]);
        distinct.insert(seen[0][i]);
        EXPECT_EQ(atoms.referenceCount(seen[0][i]), kThreads);
    }
    EXPECT_EQ(distinct.size(), size_t(kNames));
}

} // namespace
