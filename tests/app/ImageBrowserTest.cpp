// The image browser: the size texts, filters and cells; thumbnails from every picture format and
// from JPEG's scaled decoding; the subfolder rules; the refresh and stop rules of a running fill;
// two windows at once, and the commands of the entries.

#include "app/TFormExplorer.h"
#include "app/TFormImagem.h"
#include "app/TShellTreeView.h"
#include "app/TThreadPreencheTela.h"
#include "shared/ArquivosImagem.h"
#include "shared/JpegFile.h"
#include "tests/app/AppTestSupport.h"
#include "ui/TStatusBar.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMdiArea>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <future>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace qdx;
using namespace qdx::test;

namespace {

QImage solid(QColor colour, int width = 64, int height = 48) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A 16 x 16 icon of one colour: one 32-bit DIB image with an empty AND mask.
QByteArray iconFile(QColor colour) {
    QByteArray data;
    auto put16 = [&](int v) {
        data.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    };
    auto put32 = [&](int v) {
        put16(v & 0xFFFF);
        put16((v >> 16) & 0xFFFF);
    };
    const int pixels = 16 * 16 * 4, mask = 16 * 4;
    put16(0), put16(1), put16(1);                                           // ICONDIR
    data.append(char(16)).append(char(16)).append(char(0)).append(char(0)); // size, colours
    put16(1), put16(32), put32(40 + pixels + mask), put32(6 + 16);          // ICONDIRENTRY
    put32(40), put32(16), put32(32), put16(1), put16(32), put32(0);         // BITMAPINFOHEADER
    put32(pixels + mask), put32(0), put32(0), put32(0), put32(0);
    for (int i = 0; i < 16 * 16; ++i)
        data.append(char(colour.blue()))
            .append(char(colour.green()))
            .append(char(colour.red()))
            .append(char(0xFF));
    data.append(QByteArray(mask, '\0'));
    return data;
}

QRgb centre(const QListWidgetItem* item, QSize cell) {
    const QImage image = item->icon().pixmap(cell).toImage();
    return image.pixel(image.width() / 2, image.height() / 2);
}

bool near(QRgb a, QColor b) {
    return std::abs(qRed(a) - b.red()) < 24 && std::abs(qGreen(a) - b.green()) < 24 &&
           std::abs(qBlue(a) - b.blue()) < 24;
}

// Takes the desktop's open requests instead of starting programs.
class DesktopRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }
};

// Holds the browser lock on another thread until released, so that a worker stays in its fill.
class LockHolder {
public:
    LockHolder() {
        std::promise<void> locked;
        std::future<void> isLocked = locked.get_future();
        m_thread = std::thread([this, &locked] {
            std::unique_lock lock(BloqueioExplorer());
            locked.set_value();
            m_release.get_future().wait();
        });
        isLocked.wait();
    }
    ~LockHolder() {
        release();
        m_thread.join();
    }
    void release() {
        if (!m_released) {
            m_released = true;
            m_release.set_value();
        }
    }

private:
    std::promise<void> m_release;
    bool m_released = false;
    std::thread m_thread;
};

class ImageBrowser : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        form->resize(1000, 700);
        form->show();
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        MainWindowFixture::TearDown();
    }

    QList<TFormExplorer*> browsers() const {
        QList<TFormExplorer*> list;
        for (QMdiSubWindow* child : children())
            if (auto* browser = qobject_cast<TFormExplorer*>(child))
                list.append(browser);
        return list;
    }
    TFormExplorer* openBrowser() {
        form->Visualizarimagens1->trigger();
        settle();
        return browsers().last();
    }
    QString folder(const QString& name) {
        const QString path = dir.file(name);
        QDir().mkpath(path);
        return path;
    }
    // Runs events until the browser's fill has ended (or 60 s have passed).
    static bool waitForFill(TFormExplorer* browser) {
        QElapsedTimer timer;
        timer.start();
        while (!(browser->Worker() && browser->Worker()->Concluido()) && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        settle();
        return browser->Worker() && browser->Worker()->Concluido();
    }
    static bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return done();
    }
    static QStringList names(const TFormExplorer* browser) {
        QStringList list;
        for (int i = 0; i < browser->ListView->count(); ++i)
            list.append(browser->ListView->item(i)->text());
        return list;
    }
    static QStringList paths(const TFormExplorer* browser) {
        QStringList list;
        for (int i = 0; i < browser->ListView->count(); ++i)
            if (const auto dados = TFormExplorer::Dados(browser->ListView->item(i)))
                list.append(dados->Caminho);
        return list;
    }
};

