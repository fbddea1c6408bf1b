#pragma once

#include <QLineEdit>

#include <cstdint>

// The hot-key field: the user presses a key combination and the field shows its shortcut text
// ("Ctrl+Alt+F5"). A key pressed without a modifier, or with Shift alone, is given Ctrl and Alt
// instead, so the field never holds a combination that would steal an ordinary key. Backspace or
// Delete alone empty the field (value 0); Tab, Esc and Enter alone keep their meaning in the
// dialog. While only modifiers are held the field shows them, as a hint of what is being typed.
// A key typed with Shift is named as the keyboard labels it: Ctrl+Shift+1 is "Shift+Ctrl+1".
class THotKey : public QLineEdit {
    Q_OBJECT
public:
    explicit THotKey(QWidget* parent = nullptr);

    // The shortcut value: virtual-key code | 0x2000 Shift | 0x4000 Ctrl | 0x8000 Alt; 0 for none.
    uint16_t HotKey() const { return m_hotKey; }
    void SetHotKey(uint16_t value);

    // The value a key press gives the field, by the rules above; 0 for a key that has no
    // virtual-key code. `nativeKeysym` is the X keysym when the platform reports one. With Shift,
    // digit and punctuation keys arrive as the symbol they type ('!' for Shift+1): the key is
    // then `baseVirtualKey`, the key the keyboard map names at that place without modifiers, or,
    // when the map is not known, the key of a US keyboard that types the symbol.
    static uint16_t valueOfKeyPress(int qtKey, Qt::KeyboardModifiers modifiers,
                                    uint32_t nativeKeysym = 0, int baseVirtualKey = 0);

Q_SIGNALS:
    void hotKeyChanged(uint16_t value);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showValue();
    void showModifiers(Qt::KeyboardModifiers modifiers);

    uint16_t m_hotKey = 0;
};
