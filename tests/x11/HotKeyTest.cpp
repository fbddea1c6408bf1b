#include "platform/x11/GlobalAtoms.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbServer.h"
#include "tests/x11/XClient.h"
#include "ui/THotKeyManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using qdx::test::XClient;
using qdx::test::XvfbServer;
using qdx::x11::GlobalAtoms;

namespace {

constexpr uint16_t kCtrlAltC = 0xC043;
constexpr uint16_t kCtrlAltV = 0xC056;
constexpr uint16_t kCtrlAltX = 0xC058;
constexpr uint16_t kCtrlAltB = 0xC042;
constexpr uint16_t kCtrlShiftF5 = 0x6074;
constexpr uint32_t kKeysymB = 0x62, kKeysymC = 0x63, kKeysymV = 0x76, kKeysymX = 0x78;
constexpr uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

struct Press {
    uint16_t hotKey;
    uint16_t index;
};

// Runs the event loop until `done` holds or `ms` have passed.
bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(10);
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// Lets pending events arrive, for checks that something did not happen.
void settle() {
    waitFor([] { return false; }, 200);
}

void press(const char* keys) {
    const auto result = qdx::test::run(QStringLiteral("xdotool"),
                                       {QStringLiteral("key"), QString::fromLatin1(keys)});
    ASSERT_EQ(result.exitCode, 0) << result.err.constData();
}

// A manager that records what it reports.
struct Recorder {
    THotKeyManager manager;
    std::vector<Press> presses;
    Recorder() {
        manager.OnHotKeyPressed = [this](uint16_t hotKey, uint16_t index) {
            presses.push_back({hotKey, index});
        };
    }
};

class HotKeyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new XvfbServer(320, 240, 24); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(server->running());
        other = std::make_unique<XClient>();
        ASSERT_TRUE(other->connected());
        // Another program's window has the keyboard focus.
        focused = other->window(QRect(0, 0, 320, 240), qRgb(90, 90, 90));
        other->focus(focused);
        // Start with both locks off, whatever an earlier test left.
        const uint16_t locks = other->modifierState();
        if (locks & XCB_MOD_MASK_2)
            press("Num_Lock");
        if (locks & XCB_MOD_MASK_LOCK)
            press("Caps_Lock");
        ASSERT_EQ(other->modifierState() & (XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK), 0);
    }

    static XvfbServer* server;
    std::unique_ptr<XClient> other;
    xcb_window_t focused = 0;
};

XvfbServer* HotKeyTest::server = nullptr;

TEST_F(HotKeyTest, AKeyPressedWhileAnotherProgramHasTheFocusReachesTheManager) {
    Recorder capture;
    const uint16_t id = capture.manager.RegisterShortCut(kCtrlAltC);
    ASSERT_NE(id, 0);
    EXPECT_GE(id, 0xC000);
    EXPECT_EQ(GlobalAtoms::process().findAtom(QStringLiteral("HotKeyManagerHotKey49219")), id);
    EXPECT_TRUE(capture.manager.IsShortCutRegistered(kCtrlAltC));
    EXPECT_FALSE(capture.manager.IsShortCutRegistered(kCtrlAltV));

    press("ctrl+alt+c");
    ASSERT_TRUE(waitFor([&] { return !capture.presses.empty(); }));
    settle();
    ASSERT_EQ(capture.presses.size(), 1u);
    EXPECT_EQ(capture.presses[0].hotKey, kCtrlAltC);
    EXPECT_EQ(capture.presses[0].index, id);

    // The bare key, or the key with other modifiers, is not the hot key.
    press("c");
    press("ctrl+c");
    press("ctrl+alt+shift+c");
    settle();
    EXPECT_EQ(capture.presses.size(), 1u);
}

// Another keyboard layout puts the letters on other keys: the hot key follows its letter.
TEST_F(HotKeyTest, AHotKeyFollowsItsKeyToANewCodeWhenTheLayoutChanges) {
    Recorder capture;
    const uint16_t id = capture.manager.RegisterShortCut(kCtrlAltC);
    ASSERT_NE(id, 0);
    const std::vector<xcb_keycode_t> c = other->keycodesOf(kKeysymC);
    const std::vector<xcb_keycode_t> x = other->keycodesOf(kKeysymX);
    ASSERT_EQ(c.size(), 1u);
    ASSERT_EQ(x.size(), 1u);
    // C and X trade places.
    const std::vector<uint32_t> oldC = other->mapKey(c[0], kKeysymX);
    const std::vector<uint32_t> oldX = other->mapKey(x[0], kKeysymC);
    settle();            // the managers hear of the new mapping
    press("ctrl+alt+c"); // xdotool presses the key that now carries C
    const bool heard = waitFor([&] { return !capture.presses.empty(); });
    press("ctrl+alt+x"); // the old key of C is no hot key any more
    settle();
    other->restoreKey(c[0], oldC);
    other->restoreKey(x[0], oldX);
    settle();
    EXPECT_TRUE(heard);
    ASSERT_EQ(capture.presses.size(), 1u);
    EXPECT_EQ(capture.presses[0].index, id);
    // And back at the old code once the layout is restored.
    press("ctrl+alt+c");
    EXPECT_TRUE(waitFor([&] { return capture.presses.size() == 2; }));
}