TEST(ImageBrowserRules, SizeTextsFiltersAndScaledJpegDecoding) {
    EXPECT_EQ(TFormExplorer::TextoTamanho(0), QStringLiteral("0bytes"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(1024), QStringLiteral("1024bytes"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(1025), QStringLiteral("1 KB"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(1048576), QStringLiteral("1024 KB"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(1048577), QStringLiteral("1 MB"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(1073741824), QStringLiteral("1024 MB"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(1073741825), QStringLiteral("1 GB"));
    // Files past 2 GiB keep their size.
    EXPECT_EQ(TFormExplorer::TextoTamanho(int64_t(5) << 30), QStringLiteral("5 GB"));
    EXPECT_EQ(TFormExplorer::TextoTamanho(int64_t(3) << 40), QStringLiteral("3072 GB"));

    const auto& filtros = TFormExplorer::Filtros();
    ASSERT_EQ(filtros.size(), 8);
    EXPECT_EQ(filtros[0].first, QStringLiteral("All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)"));
    EXPECT_EQ(filtros[0].second, QStringLiteral("*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf"));
    EXPECT_EQ(filtros[7].first, QStringLiteral("Gif (*.gif)"));

    // A 1920 x 1080 photograph (red left half, blue right half) decoded for cells of several
    // sizes: the smallest eighth not below the cell, the whole picture when none is.
    QImage photo(1920, 1080, QImage::Format_RGB32);
    photo.fill(Qt::red);
    for (int y = 0; y < 1080; ++y)
        for (int x = 960; x < 1920; ++x)
            photo.setPixel(x, y, qRgb(0, 0, 255));
    const QByteArray jpeg = JpegFile::encode(TBitmap(photo));
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(jpeg.constData()),
                                         size_t(jpeg.size()));
    const TBitmap small = JpegFile::decodeAtLeast(bytes, QSize(50, 35));
    EXPECT_EQ(QSize(small.Width(), small.Height()), QSize(240, 135));
    EXPECT_TRUE(near(small.Image().pixel(10, 60), Qt::red));
    EXPECT_TRUE(near(small.Image().pixel(230, 60), Qt::blue));
    const TBitmap medium = JpegFile::decodeAtLeast(bytes, QSize(300, 200));
    EXPECT_EQ(QSize(medium.Width(), medium.Height()), QSize(480, 270));
    const TBitmap tall = JpegFile::decodeAtLeast(bytes, QSize(10, 1000));
    EXPECT_EQ(QSize(tall.Width(), tall.Height()), QSize(1920, 1080));
    const TBitmap whole = JpegFile::decodeAtLeast(bytes, QSize());
    EXPECT_EQ(QSize(whole.Width(), whole.Height()), QSize(1920, 1080));

    // The thumbnail is stretched over the whole cell.
    const TBitmap thumb = TFormExplorer::CriarMiniatura(small, 40, 10);
    EXPECT_EQ(QSize(thumb.Width(), thumb.Height()), QSize(40, 10));
    EXPECT_TRUE(near(thumb.Image().pixel(2, 5), Qt::red));
    EXPECT_TRUE(near(thumb.Image().pixel(37, 5), Qt::blue));

    // Damaged, foreign and non-regular files give no picture, at once.
    TempDir dir;
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("cut.jpg")), jpeg.left(3)));
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("noise.bmp")), QByteArray(500, 'x')));
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("a.emf")), QByteArray(500, 'x')));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file(QStringLiteral("pipe.jpg"))).constData(), 0600),
              0);
    TBitmap bitmap;
    for (const char* name : {"cut.jpg", "noise.bmp", "a.emf", "pipe.jpg", "missing.jpg"})
        EXPECT_FALSE(TFormExplorer::CarregarImagem(dir.file(QString::fromLatin1(name)), bitmap,
                                                   QSize(20, 20)))
            << name;
}

