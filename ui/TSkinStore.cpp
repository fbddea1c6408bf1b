#include "ui/TSkinStore.h"

namespace {

// A palette from a handful of base colours; the remaining roles are derived so that text stays
// readable on every background.
TSkin makeSkin(const QString& name, QColor window, QColor button, QColor highlight, QColor text,
               QColor workspace) {
    QPalette p;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Base, QColor(Qt::white));
        p.setColor(group, QPalette::AlternateBase, window.lighter(108));
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, text);
        p.setColor(group, QPalette::BrightText, QColor(Qt::white));
        p.setColor(group, QPalette::Highlight, highlight);
        p.setColor(group, QPalette::HighlightedText, QColor(Qt::white));
        p.setColor(group, QPalette::ToolTipBase, window.lighter(115));
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::Light, button.lighter(130));
        p.setColor(group, QPalette::Midlight, button.lighter(115));
        p.setColor(group, QPalette::Mid, button.darker(130));
        p.setColor(group, QPalette::Dark, button.darker(160));
        p.setColor(group, QPalette::Shadow, button.darker(250));
        p.setColor(group, QPalette::Link, highlight);
        p.setColor(group, QPalette::PlaceholderText, text.lighter(200));
    }
    const QColor disabledText = button.darker(170);
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    p.setColor(QPalette::Disabled, QPalette::Button, button);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, button.darker(130));
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, window);
    return TSkin{name, p, workspace};
}

} // namespace

TSkinStore::TSkinStore() {
    m_skins = {
        makeSkin(QStringLiteral("Azul"), QColor(0xD6, 0xE4, 0xF5), QColor(0xB9, 0xCF, 0xEC),
                 QColor(0x2A, 0x5D, 0xB0), QColor(0x10, 0x20, 0x40), QColor(0x5D, 0x7F, 0xAF)),
        makeSkin(QStringLiteral("Cinza"), QColor(0xD9, 0xD9, 0xD9), QColor(0xC6, 0xC6, 0xC6),
                 QColor(0x55, 0x55, 0x55), QColor(0x18, 0x18, 0x18), QColor(0x80, 0x80, 0x80)),
        makeSkin(QStringLiteral("Verde"), QColor(0xD8, 0xED, 0xD5), QColor(0xBA, 0xDC, 0xB3),
                 QColor(0x2F, 0x7D, 0x32), QColor(0x12, 0x30, 0x14), QColor(0x5E, 0x8F, 0x5A)),
    };
}

const TSkin* TSkinStore::Skin(int index) const {
    if (index < 0 || index >= m_skins.size())
        return nullptr;
    return &m_skins[index];
}