TEST_F(HotKeyTest, NumLockAndCapsLockDoNotDisableAHotKey) {
    Recorder capture;
    const uint16_t id = capture.manager.RegisterShortCut(kCtrlAltC);
    ASSERT_NE(id, 0);
    const struct {
        const char* toggle;
        uint16_t lockBits;
    } steps[] = {{"Num_Lock", XCB_MOD_MASK_2},
                 {"Caps_Lock", XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK},
                 {"Num_Lock", XCB_MOD_MASK_LOCK},
                 {"Caps_Lock", 0}};
    size_t expected = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.toggle);
        press(step.toggle);
        ASSERT_EQ(other->modifierState() & (XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK), step.lockBits);
        press("ctrl+alt+c");
        ++expected;
        ASSERT_TRUE(waitFor([&] { return capture.presses.size() == expected; }));
        EXPECT_EQ(capture.presses.back().hotKey, kCtrlAltC);
        EXPECT_EQ(capture.presses.back().index, id);
    }
}

TEST_F(HotKeyTest, EachManagerReportsOnlyItsOwnKeys) {
    Recorder capture;
    Recorder recorder;
    const uint16_t captureId = capture.manager.RegisterShortCut(kCtrlAltC);
    const uint16_t recorderId = recorder.manager.RegisterShortCut(kCtrlAltV);
    ASSERT_NE(captureId, 0);
    ASSERT_NE(recorderId, 0);
    EXPECT_NE(captureId, recorderId);

    press("ctrl+alt+c");
    ASSERT_TRUE(waitFor([&] { return capture.presses.size() == 1; }));
    press("ctrl+alt+v");
    ASSERT_TRUE(waitFor([&] { return recorder.presses.size() == 1; }));
    settle();
    ASSERT_EQ(capture.presses.size(), 1u);
    EXPECT_EQ(capture.presses[0].hotKey, kCtrlAltC);
    EXPECT_EQ(capture.presses[0].index, captureId);
    ASSERT_EQ(recorder.presses.size(), 1u);
    EXPECT_EQ(recorder.presses[0].hotKey, kCtrlAltV);
    EXPECT_EQ(recorder.presses[0].index, recorderId);
}

TEST_F(HotKeyTest, TheShortcutValueIsRebuiltFromTheKeyAndItsModifiers) {
    Recorder manager;
    const uint16_t function = manager.manager.RegisterShortCut(kCtrlShiftF5);
    const uint16_t digit = manager.manager.RegisterShortCut(0x8031); // Alt+1
    ASSERT_NE(function, 0);
    ASSERT_NE(digit, 0);
    press("ctrl+shift+F5");
    press("alt+1");
    ASSERT_TRUE(waitFor([&] { return manager.presses.size() == 2; }));
    EXPECT_EQ(manager.presses[0].hotKey, kCtrlShiftF5);
    EXPECT_EQ(manager.presses[0].index, function);
    EXPECT_EQ(manager.presses[1].hotKey, 0x8031);
    EXPECT_EQ(manager.presses[1].index, digit);
}

TEST_F(HotKeyTest, TheSameValueRegisteredTwiceInOneProgramGivesZero) {
    Recorder first;
    Recorder second;
    const uint16_t id = first.manager.RegisterShortCut(kCtrlAltC);
    ASSERT_NE(id, 0);
    EXPECT_EQ(first.manager.RegisterShortCut(kCtrlAltC), 0);
    EXPECT_EQ(second.manager.RegisterShortCut(kCtrlAltC), 0);
    // The failed attempts gave their references back.
    EXPECT_EQ(GlobalAtoms::process().referenceCount(id), 1);
    EXPECT_FALSE(second.manager.IsShortCutRegistered(kCtrlAltC));

    press("ctrl+alt+c");
    ASSERT_TRUE(waitFor([&] { return first.presses.size() == 1; }));
    settle();
    EXPECT_EQ(first.presses.size(), 1u);
    EXPECT_TRUE(second.presses.empty());
    // The first registration still works after the refusals, and is released whole.
    EXPECT_TRUE(first.manager.UnregisterShortCut(id));
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymC, kCtrlAlt));
}