// An icon file of one PNG image.
QByteArray iconOf(const QByteArray& png) {
    QByteArray ico;
    const auto put = [&ico](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            ico.append(char((value >> (8 * i)) & 0xFF));
    };
    put(0, 2), put(1, 2), put(1, 2);                                // ICONDIR
    put(0, 4), put(1, 2), put(32, 2), put(uint32_t(png.size()), 4); // 256 x 256, planes, bits, size
    put(22, 4);                                                     // offset
    return ico + png;
}

// The resident memory of the process, now and at its peak since the last reset, in bytes.
int64_t statusBytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field)))
                       .trimmed()
                       .split(' ')
                       .value(0)
                       .toLongLong() *
                   1024;
    return -1;
}

// The thumbnail of a picture of 2^26 pixels (8192 x 8192, the largest a reader builds) costs
// little more than its file: BMP (plain and RLE) and GIF are reduced while their rows are read,
// never built whole nor copied to 32 bits. The peak is the kernel's (VmHWM, reset before each).
TEST(ImageBrowserRules, ThumbnailsOfHugePicturesAreDecodedReduced) {
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    if (!reset.open(QIODevice::WriteOnly))
        GTEST_SKIP() << "the peak memory cannot be reset here";
    reset.close();
    TempDir dir;
    constexpr int kSide = 8192;
    {
        // Left half red, right half blue, in 256 colours.
        QImage halves(kSide, kSide, QImage::Format_Indexed8);
        halves.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
        for (int y = 0; y < kSide; ++y) {
            uint8_t* row = halves.scanLine(y);
            std::memset(row, 0, kSide / 2);
            std::memset(row + kSide / 2, 1, kSide / 2);
        }
        SalvarImagem(TBitmap(halves, pf8bit), dir.file(QStringLiteral("huge.bmp")));
        SalvarImagem(TBitmap(halves, pf8bit), dir.file(QStringLiteral("huge.gif")));
        QByteArray png;
        QBuffer buffer(&png);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        ASSERT_TRUE(halves.save(&buffer, "PNG"));
        ASSERT_TRUE(writeAll(dir.file(QStringLiteral("huge.ico")), iconOf(png)));
    }
    {
        // An interlaced PNG icon (from ImageMagick), whose passes come pixel by pixel.
        const QString png = dir.file(QStringLiteral("interlaced.png"));
        const ProcessResult made = run(
            QStringLiteral("convert"),
            {QStringLiteral("-size"), QStringLiteral("400x600"), QStringLiteral("xc:red"),
             QStringLiteral("-size"), QStringLiteral("400x600"), QStringLiteral("xc:blue"),
             QStringLiteral("+append"), QStringLiteral("-interlace"), QStringLiteral("PNG"), png});
        ASSERT_EQ(made.exitCode, 0);
        ASSERT_TRUE(writeAll(dir.file(QStringLiteral("interlaced.ico")), iconOf(readAll(png))));
    }
    {
        // The same as RLE8: each row one run of 4096 red pixels (16 runs of 255 and one of 16),
        // then the same of blue.
        QByteArray rle;
        for (int y = 0; y < kSide; ++y) {
            for (int index = 0; index < 2; ++index) {
                for (int i = 0; i < 16; ++i)
                    rle.append(char(255)).append(char(index));
                rle.append(char(16)).append(char(index));
            }
            rle.append(char(0)).append(char(0));
        }
        rle.append(char(0)).append(char(1));
        QByteArray file(14 + 40 + 8, '\0');
        const auto put = [&file](int at, uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i)
                file[at + i] = char((value >> (8 * i)) & 0xFF);
        };
        file[0] = 'B', file[1] = 'M';
        put(2, uint32_t(file.size() + rle.size()), 4);
        put(10, uint32_t(file.size()), 4);
        put(14, 40, 4), put(18, kSide, 4), put(22, kSide, 4), put(26, 1, 2), put(28, 8, 2);
        put(30, 1 /* BI_RLE8 */, 4), put(34, uint32_t(rle.size()), 4), put(46, 2, 4);
        put(54, 0x00FF0000, 4), put(58, 0x000000FF, 4); // red, blue
        ASSERT_TRUE(writeAll(dir.file(QStringLiteral("rle.bmp")), file + rle));
    }
    const QSize cell(200, 150);
    for (const char* name : {"huge.bmp", "rle.bmp", "huge.gif", "huge.ico", "interlaced.ico"}) {
        const QString file = dir.file(QString::fromLatin1(name));
        const int64_t fileBytes = QFileInfo(file).size();
        ASSERT_TRUE(reset.open(QIODevice::WriteOnly));
        reset.write("5");
        reset.close();
        const int64_t before = statusBytes("VmRSS:");
        const QImage thumb = TFormExplorer::FazerMiniatura(file, cell);
        const int64_t peak = statusBytes("VmHWM:");
        ASSERT_GT(before, 0);
        EXPECT_LT(peak - before, fileBytes + (int64_t(32) << 20))
            << name << ": the decode took " << (peak - before) / 1048576 << " MiB for a file of "
            << fileBytes / 1048576 << " MiB";
        ASSERT_EQ(thumb.size(), cell) << name;
        EXPECT_TRUE(near(thumb.pixel(20, 75), Qt::red)) << name;
        EXPECT_TRUE(near(thumb.pixel(180, 75), Qt::blue)) << name;
    }
    // The same routines still give the whole picture when no thumbnail size is asked.
    const TBitmap whole = CarregarImagem(dir.file(QStringLiteral("huge.gif")));
    EXPECT_EQ(QSize(whole.Width(), whole.Height()), QSize(kSide, kSide));
}

