#include "ui/TTaskBarIcon.h"

#include "ui/ErrorRoute.h"

#include <QCursor>
#include <QSystemTrayIcon>

// The real area: Qt's system tray icon (the XEmbed tray or a StatusNotifier host).
class TTaskBarIcon::SystemArea : public TrayArea {
public:
    explicit SystemArea(TTaskBarIcon* owner) : m_owner(owner) {}

    bool add(const QIcon& icon, const QString& tip) override {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            return false;
        if (!m_tray) {
            m_tray = std::make_unique<QSystemTrayIcon>();
            QObject::connect(m_tray.get(), &QSystemTrayIcon::activated, m_owner,
                             [owner = m_owner](QSystemTrayIcon::ActivationReason reason) {
                                 switch (reason) {
                                 case QSystemTrayIcon::Trigger:
                                     owner->AreaAction(Action::LeftClick);
                                     break;
                                 case QSystemTrayIcon::Context:
                                     owner->AreaAction(Action::RightClick);
                                     break;
                                 case QSystemTrayIcon::MiddleClick:
                                     owner->AreaAction(Action::MiddleClick);
                                     break;
                                 case QSystemTrayIcon::DoubleClick:
                                     owner->AreaAction(Action::DoubleClick);
                                     break;
                                 default:
                                     break;
                                 }
                             });
        }
        m_tray->setIcon(icon);
        m_tray->setToolTip(tip);
        m_tray->show();
        return true;
    }
    void modify(const QIcon& icon, const QString& tip) override {
        if (!m_tray)
            return;
        m_tray->setIcon(icon);
        m_tray->setToolTip(tip);
    }
    void remove() override {
        if (m_tray)
            m_tray->hide();
    }

private:
    TTaskBarIcon* m_owner;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

TTaskBarIcon::TTaskBarIcon(QObject* AOwner)
    : QObject(AOwner), m_ownArea(std::make_unique<SystemArea>(this)), m_area(m_ownArea.get()) {}

TTaskBarIcon::TTaskBarIcon(TrayArea* area, QObject* AOwner) : QObject(AOwner), m_area(area) {}

TTaskBarIcon::~TTaskBarIcon() {
    if (m_visible)
        m_area->remove();
}

bool TTaskBarIcon::AreaAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTaskBarIcon::SetIcon(const QIcon& icon) {
    m_icon = icon;
    if (m_visible)
        m_area->modify(m_icon, m_tip);
}

void TTaskBarIcon::SetTip(const QString& tip) {
    m_tip = tip.left(kMaxTip);
    if (m_visible)
        m_area->modify(m_icon, m_tip);
}

void TTaskBarIcon::SetVisible(bool visible) {
    if (visible == m_visible)
        return;
    if (visible) {
        m_visible = !m_icon.isNull() && m_area->add(m_icon, m_tip);
    } else {
        m_area->remove();
        m_visible = false;
    }
}

void TTaskBarIcon::raise(const TTrayMouseEvent& event, Qt::MouseButton button) {
    if (!event)
        return;
    const QPoint at = QCursor::pos();
    try {
        event(this, button, Qt::NoModifier, at.x(), at.y());
    } catch (...) {
        qdx::ui::routeCurrentException(this);
    }
}

void TTaskBarIcon::AreaAction(Action action) {
    switch (action) {
    case Action::LeftClick:
        raise(OnDown, Qt::LeftButton);
        raise(OnUp, Qt::LeftButton);
        break;
    case Action::RightClick:
        raise(OnDown, Qt::RightButton);
        raise(OnUp, Qt::RightButton);
        break;
    case Action::MiddleClick:
        raise(OnDown, Qt::MiddleButton);
        raise(OnUp, Qt::MiddleButton);
        break;
    case Action::DoubleClick:
        raise(OnDblClick, Qt::LeftButton);
        break;
    }
}
