#include "dialogs/THotKey.h"

#include "platform/core/VirtualKeys.h"
#include "platform/x11/KeyboardMap.h"
#include "shared/ShortcutText.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>

namespace {

// The virtual-key code of a Qt key; 0 when the key has none here.
int virtualKeyOf(int key, Qt::KeyboardModifiers modifiers) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return (modifiers & Qt::KeypadModifier) ? 0x60 + (key - Qt::Key_0) : key;
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return key; // Qt::Key_A.. and the letter codes coincide
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 0x70 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_PageUp:
        return 0x21;
    case Qt::Key_PageDown:
        return 0x22;
    case Qt::Key_End:
        return 0x23;
    case Qt::Key_Home:
        return 0x24;
    case Qt::Key_Left:
        return 0x25;
    case Qt::Key_Up:
        return 0x26;
    case Qt::Key_Right:
        return 0x27;
    case Qt::Key_Down:
        return 0x28;
    case Qt::Key_Print:
        return 0x2C;
    case Qt::Key_Insert:
        return 0x2D;
    case Qt::Key_Delete:
        return 0x2E;
    default:
        break;
    }
    // Other printable keys are named by their character; X names them by the small letter.
    if (key >= 0x20 && key < 0x100)
        return qdx::virtualKeyOfKeysym(QChar(char16_t(key)).toLower().unicode());
    return 0;
}

// The key of a US keyboard that types a symbol with Shift ('!' is on the key of 1); 0 for others.
int usKeyOfShiftedSymbol(int key) {
    static constexpr char kShifted[] = "!@#$%^&*()_+{}|:\"<>?~";
    static constexpr char kBase[] = "1234567890-=[]\\;',./`";
    for (int i = 0; kShifted[i]; ++i) {
        if (key == kShifted[i])
            return qdx::virtualKeyOfKeysym(uint32_t(uint8_t(kBase[i])));
    }
    return 0;
}

// Whether a Qt key is a printable symbol that is neither a letter nor a digit.
bool isSymbolKey(int key) {
    return key > 0x20 && key < 0x7F && !(key >= Qt::Key_0 && key <= Qt::Key_9) &&
           !(key >= Qt::Key_A && key <= Qt::Key_Z);
}

bool isModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_Super_L ||
           key == Qt::Key_Super_R;
}

Qt::KeyboardModifiers modifierOf(int key) {
    switch (key) {
    case Qt::Key_Shift:
        return Qt::ShiftModifier;
    case Qt::Key_Control:
        return Qt::ControlModifier;
    case Qt::Key_Alt:
        return Qt::AltModifier;
    default:
        return Qt::NoModifier;
    }
}

constexpr Qt::KeyboardModifiers kShown = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

} // namespace

THotKey::THotKey(QWidget* parent) : QLineEdit(parent) {
    setAttribute(Qt::WA_InputMethodEnabled, false);
    showValue();
}

void THotKey::SetHotKey(uint16_t value) {
    const bool changed = value != m_hotKey;
    m_hotKey = value;
    showValue();
    if (changed)
        Q_EMIT hotKeyChanged(value);
}

uint16_t THotKey::valueOfKeyPress(int qtKey, Qt::KeyboardModifiers modifiers, uint32_t nativeKeysym,
                                  int baseVirtualKey) {
    int vk = 0;
    if ((modifiers & Qt::ShiftModifier) && isSymbolKey(qtKey))
        vk = baseVirtualKey ? baseVirtualKey : usKeyOfShiftedSymbol(qtKey);
    if (vk == 0)
        vk = virtualKeyOf(qtKey, modifiers);
    if (vk == 0 && nativeKeysym != 0)
        vk = qdx::virtualKeyOfKeysym(nativeKeysym);
    if (vk == 0 || vk > 0xFF)
        return 0;
    uint16_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= scShift;
    if (modifiers & Qt::ControlModifier)
        flags |= scCtrl;
    if (modifiers & Qt::AltModifier)
        flags |= scAlt;
    // No modifier, or Shift alone: Ctrl and Alt instead.
    if (flags == 0 || flags == scShift)
        flags = scCtrl | scAlt;
    return uint16_t(flags | vk);
}

void THotKey::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & kShown;
    if (isModifierKey(key)) {
        // Whether a modifier's own event counts it as held differs between platforms.
        showModifiers(modifiers | modifierOf(key));
        event->accept();
        return;
    }
    if (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier) {
        // Keys that keep their meaning in the dialog.
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Escape ||
            key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->ignore();
            return;
        }
        if (modifiers == Qt::NoModifier && (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
            SetHotKey(0);
            event->accept();
            return;
        }
    }
    // On X11 the key code names the key itself in the server's keyboard map.
    int baseKey = 0;
    if (event->modifiers() & Qt::ShiftModifier) {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            baseKey = qdx::x11::baseVirtualKeyOfKeycode(x11->connection(), event->nativeScanCode());
    }
    const uint16_t value =
        valueOfKeyPress(key, event->modifiers(), event->nativeVirtualKey(), baseKey);
    if (value != 0)
        SetHotKey(value);
    else
        showValue();
    event->accept();
}

void THotKey::keyReleaseEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers held = event->modifiers() & kShown & ~modifierOf(event->key());
    if (isModifierKey(event->key()) && held != Qt::NoModifier)
        showModifiers(held);
    else
        showValue();
    event->accept();
}

void THotKey::inputMethodEvent(QInputMethodEvent* event) {
    // Composed text never reaches the field.
    event->accept();
}

void THotKey::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void THotKey::focusOutEvent(QFocusEvent* event) {
    showValue();
    QLineEdit::focusOutEvent(event);
}

void THotKey::showValue() {
    setText(m_hotKey ? ShortCutToText(m_hotKey) : QString());
    setCursorPosition(text().size());
}

void THotKey::showModifiers(Qt::KeyboardModifiers modifiers) {
    QString prefix;
    if (modifiers & Qt::ShiftModifier)
        prefix += QStringLiteral("Shift+");
    if (modifiers & Qt::ControlModifier)
        prefix += QStringLiteral("Ctrl+");
    if (modifiers & Qt::AltModifier)
        prefix += QStringLiteral("Alt+");
    if (prefix.isEmpty()) {
        showValue();
        return;
    }
    setText(prefix);
    setCursorPosition(text().size());
}