TEST_F(HotKeyTest, AKeyAnotherClientHoldsGivesZeroAndLeavesNoTrace) {
    // The other client holds only the CapsLock variant: the plain grab succeeds before the
    // refusal and must be undone.
    ASSERT_TRUE(other->grabKey(kKeysymX, kCtrlAlt | XCB_MOD_MASK_LOCK));
    Recorder manager;
    EXPECT_EQ(manager.manager.RegisterShortCut(kCtrlAltX), 0);
    EXPECT_FALSE(manager.manager.IsShortCutRegistered(kCtrlAltX));
    EXPECT_EQ(GlobalAtoms::process().findAtom(THotKeyManager::atomNameOf(kCtrlAltX)), 0);
    other->ungrabKey(kKeysymX, kCtrlAlt | XCB_MOD_MASK_LOCK);
    XClient third;
    EXPECT_TRUE(third.canGrabAllVariants(kKeysymX, kCtrlAlt));

    // Once the other client lets go, the key can be registered.
    EXPECT_NE(manager.manager.RegisterShortCut(kCtrlAltX), 0);
}

TEST_F(HotKeyTest, UnregisteringFreesTheAtomAndTheGrab) {
    Recorder manager;
    const uint16_t id = manager.manager.RegisterShortCut(kCtrlAltC);
    ASSERT_NE(id, 0);
    EXPECT_FALSE(other->canGrabAllVariants(kKeysymC, kCtrlAlt));
    EXPECT_TRUE(manager.manager.UnregisterShortCut(id));
    EXPECT_FALSE(manager.manager.IsShortCutRegistered(kCtrlAltC));
    EXPECT_EQ(GlobalAtoms::process().findAtom(THotKeyManager::atomNameOf(kCtrlAltC)), 0);
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymC, kCtrlAlt));
    EXPECT_FALSE(manager.manager.UnregisterShortCut(id));
    press("ctrl+alt+c");
    settle();
    EXPECT_TRUE(manager.presses.empty());

    // UnregisterAll and the destructor release everything too.
    EXPECT_NE(manager.manager.RegisterShortCut(kCtrlAltC), 0);
    EXPECT_NE(manager.manager.RegisterShortCut(kCtrlAltV), 0);
    manager.manager.UnregisterAll();
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymC, kCtrlAlt));
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymV, kCtrlAlt));
    {
        THotKeyManager shortLived;
        EXPECT_NE(shortLived.RegisterShortCut(kCtrlAltB), 0);
    }
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymB, kCtrlAlt));
    EXPECT_EQ(GlobalAtoms::process().findAtom(THotKeyManager::atomNameOf(kCtrlAltB)), 0);
}

TEST_F(HotKeyTest, ReplaceShortCutSwapsTheKeyOrChangesNothingForAnUnknownId) {
    Recorder manager;
    const uint16_t id = manager.manager.RegisterShortCut(kCtrlAltC);
    ASSERT_NE(id, 0);
    EXPECT_EQ(manager.manager.ReplaceShortCut(0xC7FF, kCtrlAltV), 0);
    EXPECT_TRUE(manager.manager.IsShortCutRegistered(kCtrlAltC));
    EXPECT_FALSE(manager.manager.IsShortCutRegistered(kCtrlAltV));

    const uint16_t replaced = manager.manager.ReplaceShortCut(id, kCtrlAltV);
    ASSERT_NE(replaced, 0);
    EXPECT_FALSE(manager.manager.IsShortCutRegistered(kCtrlAltC));
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymC, kCtrlAlt));
    press("ctrl+alt+v");
    ASSERT_TRUE(waitFor([&] { return manager.presses.size() == 1; }));
    EXPECT_EQ(manager.presses[0].index, replaced);

    // A replacement that cannot be registered leaves neither key.
    ASSERT_TRUE(other->grabKey(kKeysymB, kCtrlAlt));
    EXPECT_EQ(manager.manager.ReplaceShortCut(replaced, kCtrlAltB), 0);
    EXPECT_FALSE(manager.manager.IsShortCutRegistered(kCtrlAltV));
    EXPECT_FALSE(manager.manager.IsShortCutRegistered(kCtrlAltB));
    other->ungrabKey(kKeysymB, kCtrlAlt);
}

TEST_F(HotKeyTest, KeysThatCannotBeGrabbedGiveZero) {
    Recorder manager;
    EXPECT_EQ(manager.manager.RegisterShortCut(0x4007), 0); // no key has code 7
    EXPECT_EQ(GlobalAtoms::process().findAtom(THotKeyManager::atomNameOf(0x4007)), 0);
    // An unknown modifier bit: refused, rather than grabbing the bare key from every program.
    EXPECT_EQ(manager.manager.RegisterShortCut(0x1043), 0);
    EXPECT_TRUE(other->canGrabAllVariants(kKeysymC, 0));

    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    THotKeyManager withoutDisplay;
    qputenv("DISPLAY", display);
    EXPECT_EQ(withoutDisplay.RegisterShortCut(kCtrlAltC), 0);
    EXPECT_EQ(GlobalAtoms::process().findAtom(THotKeyManager::atomNameOf(kCtrlAltC)), 0);
    EXPECT_FALSE(withoutDisplay.UnregisterShortCut(0xC000));
}

} // namespace