TEST_F(ImageBrowser, AFillShowsEveryFileOfTheFilterWithItsOwnThumbnail) {
    const QString pics = folder(QStringLiteral("pics"));
    SalvarImagem(TBitmap(solid(Qt::red)), pics + QStringLiteral("/a.jpg"));
    ASSERT_TRUE(writeAll(pics + QStringLiteral("/b.bmp"), QByteArray("BM\x10\x00garbage", 11)));
    SalvarImagem(TBitmap(solid(Qt::green)), pics + QStringLiteral("/c.bmp"));
    SalvarImagem(TBitmap(solid(Qt::blue)), pics + QStringLiteral("/photo.jpg"));
    ASSERT_TRUE(QFile::rename(pics + QStringLiteral("/photo.jpg"), pics + "/PHOTO.JPG"));
    SalvarImagem(TBitmap(solid(Qt::yellow)), pics + QStringLiteral("/e.gif"));
    ASSERT_TRUE(writeAll(pics + QStringLiteral("/f.ico"), iconFile(Qt::magenta)));
    SalvarImagem(TBitmap(solid(Qt::cyan)), pics + QStringLiteral("/g.wmf"));
    ASSERT_TRUE(writeAll(pics + QStringLiteral("/d.emf"), QByteArray(100, 'e')));
    ASSERT_TRUE(writeAll(pics + QStringLiteral("/notes.txt"), "text"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pics + QStringLiteral("/pipe.jpg")).constData(), 0600), 0);
    QDir().mkpath(pics + QStringLiteral("/folder.jpg"));

    TFormExplorer* browser = openBrowser();
    EXPECT_EQ(browser->windowTitle(), QStringLiteral("Images"));
    EXPECT_TRUE(browser->isMaximized());
    EXPECT_EQ(browser->ComboBoxTamanho->currentText(), QStringLiteral("Pequeno"));
    EXPECT_EQ(browser->FilterComboBox->currentIndex(), 0);
    EXPECT_FALSE(browser->CheckBoxSubPastas->isChecked());
    EXPECT_EQ(browser->PanelEsquerdo->width(), 185);
    EXPECT_EQ(browser->Worker(), nullptr); // nothing is filled before a folder is chosen

    ASSERT_TRUE(browser->ShellTreeView->SetPath(pics));
    EXPECT_EQ(browser->ShellTreeView->Path(), pics);
    ASSERT_TRUE(waitForFill(browser));
    // Pattern by pattern, in the filter's order; GIF, text files and folders are not listed.
    EXPECT_EQ(names(browser), (QStringList{"a.jpg", "PHOTO.JPG", "pipe.jpg", "b.bmp", "c.bmp",
                                           "f.ico", "d.emf", "g.wmf"}));
    const QSize cell = browser->ImageList->Size();
    EXPECT_EQ(cell,
              QSize(browser->ListView->width() * 5 / 100, browser->ListView->height() * 5 / 100));
    EXPECT_GT(cell.width(), 10);
    const QList<std::pair<int, QColor>> thumbs = {
        {0, Qt::red}, {1, Qt::blue}, {4, Qt::green}, {5, Qt::magenta}, {7, Qt::cyan}};
    for (const auto& [row, colour] : thumbs) {
        const QListWidgetItem* item = browser->ListView->item(row);
        ASSERT_FALSE(item->icon().isNull()) << item->text().toStdString();
        EXPECT_TRUE(near(centre(item, cell), colour)) << item->text().toStdString();
        EXPECT_EQ(item->icon().availableSizes().value(0), cell);
    }
    // The damaged picture, the pipe and the EMF file have entries without thumbnails.
    for (int row : {2, 3, 6})
        EXPECT_TRUE(browser->ListView->item(row)->icon().isNull()) << row;
    EXPECT_EQ(browser->ImageList->Count(), 5);
    const std::optional<TDados> dados = TFormExplorer::Dados(browser->ListView->item(4));
    ASSERT_TRUE(dados.has_value());
    const QString size = TFormExplorer::TextoTamanho(QFileInfo(pics + "/c.bmp").size());
    EXPECT_EQ(dados->Caminho, pics + QStringLiteral("/c.bmp"));
    EXPECT_EQ(dados->Dica, QStringLiteral("Name: c.bmp\r\nPath: ") + pics +
                               QStringLiteral("/c.bmp\r\nSize: ") + size);
    EXPECT_EQ(dados->Indice, 4);
    EXPECT_EQ(browser->StatusBar->Panel(1).Text, QStringLiteral("8 files"));

    // Choosing an entry shows its path, hint and size.
    browser->ListView->setCurrentRow(4);
    EXPECT_EQ(browser->windowTitle(),
              QStringLiteral("Images - ") + pics + QStringLiteral("/c.bmp"));
    EXPECT_EQ(browser->ListView->toolTip(), dados->Dica);
    EXPECT_EQ(browser->StatusBar->Panel(0).Text, size);

    // After the fill, a new filter refreshes: GIF files appear only under their own filter.
    browser->FilterComboBox->setCurrentIndex(7);
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(names(browser), QStringList{"e.gif"});
    EXPECT_TRUE(near(centre(browser->ListView->item(0), cell), Qt::yellow));
    browser->FilterComboBox->setCurrentIndex(5);
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(names(browser), QStringList{"d.emf"});
    EXPECT_TRUE(browser->ListView->item(0)->icon().isNull());

    // A larger size refreshes with a cell of half the list.
    browser->FilterComboBox->setCurrentIndex(1);
    ASSERT_TRUE(waitForFill(browser));
    browser->ComboBoxTamanho->setCurrentIndex(1);
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(browser->ImageList->Size(),
              QSize(browser->ListView->width() / 2, browser->ListView->height() / 2));
    EXPECT_EQ(names(browser), (QStringList{"a.jpg", "PHOTO.JPG", "pipe.jpg"}));
    EXPECT_EQ(browser->ListView->item(0)->icon().availableSizes().value(0),
              browser->ImageList->Size());

    // The root node of the tree stands for the computer and gives an empty list.
    browser->ShellTreeView->setCurrentItem(browser->ShellTreeView->RootNode());
    EXPECT_EQ(browser->ShellTreeView->Path(), QStringLiteral("Drives"));
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(browser->ListView->count(), 0);
}

