#include "dialogs/EmailValido.h"

namespace {

bool isLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Letters, digits, the specials allowed in an atom, and every character from 128 to 255.
bool isAtom(char16_t c) {
    if (isLetter(c) || isDigit(c))
        return true;
    if (c >= 128 && c <= 255)
        return true;
    switch (c) {
    case u'!':
    case u'#':
    case u'$':
    case u'%':
    case u'&':
    case u'\'':
    case u'*':
    case u'+':
    case u'-':
    case u'=':
    case u'?':
    case u'^':
    case u'_':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
    case u'~':
        return true;
    default:
        return false;
    }
}

} // namespace

bool EmailValido(const QString& text) {
    int state = 0;
    int domainDots = 0;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        switch (state) {
        case 0: // start of a word of the local part
        case 5: // after a dot of the local part
            if (isAtom(c))
                state = 1;
            else if (c == u'"')
                state = 2;
            else
                return false;
            break;
        case 1: // inside a word
            if (c == u'@')
                state = 6;
            else if (c == u'.')
                state = 5;
            else if (!isAtom(c))
                return false;
            break;
        case 2: // inside a quoted string
            if (c == u'\\')
                state = 3;
            else if (c == u'"')
                state = 4;
            else if (c == u'\r')
                return false;
            break;
        case 3: // after a backslash in a quoted string
            state = 2;
            break;
        case 4: // after the closing quote
            if (c == u'@')
                state = 6;
            else if (c == u'.')
                state = 5;
            else
                return false;
            break;
        case 6: // start of a domain label
            if (!isLetter(c))
                return false;
            state = 7;
            break;
        case 7: // inside a domain label
            if (c == u'.') {
                state = 6;
                ++domainDots;
            } else if (c == u'-') {
                state = 8;
            } else if (!isLetter(c) && !isDigit(c)) {
                return false;
            }
            break;
        case 8: // after a hyphen inside a label
            if (isLetter(c) || isDigit(c))
                state = 7;
            else if (c != u'-')
                return false;
            break;
        default:
            return false;
        }
    }
    return state == 7 && domainDots >= 1;
}
