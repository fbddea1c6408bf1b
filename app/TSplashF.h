#pragma once

#include <QDialog>

class QEventLoop;
class QFrame;
class QLabel;

// The splash window: borderless, 554 x 317, centred on the screen, a picture with the version
// written on it. At start-up it cannot be dismissed; shown as the About window, a key or a click on
// the picture closes it.
class TSplashF : public QDialog {
public:
    enum class Mode { StartUp, About };
    explicit TSplashF(Mode mode = Mode::StartUp, QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Image1;
    QLabel* Label1;

    Mode mode() const { return m_mode; }
    // The application's picture at `size` (the splash's own drawing, also used by tests).
    static QPixmap picture(const QSize& size);

    // Shows the window and returns once it has been painted for the first time, serving events
    // meanwhile in an event loop (no busy waiting); after `timeoutMs` at the latest, for a window
    // system that never shows it.
    void ShowAndWaitForPaint(int timeoutMs);
    bool Painted() const { return m_painted; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Mode m_mode;
    bool m_painted = false;
    QEventLoop* m_paintWait = nullptr;
};
