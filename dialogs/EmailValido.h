#pragma once

#include <QString>

// The syntax check of an e-mail address: a local part of dot-separated words (atoms or quoted
// strings), an at sign, and a domain of at least two dot-separated labels, each starting with a
// letter, holding letters, digits and inner hyphens. The text is read character by character
// through nine states; nothing is trimmed, so a blank in front or behind makes it invalid.
bool EmailValido(const QString& text);