// At "Grande" the thumbnails of a large folder would take far more than their budget: the list
// holds those near the view within it, and the entries that come into view get theirs back.
TEST_F(ImageBrowser, ThumbnailsStayWithinTheirBudgetAndComeBackIntoView) {
    const QString pics = folder(QStringLiteral("many"));
    SalvarImagem(TBitmap(solid(Qt::blue, 120, 90)), pics + QStringLiteral("/p000.bmp"));
    for (int i = 1; i < 60; ++i)
        ASSERT_EQ(::link(QFile::encodeName(pics + QStringLiteral("/p000.bmp")).constData(),
                         QFile::encodeName(
                             pics + QStringLiteral("/p%1.bmp").arg(i, 3, 10, QLatin1Char('0')))
                             .constData()),
                  0);
    TFormExplorer* browser = openBrowser();
    EXPECT_EQ(browser->ImageList->Budget(), int64_t(256) << 20);
    constexpr int64_t kBudget = int64_t(24) << 20;
    browser->ImageList->SetBudget(kBudget);
    browser->ComboBoxTamanho->setCurrentIndex(2);
    ASSERT_TRUE(browser->ShellTreeView->SetPath(pics));
    ASSERT_TRUE(waitForFill(browser));
    QListWidget* list = browser->ListView;
    ASSERT_EQ(list->count(), 60);
    const QSize cell = browser->ImageList->Size();
    ASSERT_GT(60 * int64_t(cell.width()) * cell.height() * 4, 2 * kBudget);
    // The bytes of the pictures the entries' icons hold.
    const auto held = [&] {
        int64_t bytes = 0;
        for (int row = 0; row < list->count(); ++row)
            for (const QSize size : list->item(row)->icon().availableSizes())
                bytes += int64_t(size.width()) * size.height() * 4;
        return bytes;
    };
    const auto shown = [&](int row) {
        return !list->item(row)->icon().isNull();
    };
    const auto check = [&](const char* where) {
        EXPECT_LE(held(), kBudget) << where;
        EXPECT_EQ(held(), browser->ImageList->Bytes()) << where;
        const auto [first, last] = browser->FaixaVisivel();
        ASSERT_LE(first, last) << where;
        for (int row = first; row <= last; ++row) {
            ASSERT_TRUE(shown(row)) << where << " " << row;
            EXPECT_TRUE(near(centre(list->item(row), cell), Qt::blue)) << where << " " << row;
        }
    };
    check("after the fill");
    EXPECT_TRUE(shown(0));
    EXPECT_FALSE(shown(59));

    list->scrollToBottom();
    ASSERT_TRUE(waitFor([&] { return shown(59); }));
    ASSERT_TRUE(waitForFill(browser));
    check("at the end");
    EXPECT_FALSE(shown(0));

    list->scrollToTop();
    ASSERT_TRUE(waitFor([&] { return shown(0); }));
    ASSERT_TRUE(waitForFill(browser));
    check("back at the top");
    EXPECT_FALSE(shown(59));
    // Every entry is still there with its record.
    EXPECT_EQ(paths(browser).size(), 60);
}

