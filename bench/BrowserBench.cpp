// The image browser's speed and memory.
//   browser_bench thumbs FOLDER WIDTH HEIGHT
//     makes the thumbnail of every .jpg of FOLDER for a cell of WIDTH x HEIGHT, as the fill does
//     (decode reduced, stretch to the cell), on this thread; prints pictures per second.
//   browser_bench fill FOLDER
//     fills a browser window of 1000 x 700 (offscreen) with FOLDER and prints the time until the
//     list is complete and the resident memory at the end (and its peak).

#include "app/TFormExplorer.h"
#include "app/TShellTreeView.h"
#include "app/TThreadPreencheTela.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>

#include <cstdio>

namespace {

long statusKiB(const char* key) {
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

int thumbs(const QString& folder, int width, int height) {
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files);
    QElapsedTimer timer;
    timer.start();
    int made = 0;
    for (const QString& name : names) {
        TBitmap picture;
        if (TFormExplorer::CarregarImagem(folder + QLatin1Char('/') + name, picture,
                                          QSize(width, height)) &&
            !TFormExplorer::CriarMiniatura(picture, width, height).Empty())
            ++made;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("thumbnails %d of %lld in %.3f s: %.1f pictures/s; peak resident %ld KiB\n", made,
                static_cast<long long>(names.size()), seconds, made / seconds, statusKiB("VmHWM:"));
    return made == names.size() ? 0 : 1;
}

int fill(const QString& folder) {
    TFormExplorer browser;
    browser.resize(1000, 700);
    browser.show();
    QCoreApplication::processEvents();
    const long before = statusKiB("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    if (!browser.ShellTreeView->SetPath(folder))
        return 2;
    while (!(browser.Worker() && browser.Worker()->Concluido()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("fill %d entries, %d thumbnails of %dx%d in %.3f s; resident %ld KiB at the end "
                "(%ld KiB before the fill), peak %ld KiB\n",
                browser.ListView->count(), browser.ImageList->Count(), browser.ImageList->Width(),
                browser.ImageList->Height(), seconds, statusKiB("VmRSS:"), before,
                statusKiB("VmHWM:"));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("thumbs"))
        return thumbs(args[2], args[3].toInt(), args[4].toInt());
    if (args.size() == 3 && args[1] == QLatin1String("fill"))
        return fill(args[2]);
    std::fprintf(stderr, "usage: browser_bench thumbs FOLDER WIDTH HEIGHT | fill FOLDER\n");
    return 2;
}
