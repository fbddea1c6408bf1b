#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSystemTrayIcon;

// Mouse events of the icon: the button, the keyboard modifiers (always none: the notification area
// does not report them) and the cursor's screen position.
using TTrayMouseEvent = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                           Qt::KeyboardModifiers Shift, int X, int Y)>;
using TTrayMouseMoveEvent =
    std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

// Where the icon is shown: the desktop's notification area. Tests put a recording one in its place.
class TrayArea {
public:
    virtual ~TrayArea() = default;
    // Puts the icon into the area; false when the area refuses it (there is none).
    virtual bool add(const QIcon& icon, const QString& tip) = 0;
    virtual void modify(const QIcon& icon, const QString& tip) = 0;
    virtual void remove() = 0;
};

// An icon with a tip in the desktop's notification area, reporting mouse actions on it. Hidden when
// created. Changes of Icon and Tip reach the area at once while the icon is shown, and are kept for
// the next time it is shown otherwise.
class TTaskBarIcon : public QObject {
public:
    explicit TTaskBarIcon(QObject* AOwner = nullptr);
    // With another notification area (not owned by the icon; it must outlive it).
    TTaskBarIcon(TrayArea* area, QObject* AOwner);
    ~TTaskBarIcon() override;
    TTaskBarIcon(const TTaskBarIcon&) = delete;
    TTaskBarIcon& operator=(const TTaskBarIcon&) = delete;

    // The longest tip kept; longer texts are cut to it.
    static constexpr int kMaxTip = 63;

    const QIcon& Icon() const { return m_icon; }
    void SetIcon(const QIcon& icon);
    const QString& Tip() const { return m_tip; }
    void SetTip(const QString& tip);
    bool Visible() const { return m_visible; }
    // True shows the icon when it has a picture and the area takes it (else Visible stays false);
    // false removes it. Setting the current value changes nothing.
    void SetVisible(bool visible);

    TTrayMouseEvent OnDown;
    TTrayMouseEvent OnUp;
    TTrayMouseEvent OnDblClick;
    TTrayMouseMoveEvent OnMouseMove; // the notification area reports no moves on X11

    // What the area reports, mapped onto the events: a click of a button gives OnDown then OnUp
    // with that button, a double click OnDblClick with the left button; X and Y are the cursor's
    // position. Public for the area's signal and for tests.
    enum class Action { LeftClick, RightClick, MiddleClick, DoubleClick };
    void AreaAction(Action action);

    // Whether the desktop has a notification area.
    static bool AreaAvailable();

private:
    class SystemArea;
    void raise(const TTrayMouseEvent& event, Qt::MouseButton button);

    std::unique_ptr<TrayArea> m_ownArea;
    TrayArea* m_area;
    QIcon m_icon;
    QString m_tip;
    bool m_visible = false;
};