TEST_F(ImageBrowser, SubfoldersAreFilledExceptHiddenReadOnlyAndLinkedOnes) {
    const QString top = folder(QStringLiteral("top"));
    for (const char* sub : {"sub/deeper", ".hidden", "locked", "empty"})
        QDir().mkpath(top + QLatin1Char('/') + QLatin1String(sub));
    const QImage picture = solid(Qt::red, 8, 8);
    for (const char* name :
         {"x.jpg", "sub/y.jpg", "sub/deeper/z.jpg", ".hidden/h.jpg", "locked/r.jpg", ".dot.jpg"})
        SalvarImagem(TBitmap(picture), top + QLatin1Char('/') + QLatin1String(name));
    ASSERT_EQ(::chmod(QFile::encodeName(top + "/locked").constData(), 0555), 0);
    // A link to the folder itself would make a fill that followed it go round for ever.
    ASSERT_EQ(
        ::symlink(QFile::encodeName(top).constData(), QFile::encodeName(top + "/loop").constData()),
        0);
    ASSERT_EQ(::symlink("sub", QFile::encodeName(top + "/alias").constData()), 0);

    TFormExplorer* browser = openBrowser();
    browser->CheckBoxSubPastas->click();
    ASSERT_TRUE(browser->ShellTreeView->SetPath(top));
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(paths(browser), (QStringList{top + "/.dot.jpg", top + "/x.jpg", top + "/sub/y.jpg",
                                           top + "/sub/deeper/z.jpg"}));
    ::chmod(QFile::encodeName(top + "/locked").constData(), 0755);

    // The tree loads a folder's subfolders when it is expanded, without hidden ones and links.
    TShellTreeView* tree = browser->ShellTreeView;
    EXPECT_EQ(tree->RootNode()->childCount(), 2);
    EXPECT_EQ(tree->FileSystemNode()->text(0), QStringLiteral("/"));
    ASSERT_NE(tree->HomeNode(), nullptr);
    EXPECT_EQ(tree->HomeNode()->data(0, Qt::UserRole).toString(), QDir::homePath());
    QTreeWidgetItem* node = tree->currentItem();
    EXPECT_EQ(node->text(0), QStringLiteral("top"));
    EXPECT_EQ(node->childCount(), 0); // not read before it is expanded
    node->setExpanded(true);
    QStringList shown;
    for (int i = 0; i < node->childCount(); ++i)
        shown.append(node->child(i)->text(0));
    ASSERT_EQ(shown, (QStringList{"empty", "locked", "sub"}));
    QTreeWidgetItem* sub = node->child(2);
    EXPECT_EQ(sub->childCount(), 0);
    sub->setExpanded(true);
    ASSERT_EQ(sub->childCount(), 1);
    tree->setCurrentItem(sub->child(0));
    EXPECT_EQ(tree->Path(), top + QStringLiteral("/sub/deeper"));
    EXPECT_FALSE(tree->SetPath(top + QStringLiteral("/.hidden")));
    EXPECT_FALSE(tree->SetPath(top + QStringLiteral("/loop")));
}

