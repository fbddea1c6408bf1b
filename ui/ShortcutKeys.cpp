#include "ui/ShortcutKeys.h"

#include "platform/core/VirtualKeys.h"
#include "shared/ShortcutText.h"

#include <QChar>

namespace {

int qtKeyOf(int vk, Qt::KeyboardModifiers& extra) {
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return vk; // Qt::Key_0.. and Qt::Key_A.. share the codes
    if (vk >= 0x60 && vk <= 0x69) {
        extra |= Qt::KeypadModifier;
        return Qt::Key_0 + (vk - 0x60);
    }
    if (vk >= 0x70 && vk <= 0x87)
        return Qt::Key_F1 + (vk - 0x70);
    switch (vk) {
    case 0x08:
        return Qt::Key_Backspace;
    case 0x09:
        return Qt::Key_Tab;
    case 0x0D:
        return Qt::Key_Return;
    case 0x1B:
        return Qt::Key_Escape;
    case 0x20:
        return Qt::Key_Space;
    case 0x21:
        return Qt::Key_PageUp;
    case 0x22:
        return Qt::Key_PageDown;
    case 0x23:
        return Qt::Key_End;
    case 0x24:
        return Qt::Key_Home;
    case 0x25:
        return Qt::Key_Left;
    case 0x26:
        return Qt::Key_Up;
    case 0x27:
        return Qt::Key_Right;
    case 0x28:
        return Qt::Key_Down;
    case 0x2C:
        return Qt::Key_Print;
    case 0x2D:
        return Qt::Key_Insert;
    case 0x2E:
        return Qt::Key_Delete;
    default:
        break;
    }
    // Other printable keys: Qt names Latin-1 keys by their (capital) character, as X does.
    const uint32_t keysym = qdx::keysymOfVirtualKey(vk);
    if (keysym >= 0x20 && keysym < 0x100)
        return QChar(char16_t(keysym)).toUpper().unicode();
    return 0;
}

} // namespace

QKeySequence keySequenceOf(uint16_t shortCut) {
    const int vk = shortCut & 0xFF;
    if (vk == 0)
        return {};
    Qt::KeyboardModifiers modifiers;
    if (shortCut & scShift)
        modifiers |= Qt::ShiftModifier;
    if (shortCut & scCtrl)
        modifiers |= Qt::ControlModifier;
    if (shortCut & scAlt)
        modifiers |= Qt::AltModifier;
    const int key = qtKeyOf(vk, modifiers);
    if (key == 0)
        return {};
    return QKeySequence(QKeyCombination(modifiers, Qt::Key(key)));
}
