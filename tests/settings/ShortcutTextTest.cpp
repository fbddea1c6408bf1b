#include "shared/ShortcutText.h"

#include "platform/core/VirtualKeys.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <gtest/gtest.h>

#include <set>

TEST(ShortcutText, KeyNamesOfTheTable) {
    const std::pair<int, const char*> names[] = {
        {8, "BkSp"},  {9, "Tab"},    {13, "Enter"}, {27, "Esc"},  {32, "Space"},
        {33, "PgUp"}, {34, "PgDn"},  {35, "End"},   {36, "Home"}, {37, "Left"},
        {38, "Up"},   {39, "Right"}, {40, "Down"},  {45, "Ins"},  {46, "Del"},
        {48, "0"},    {57, "9"},     {65, "A"},     {90, "Z"},    {96, "0"},
        {101, "5"},   {105, "9"},    {112, "F1"},   {123, "F12"}, {135, "F24"},
    };
    for (const auto& [code, name] : names)
        EXPECT_EQ(ShortCutToText(uint16_t(code)), QLatin1StringView(name)) << code;
}

TEST(ShortcutText, OtherKeysUseTheKeyboardNamesAndUnnamedKeysGiveNothing) {
    EXPECT_EQ(ShortCutToText(scCtrl | 0xBA), QStringLiteral("Ctrl+semicolon"));
    EXPECT_EQ(ShortCutToText(0x6A), QStringLiteral("KP_Multiply"));
    EXPECT_EQ(ShortCutToText(0x13), QStringLiteral("Pause"));
    EXPECT_EQ(ShortCutToText(0x2C), QStringLiteral("Print"));
    EXPECT_EQ(ShortCutToText(0), QString());
    EXPECT_EQ(ShortCutToText(scCtrl | scAlt | 0xFF), QString());
    EXPECT_EQ(ShortCutToText(scCtrl | 0x07), QString());
}

TEST(ShortcutText, PrefixesAreWrittenShiftCtrlAlt) {
    EXPECT_EQ(ShortCutToText(scAlt | scShift | scCtrl | 'C'), QStringLiteral("Shift+Ctrl+Alt+C"));
    EXPECT_EQ(ShortCutToText(scAlt | 0x70), QStringLiteral("Alt+F1"));
    EXPECT_EQ(ShortCutToText(scShift | 0x2E), QStringLiteral("Shift+Del"));
}

TEST(ShortcutText, ReadingAcceptsPrefixesInAnyOrderCaseAndCount) {
    const uint16_t ctrlAltC = scCtrl | scAlt | 'C';
    for (const char* text : {"Ctrl+Alt+C", "ctrl+alt+c", "^Alt+C", "ALT+CTRL+c", "Alt+^C",
                             "Ctrl+Ctrl+Alt+C", "^^alt+c"})
        EXPECT_EQ(TextToShortCut(QLatin1StringView(text)), ctrlAltC) << text;
    EXPECT_EQ(TextToShortCut(QStringLiteral("shift+f12")), scShift | 0x7B);
    EXPECT_EQ(TextToShortCut(QStringLiteral("C")), 'C');
    EXPECT_EQ(TextToShortCut(QStringLiteral("pgdn")), 34);
    EXPECT_EQ(TextToShortCut(QStringLiteral("Ctrl+SEMICOLON")), scCtrl | 0xBA);
}

TEST(ShortcutText, UnreadableTextsGiveNoShortcut) {
    for (const char* text : {"", "Ctrl+", "Ctrl+Alt+", "Ctrl+Foo", "Ctrl-Alt-C", " Ctrl+C",
                             "Ctrl+C ", "Win+C", "F25", "CC"})
        EXPECT_EQ(TextToShortCut(QLatin1StringView(text)), 0) << text;
}

