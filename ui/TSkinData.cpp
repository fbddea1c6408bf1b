#include "ui/TSkinData.h"

#include <QApplication>
#include <QMdiArea>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace {

// The look the program had before any skin touched it, taken once.
struct PlainLook {
    QString style;
    QPalette palette;
    bool taken = false;
};

PlainLook& plainLook() {
    static PlainLook look;
    if (!look.taken && qApp) {
        look.style = QApplication::style()->name();
        look.palette = QApplication::palette();
        look.taken = true;
    }
    return look;
}

} // namespace

TSkinData::TSkinData() {
    plainLook();
}

void TSkinData::LoadFromCollection(const TSkinStore& store, int index) {
    if (const TSkin* skin = store.Skin(index))
        m_loaded = *skin;
}

QString TSkinData::SkinName() const {
    return m_loaded ? m_loaded->name : QString();
}

void TSkinData::AplicarIndice(const TSkinStore& store, int index) {
    if (index == 3) {
        SetActive(false);
        return;
    }
    LoadFromCollection(store, index);
    if (!Active())
        SetActive(true);
}

void TSkinData::SetActive(bool active) {
    if (active == m_active)
        return;
    m_active = active;
    if (active)
        applyLoaded();
    else
        applyPlain();
}

void TSkinData::DoSkinChanged() {
    if (!m_active)
        return;
    applyLoaded();
    for (QWidget* top : QApplication::topLevelWidgets())
        top->update();
}

void TSkinData::applyLoaded() {
    if (!m_loaded)
        return;
    plainLook();
    if (QApplication::style()->name().compare(QStringLiteral("fusion"), Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(m_loaded->palette);
    // Every existing window takes the colours now, not at the next turn of the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::ApplicationPaletteChange);
    setWorkspaces(m_loaded->workspace);
}

void TSkinData::applyPlain() {
    const PlainLook& look = plainLook();
    if (!look.taken)
        return;
    if (QApplication::style()->name().compare(look.style, Qt::CaseInsensitive) != 0)
        if (QStyle* style = QStyleFactory::create(look.style))
            QApplication::setStyle(style);
    QApplication::setPalette(look.palette);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::ApplicationPaletteChange);
    setWorkspaces(std::nullopt);
    for (QWidget* top : QApplication::topLevelWidgets())
        top->update();
}

void TSkinData::setWorkspaces(const std::optional<QColor>& colour) {
    for (QWidget* widget : QApplication::allWidgets())
        if (auto* area = qobject_cast<QMdiArea*>(widget))
            area->setBackground(colour ? QBrush(*colour) : QBrush(Qt::gray));
}
