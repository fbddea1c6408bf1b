#include "app/TSplashF.h"

#include "shared/Configuracoes.h"

#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>

TSplashF::TSplashF(Mode mode, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog), m_mode(mode) {
    setObjectName(QStringLiteral("SplashF"));
    // Not shown on the borderless window; it names the window for the window system's lists.
    setWindowTitle(QStringLiteral("Quadrix ") + VersaoPrograma);
    setFixedSize(554, 317);
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 554, 317);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(white);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(4, 4, 545, 308);
    Image1->setScaledContents(true);
    Image1->setPixmap(picture(QSize(545, 308)));
    Image1->installEventFilter(this);

    Label1 = new QLabel(Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(9, 286);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

QPixmap TSplashF::picture(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::white);
    QSvgRenderer renderer(QStringLiteral(":/quadrix/splash.svg"));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    return pixmap;
}

bool TSplashF::event(QEvent* event) {
    // The version is written on the picture once the window has been activated.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show) {
        Label1->setText(QStringLiteral("Version: ") + VersaoPrograma);
        Label1->adjustSize();
    }
    return QDialog::event(event);
}

void TSplashF::ShowAndWaitForPaint(int timeoutMs) {
    QEventLoop wait;
    m_paintWait = &wait;
    QTimer::singleShot(timeoutMs, &wait, &QEventLoop::quit);
    show();
    if (!m_painted)
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    m_paintWait = nullptr;
}

bool TSplashF::eventFilter(QObject* watched, QEvent* event) {
    // The picture covers the window: its first paint is the splash's.
    if (watched == Image1 && event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        // The rest of that paint pass goes on; the wait ends once it is through.
        if (m_paintWait)
            QTimer::singleShot(0, m_paintWait, &QEventLoop::quit);
    }
    if (watched == Image1 && event->type() == QEvent::MouseButtonPress) {
        if (m_mode == Mode::About)
            accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TSplashF::keyPressEvent(QKeyEvent* event) {
    // While the program starts, keys do nothing here (not even Esc).
    if (m_mode == Mode::About)
        accept();
    event->accept();
}