// Every named key reads back to itself, with any modifiers; the keypad digits read back as the
// ordinary digits, which come first.
TEST(ShortcutText, EveryNamedKeyRoundTrips) {
    int named = 0;
    for (int code = 8; code < 256; ++code) {
        for (uint16_t flags :
             {uint16_t(0), scShift, uint16_t(scCtrl | scAlt), uint16_t(scShift | scCtrl | scAlt)}) {
            const uint16_t value = uint16_t(code | flags);
            const QString text = ShortCutToText(value);
            if (text.isEmpty())
                continue;
            ++named;
            const int expectedCode = (code >= 96 && code <= 105) ? code - 96 + '0' : code;
            EXPECT_EQ(TextToShortCut(text), uint16_t(expectedCode | flags))
                << code << " " << text.toStdString();
            EXPECT_EQ(TextToShortCut(text.toLower()), uint16_t(expectedCode | flags))
                << code << " " << text.toStdString();
        }
    }
    EXPECT_GE(named, 4 * 130); // the table is all there
}

TEST(ShortcutText, KeypadDigitsAreWrittenAsDigitsAndReadAsOrdinaryDigits) {
    const uint16_t ctrlKeypad5 = scCtrl | 0x65;
    EXPECT_EQ(ShortCutToText(ctrlKeypad5), QStringLiteral("Ctrl+5"));
    EXPECT_EQ(TextToShortCut(QStringLiteral("Ctrl+5")), scCtrl | '5');
}

TEST(VirtualKeys, MapsCodesToKeysymsAndBack) {
    EXPECT_EQ(qdx::keysymOfVirtualKey('A'), uint32_t(XKB_KEY_a));
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_a), 'A');
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_A), 'A');
    EXPECT_EQ(qdx::keysymOfVirtualKey('7'), uint32_t(XKB_KEY_7));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0x65), uint32_t(XKB_KEY_KP_5));
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_KP_5), 0x65);
    EXPECT_EQ(qdx::keysymOfVirtualKey(0x6E), uint32_t(XKB_KEY_KP_Decimal));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0x87), uint32_t(XKB_KEY_F24));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0x2C), uint32_t(XKB_KEY_Print));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0x91), uint32_t(XKB_KEY_Scroll_Lock));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0x14), uint32_t(XKB_KEY_Caps_Lock));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0xC0), uint32_t(XKB_KEY_grave));
    EXPECT_EQ(qdx::keysymOfVirtualKey(0xDE), uint32_t(XKB_KEY_apostrophe));
    // Other states of table keys map back to the key.
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_KP_Home), 0x24);
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_KP_Enter), 0x0D);
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_ISO_Left_Tab), 0x09);
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_Shift_R), 0x10);
    // Nothing for nothing.
    EXPECT_EQ(qdx::keysymOfVirtualKey(0), 0u);
    EXPECT_EQ(qdx::keysymOfVirtualKey(-1), 0u);
    EXPECT_EQ(qdx::keysymOfVirtualKey(256), 0u);
    EXPECT_EQ(qdx::virtualKeyOfKeysym(0), 0);
    EXPECT_EQ(qdx::virtualKeyOfKeysym(XKB_KEY_adiaeresis), 0);
}

// Whatever key a grab is made for, the key press it produces is reported as a code whose keysym
// is the same: the two directions agree.
TEST(VirtualKeys, BothDirectionsAgree) {
    std::set<uint32_t> keysyms;
    for (int code = 0; code < 256; ++code) {
        const uint32_t keysym = qdx::keysymOfVirtualKey(code);
        if (keysym == 0) {
            EXPECT_TRUE(qdx::keyboardKeyName(code).isEmpty()) << code;
            continue;
        }
        keysyms.insert(keysym);
        const int back = qdx::virtualKeyOfKeysym(keysym);
        ASSERT_NE(back, 0) << code;
        EXPECT_EQ(qdx::keysymOfVirtualKey(back), keysym) << code;
        EXPECT_FALSE(qdx::keyboardKeyName(code).isEmpty()) << code;
    }
    // Letters, digits, F1-F24, keypad, arrows and editing keys, punctuation and the rest.
    EXPECT_GE(keysyms.size(), 26u + 10u + 24u + 16u + 10u + 11u);
}