TEST_F(ImageBrowser, ChangesDuringAFillFollowTheRefreshRules) {
    const QString pics = folder(QStringLiteral("three"));
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg"})
        SalvarImagem(TBitmap(solid(Qt::green)), pics + QLatin1Char('/') + QLatin1String(name));
    SalvarImagem(TBitmap(solid(Qt::green)), pics + QStringLiteral("/4.gif"));
    QDir().mkpath(pics + QStringLiteral("/sub"));
    SalvarImagem(TBitmap(solid(Qt::green)), pics + QStringLiteral("/sub/5.jpg"));

    TFormExplorer* browser = openBrowser();
    {
        // With the lock held elsewhere, the worker lists its first file and waits.
        LockHolder holder;
        ASSERT_TRUE(browser->ShellTreeView->SetPath(pics));
        ASSERT_TRUE(waitFor([&] { return browser->ListView->count() == 1; }));
        TThreadPreencheTela* first = browser->Worker();
        ASSERT_NE(first, nullptr);
        EXPECT_FALSE(first->Terminated());

        // Filter and check box changes are ignored while the fill runs.
        browser->FilterComboBox->setCurrentIndex(7);
        browser->CheckBoxSubPastas->click();
        EXPECT_EQ(browser->Worker(), first);
        EXPECT_EQ(browser->ListView->count(), 1);

        // A new size stops the fill and starts again. The stop waits for the worker, which
        // needs the lock: releasing it from a timer shows the GUI thread keeps serving events.
        QTimer::singleShot(100, [&] { holder.release(); });
        browser->ComboBoxTamanho->setCurrentIndex(2);
        EXPECT_NE(browser->Worker(), nullptr);
        EXPECT_TRUE(browser->Worker()->Padroes == QStringList{QStringLiteral("*.gif")});
        EXPECT_TRUE(browser->Worker()->SubPastas);
    }
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(names(browser), (QStringList{"4.gif"}));
    EXPECT_EQ(browser->ImageList->Size(),
              QSize(browser->ListView->width() * 90 / 100, browser->ListView->height() * 90 / 100));

    // After the fill, the same kind of change refreshes.
    browser->FilterComboBox->setCurrentIndex(1);
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(names(browser), (QStringList{"1.jpg", "2.jpg", "3.jpg", "5.jpg"}));
    browser->CheckBoxSubPastas->click();
    ASSERT_TRUE(waitForFill(browser));
    EXPECT_EQ(names(browser), (QStringList{"1.jpg", "2.jpg", "3.jpg"}));
}

