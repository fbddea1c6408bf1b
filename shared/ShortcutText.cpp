#include "shared/ShortcutText.h"

#include "platform/core/VirtualKeys.h"

#include <array>

namespace {

// Names of the codes 0..255, computed once: reading a text compares against all of them.
const std::array<QString, 256>& names() {
    static const std::array<QString, 256> table = [] {
        std::array<QString, 256> t;
        for (int code = 0; code < 256; ++code)
            t[code] = shortCutKeyName(code);
        return t;
    }();
    return table;
}

// Removes `prefix` from the front of `rest` when it is there, ignoring letter case.
bool takePrefix(QStringView& rest, QLatin1StringView prefix) {
    if (!rest.startsWith(prefix, Qt::CaseInsensitive))
        return false;
    rest = rest.sliced(prefix.size());
    return true;
}

} // namespace

QString shortCutKeyName(int virtualKey) {
    static const char* const kLow[] = {"BkSp", "Tab"};
    static const char* const kMove[] = {"Space", "PgUp", "PgDn",  "End", "Home",
                                        "Left",  "Up",   "Right", "Down"};
    switch (virtualKey) {
    case 8:
    case 9:
        return QLatin1StringView(kLow[virtualKey - 8]);
    case 13:
        return QStringLiteral("Enter");
    case 27:
        return QStringLiteral("Esc");
    case 45:
        return QStringLiteral("Ins");
    case 46:
        return QStringLiteral("Del");
    default:
        break;
    }
    if (virtualKey >= 32 && virtualKey <= 40)
        return QLatin1StringView(kMove[virtualKey - 32]);
    if ((virtualKey >= 48 && virtualKey <= 57) || (virtualKey >= 65 && virtualKey <= 90))
        return QString(QChar(virtualKey));
    if (virtualKey >= 96 && virtualKey <= 105)
        return QString(QChar(u'0' + (virtualKey - 96)));
    if (virtualKey >= 112 && virtualKey <= 135)
        return QStringLiteral("F%1").arg(virtualKey - 111);
    return qdx::keyboardKeyName(virtualKey);
}

QString ShortCutToText(uint16_t shortCut) {
    const QString name = shortCutKeyName(shortCut & 0xFF);
    if (name.isEmpty())
        return {};
    QString text;
    if (shortCut & scShift)
        text += QStringLiteral("Shift+");
    if (shortCut & scCtrl)
        text += QStringLiteral("Ctrl+");
    if (shortCut & scAlt)
        text += QStringLiteral("Alt+");
    return text + name;
}

uint16_t TextToShortCut(const QString& text) {
    uint16_t flags = 0;
    QStringView rest(text);
    for (;;) {
        if (takePrefix(rest, QLatin1StringView("Shift+")))
            flags |= scShift;
        else if (takePrefix(rest, QLatin1StringView("Ctrl+")) ||
                 takePrefix(rest, QLatin1StringView("^")))
            flags |= scCtrl;
        else if (takePrefix(rest, QLatin1StringView("Alt+")))
            flags |= scAlt;
        else
            break;
    }
    if (rest.isEmpty())
        return 0;
    const std::array<QString, 256>& table = names();
    for (int code = 8; code < 256; ++code)
        if (!table[code].isEmpty() && rest.compare(table[code], Qt::CaseInsensitive) == 0)
            return uint16_t(code | flags);
    return 0;
}
