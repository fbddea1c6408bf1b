#include "tests/app/AppTestSupport.h"

#include "platform/core/AppFolder.h"
#include "shared/Configuracoes.h"

#include <QCoreApplication>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QTimer>

namespace qdx::test {

TBitmap FakeScreen::grab(TPixelFormat format) {
    ++grabs;
    TBitmap bitmap(m_picture.convertToFormat(QImage::Format_RGB32));
    if (format != pfDevice && format != pfCustom)
        bitmap.SetPixelFormat(format);
    return bitmap;
}

void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

QImage screenPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
    QPainter painter(&image);
    painter.fillRect(0, 0, 20, 20, Qt::red);
    painter.fillRect(width - 20, 0, 20, 20, Qt::white);
    painter.fillRect(0, height - 20, 20, 20, Qt::blue);
    painter.fillRect(width - 20, height - 20, 20, 20, Qt::black);
    return image;
}

void MainWindowFixture::SetUp() {
    // The widget tests never touch a real X server (no key grabs, no screen copies).
    qunsetenv("DISPLAY");
    qputenv("XDG_CONFIG_HOME", dir.file(QStringLiteral("config")).toLocal8Bit());
    qunsetenv("QUADRIX_BANNER_HOST");
    setApplicationFolder(dir.path());
    IniciarConfiguracoes();
    previousCurrent = QDir::currentPath();
    QDir::setCurrent(dir.path());
    recreate();
}

void MainWindowFixture::TearDown() {
    form.reset();
    // Exit and close end the event loop; the next test's modal dialogs need a fresh one.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    QDir::setCurrent(previousCurrent);
}

void MainWindowFixture::recreate() {
    form.reset();
    form = std::make_unique<TFormPrincipal>(nullptr, &area);
    form->SetScreenSource(screen);
}

QList<QMdiSubWindow*> MainWindowFixture::children() const {
    return form->MdiArea->subWindowList(QMdiArea::CreationOrder);
}

} // namespace qdx::test