TEST_F(ImageBrowser, TwoWindowsFillTheirOwnFoldersAndClosingStopsAFillAtOnce) {
    const QString one = folder(QStringLiteral("one"));
    const QString two = folder(QStringLiteral("two"));
    for (int i = 0; i < 40; ++i) {
        SalvarImagem(TBitmap(solid(Qt::red, 300, 200)), one + QStringLiteral("/r%1.jpg").arg(i));
        SalvarImagem(TBitmap(solid(Qt::blue, 300, 200)), two + QStringLiteral("/b%1.bmp").arg(i));
    }
    TFormExplorer* first = openBrowser();
    TFormExplorer* second = openBrowser();
    ASSERT_NE(first, second);
    EXPECT_EQ(browsers().size(), 2);
    first->ShellTreeView->SetPath(one);
    second->ShellTreeView->SetPath(two);
    ASSERT_TRUE(waitForFill(first));
    ASSERT_TRUE(waitForFill(second));
    ASSERT_EQ(first->ListView->count(), 40);
    ASSERT_EQ(second->ListView->count(), 40);
    for (const QString& path : paths(first))
        EXPECT_TRUE(path.startsWith(one + QLatin1Char('/')));
    for (const QString& path : paths(second))
        EXPECT_TRUE(path.startsWith(two + QLatin1Char('/')));
    EXPECT_EQ(first->ImageList->Count(), 40);
    EXPECT_TRUE(near(centre(second->ListView->item(39), second->ImageList->Size()), Qt::blue));

    // The commands of an entry: the picture window, the desktop's program, the folder.
    DesktopRecorder desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    first->ListView->setCurrentRow(0);
    const int before = int(children().size());
    first->AbrircomQuadrix1->trigger();
    ASSERT_EQ(children().size(), before + 1);
    EXPECT_EQ(children().last()->windowTitle(), one + QStringLiteral("/r0.jpg"));
    EXPECT_NE(dynamic_cast<TFormImagem*>(children().last()), nullptr);
    first->Abrir1->trigger();
    first->Explorar1->trigger();
    first->ListView->clearSelection();
    first->Abrir1->trigger(); // nothing selected: nothing happens
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(desktop.urls, (QList<QUrl>{QUrl::fromLocalFile(one + QStringLiteral("/r0.jpg")),
                                         QUrl::fromLocalFile(one + QLatin1Char('/'))}));

    // Closing a window in the middle of a large fill stops and ends its worker first.
    const QString many = folder(QStringLiteral("many"));
    for (int i = 0; i < 400; ++i)
        QFile::copy(one + QStringLiteral("/r0.jpg"), many + QStringLiteral("/m%1.jpg").arg(i));
    second->ShellTreeView->SetPath(many);
    ASSERT_TRUE(waitFor([&] { return second->ListView->count() >= 5; }));
    QPointer<TThreadPreencheTela> worker = second->Worker();
    QPointer<TFormExplorer> closing = second;
    EXPECT_LT(second->ListView->count(), 400); // the fill is still running
    EXPECT_TRUE(second->close());
    EXPECT_TRUE(worker.isNull()); // stopped and joined before close returned
    settle();
    EXPECT_TRUE(closing.isNull());
    EXPECT_EQ(browsers(), QList<TFormExplorer*>{first});
}

} // namespace

#include "ImageBrowserTest.moc"
