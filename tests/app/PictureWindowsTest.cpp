// Screen captures, extracted icons and opened files in picture windows; closing them; Save and
// Save as on picture windows and on windows of other kinds.

#include "app/TFormImagem.h"
#include "shared/ArquivosImagem.h"
#include "shared/Configuracoes.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/XvfbServer.h"
#include "ui/PictureSource.h"

#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

using namespace qdx;
using namespace qdx::test;

namespace {

class PictureWindows : public MainWindowFixture {
protected:
    TFormImagem* picture(int index) const {
        return dynamic_cast<TFormImagem*>(children().value(index));
    }
    static QImage loaded(const QString& file) { return CarregarImagem(file).Image(); }
};

// A film window's stand-in: it shows a frame, and its caption names no file.
class FilmWindow : public QMdiSubWindow, public PictureSource {
public:
    FilmWindow() {
        setWindowTitle(QStringLiteral("QDX-SplitAvi - film.avi"));
        frame = TBitmap(screenPicture(64, 48));
    }
    const TBitmap* SourcePicture() const override { return &frame; }
    bool TakesSavedName() const override { return false; }
    TBitmap frame;
};

TEST_F(PictureWindows, CapturesAreSavedUnderNumberedNamesWithTheScreensPixels) {
    form->CapturarTela();
    form->CapturarTela();
    ASSERT_EQ(children().size(), 2);
    const QString first = path(QStringLiteral("Image1.bmp"));
    EXPECT_EQ(picture(0)->windowTitle(), first);
    EXPECT_EQ(picture(0)->objectName(), QStringLiteral("Image11"));
    EXPECT_EQ(picture(1)->windowTitle(), path(QStringLiteral("Image2.bmp")));
    EXPECT_EQ(picture(1)->objectName(), QStringLiteral("Image22"));
    EXPECT_EQ(ContadorImagens, 3);
    EXPECT_EQ(ContadorJanelas, 3);
    // The file holds the screen at 24 bits, the window shows it at its natural size.
    EXPECT_EQ(loaded(first).convertToFormat(QImage::Format_RGB32),
              screenPicture().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(picture(0)->Imagem->size(), QSize(320, 200));
    EXPECT_EQ(picture(0)->Imagem->Picture().PixelFormat(), pf24bit);
    EXPECT_EQ(picture(0)->size(), QSize(548, 375));
    EXPECT_EQ(form->MdiArea->currentSubWindow(), picture(1));

    // After a restart the numbering begins again and the old file is replaced.
    IniciarConfiguracoes();
    QFile::resize(first, 10);
    recreate();
    form->CapturarTela();
    EXPECT_EQ(picture(0)->windowTitle(), first);
    EXPECT_GT(QFileInfo(first).size(), 10);
}

TEST_F(PictureWindows, TheSettingsDecideDepthTypeFolderAndName) {
    numero_cores = QStringLiteral("2 color");
    caminho_padrao = path(QStringLiteral("shots")); // no trailing separator
    QDir().mkpath(caminho_padrao);
    tipo_arquivo_padrao = QStringLiteral("*.gif");
    nome_arquivo_padrao = QStringLiteral("Shot%1");
    form->CapturarTela();
    const QString gif = path(QStringLiteral("shots/Shot1.gif"));
    EXPECT_EQ(picture(0)->windowTitle(), gif);
    EXPECT_EQ(picture(0)->objectName(), QStringLiteral("Shot11"));
    ASSERT_TRUE(QFile::exists(gif));
    // Two colours: only pure white stays white.
    EXPECT_EQ(picture(0)->Imagem->Picture().PixelFormat(), pf1bit);
    const QImage written = loaded(gif).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(written.pixel(310, 5), qRgb(255, 255, 255));
    EXPECT_EQ(written.pixel(5, 5), qRgb(0, 0, 0));

    // A pattern outside the four: a path in the caption but no file written.
    tipo_arquivo_padrao = QStringLiteral("*.png");
    nome_arquivo_padrao = QStringLiteral("Other%1");
    form->CapturarTela();
    EXPECT_EQ(picture(1)->windowTitle(), path(QStringLiteral("shots/Other2.png")));
    EXPECT_FALSE(QFile::exists(picture(1)->windowTitle()));
}

TEST_F(PictureWindows, AnUnsavedCaptureAsksBeforeClosingAndNoLeadsToSaveAs) {
    salvar_automaticamente = false;
    form->CapturarTela();
    TFormImagem* window = picture(0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Image1"));
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.bmp")}).isEmpty());

    prompts.answers = {false};
    prompts.files = {path(QStringLiteral("kept.jpg"))};
    window->close();
    settle();
    ASSERT_EQ(children().size(), 1);
    ASSERT_EQ(prompts.asked.size(), 2u);
    EXPECT_EQ(prompts.asked[0].kind, QStringLiteral("question"));
    EXPECT_EQ(prompts.asked[0].caption, QStringLiteral("Confirm"));
    EXPECT_EQ(prompts.asked[0].text, TFormImagem::confirmText());
    EXPECT_EQ(prompts.asked[1].kind, QStringLiteral("save"));
    // Saved as JPEG; closing now asks nothing.
    EXPECT_EQ(readAll(path(QStringLiteral("kept.jpg"))).left(2), QByteArray("\xFF\xD8"));
    EXPECT_EQ(window->windowTitle(), path(QStringLiteral("kept.jpg")));
    window->close();
    settle();
    EXPECT_TRUE(children().isEmpty());
    EXPECT_EQ(prompts.asked.size(), 2u);

    // Yes closes without saving.
    form->CapturarTela();
    prompts.answers = {true};
    picture(0)->close();
    settle();
    EXPECT_TRUE(children().isEmpty());
}

TEST_F(PictureWindows, NamesThatCannotNameAWindowReachTheErrorRoute) {
    // Only the first "%1" is replaced.
    nome_arquivo_padrao = QStringLiteral("My Image%1 %1");
    form->Capturartela->trigger();
    ASSERT_EQ(children().size(), 1);
    // The file was written; the window keeps its default caption and the counter stays.
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("My Image1 %1.bmp"))));
    EXPECT_EQ(picture(0)->windowTitle(), QStringLiteral("FormImagem"));
    EXPECT_EQ(ContadorJanelas, 1);
    EXPECT_EQ(ContadorImagens, 2);
    EXPECT_EQ(prompts.texts(QStringLiteral("error")),
              QStringList{QStringLiteral("'My Image1 %11' is not a valid component name.")});

    // A failed screen copy gives an empty picture, which cannot be saved: reported, not lost.
    nome_arquivo_padrao = QStringLiteral("Image%1");
    form->SetScreenSource(nullptr);
    form->Capturartela->trigger();
    EXPECT_EQ(children().size(), 2);
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 2);
    EXPECT_EQ(picture(1)->windowTitle(), QStringLiteral("FormImagem"));
}

// A screen that could not be copied (the X server away for a moment) is tried again at the next
// capture, through a new connection.
TEST_F(PictureWindows, AScreenThatCouldNotBeCopiedIsTriedAgainAtTheNextCapture) {
    const QByteArray display = qgetenv("DISPLAY");
    XvfbServer server(200, 100, 24);
    ASSERT_TRUE(server.running());
    qputenv("DISPLAY", "nowhere:0");
    form.reset();
    form = std::make_unique<TFormPrincipal>(nullptr, &area); // the real screen grabber
    const bool failedFirst = form->CopiarTela() == nullptr;
    qputenv("DISPLAY", server.display().toLatin1());
    const std::unique_ptr<TBitmap> copy = form->CopiarTela();
    if (display.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
    EXPECT_TRUE(failedFirst);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Width(), 200);
    EXPECT_EQ(copy->Height(), 100);
}

TEST_F(PictureWindows, OpenedFilesTakeImageNamesAndATakenNameClosesTheNewWindow) {
    const QString file = path(QStringLiteral("photo.bmp"));
    SalvarImagem(TBitmap(screenPicture(700, 500)), file);
    ASSERT_TRUE(QFile::copy(file, path(QStringLiteral("photo.JPG"))));

    form->show();
    prompts.files = {file};
    form->Abrir->trigger();
    ASSERT_EQ(children().size(), 1);
    EXPECT_EQ(prompts.asked[0].request.filter,
              QStringLiteral("All (*.gif;*.jpg;*.jpeg;*.bmp;*.wmf)|*.gif;*.jpg;*.jpeg;*.bmp;*.wmf|"
                             "GIF Image (*.gif)|*.gif|JPEG Image File (*.jpg)|*.jpg|"
                             "JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
                             "Metafiles (*.wmf)|*.wmf"));
    // The open dialog previews the picture the user points at.
    EXPECT_TRUE(prompts.asked[0].request.picturePreview);
    EXPECT_EQ(picture(0)->windowTitle(), file);
    EXPECT_EQ(picture(0)->objectName(), QStringLiteral("Image1"));
    // Larger than the window: it scrolls to the picture's bottom edge.
    picture(0)->show();
    settle();
    QScrollBar* vertical = picture(0)->ScrollBoxPaint->verticalScrollBar();
    EXPECT_GT(vertical->maximum(), 0);
    vertical->setValue(vertical->maximum());
    EXPECT_EQ(vertical->value() + picture(0)->ScrollBoxPaint->viewport()->height(), 500);

    // The same file again: a second window. Capital extensions and missing files: nothing.
    form->AbrirImagem(file);
    EXPECT_EQ(picture(1)->objectName(), QStringLiteral("Image2"));
    form->AbrirImagem(path(QStringLiteral("photo.JPG")));
    form->AbrirImagem(path(QStringLiteral("missing.bmp")));
    EXPECT_EQ(children().size(), 2);
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());

    // A capture named Image11 blocks the name the next opening tries.
    ContadorJanelas = 1;
    form->CapturarTela();
    EXPECT_EQ(picture(2)->objectName(), QStringLiteral("Image11"));
    ContadorJanelas = 11;
    form->AbrirImagem(file);
    settle();
    EXPECT_EQ(children().size(), 3);
    EXPECT_EQ(prompts.texts(QStringLiteral("error")),
              QStringList{QStringLiteral("This archive already is opened!")});
    EXPECT_EQ(ContadorJanelas, 11);
    // Names are compared without regard to case.
    picture(2)->setObjectName(QStringLiteral("iMaGe11"));
    form->AbrirImagem(file);
    settle();
    EXPECT_EQ(children().size(), 3);
}

TEST_F(PictureWindows, AFileThatCannotBeDecodedLeavesAnEmptyWindowAndReportsIt) {
    const QString broken = path(QStringLiteral("broken.gif"));
    ASSERT_TRUE(writeAll(broken, "GIF89a\x10\x00"));
    prompts.files = {broken};
    form->Abrir->trigger();
    ASSERT_EQ(children().size(), 1);
    EXPECT_EQ(picture(0)->windowTitle(), QStringLiteral("FormImagem"));
    EXPECT_TRUE(picture(0)->Imagem->Picture().Empty());
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);
}

// An icon file of two images: 16 x 16 red first, then 32 x 32 blue; 32-bit pixels with masks.
QByteArray twoImageIcon() {
    const auto image = [](int size, QRgb colour) {
        QByteArray dib;
        const auto put32 = [&dib](uint32_t v) {
            for (int i = 0; i < 4; ++i)
                dib.append(char(v >> (8 * i)));
        };
        const auto put16 = [&dib](uint16_t v) {
            dib.append(char(v));
            dib.append(char(v >> 8));
        };
        put32(40);
        put32(size);
        put32(size * 2);
        put16(1);
        put16(32);
        put32(0);
        put32(0);
        put32(0);
        put32(0);
        put32(0);
        put32(0);
        for (int i = 0; i < size * size; ++i)
            put32(0xFF000000u | colour);
        const int maskRow = ((size + 31) / 32) * 4;
        dib.append(QByteArray(maskRow * size, '\0'));
        return dib;
    };
    const QByteArray red = image(16, 0xFF0000), blue = image(32, 0x0000FF);
    QByteArray file;
    const auto put16 = [&file](uint16_t v) {
        file.append(char(v));
        file.append(char(v >> 8));
    };
    const auto put32 = [&file](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.append(char(v >> (8 * i)));
    };
    put16(0);
    put16(1);
    put16(2);
    const auto entry = [&](int size, const QByteArray& data, uint32_t offset) {
        file.append(char(size));
        file.append(char(size));
        file.append('\0');
        file.append('\0');
        put16(1);
        put16(32);
        put32(uint32_t(data.size()));
        put32(offset);
    };
    entry(16, red, 6 + 32);
    entry(32, blue, 6 + 32 + uint32_t(red.size()));
    return file + red + blue;
}

TEST_F(PictureWindows, ExtractedIconsShareThePictureCounterAndAreWrittenAsIconBmp) {
    const QString ico = path(QStringLiteral("two.ico"));
    ASSERT_TRUE(writeAll(ico, twoImageIcon()));
    form->CapturarTela();
    prompts.files = {ico};
    form->Extraircone1->trigger();
    form->CapturarTela();
    ASSERT_EQ(children().size(), 3);
    EXPECT_EQ(prompts.asked[0].request.filter, QStringLiteral("Todos os arquivos|*.*"));
    EXPECT_EQ(picture(1)->windowTitle(), path(QStringLiteral("Image2.bmp")));
    EXPECT_EQ(picture(2)->windowTitle(), path(QStringLiteral("Image3.bmp")));
    // The icon file's first image, and icon.bmp in the current folder.
    const QImage icon = picture(1)->Imagem->Picture().Image();
    EXPECT_EQ(icon.size(), QSize(16, 16));
    EXPECT_EQ(icon.pixelColor(8, 8), QColor(Qt::red));
    const QImage written = loaded(path(QStringLiteral("icon.bmp")));
    EXPECT_EQ(written.size(), QSize(16, 16));
    EXPECT_EQ(written.pixelColor(3, 3), QColor(Qt::red));

    // A name typed for a file that does not exist does nothing.
    prompts.files = {path(QStringLiteral("nothing.ico"))};
    form->Extraircone1->trigger();
    EXPECT_EQ(children().size(), 3);

    // A malformed icon file is reported; no window is made.
    ASSERT_TRUE(writeAll(path(QStringLiteral("bad.ico")),
                         QByteArray("\0\0\1\0\1\0", 6) + QByteArray(16, '\x7f')));
    prompts.files = {path(QStringLiteral("bad.ico"))};
    form->Extraircone1->trigger();
    EXPECT_EQ(children().size(), 3);
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);
}

TEST_F(PictureWindows, DesktopEntriesAndOtherFilesGiveTheirIconsOnWhite) {
    QImage green(32, 32, QImage::Format_ARGB32);
    green.fill(Qt::transparent);
    QPainter(&green).fillRect(8, 8, 16, 16, Qt::green);
    ASSERT_TRUE(green.save(path(QStringLiteral("app.png"))));
    ASSERT_TRUE(writeAll(path(QStringLiteral("app.desktop")),
                         "[Desktop Action X]\nIcon=nothing\n[Desktop Entry]\nName=App\nIcon=" +
                             path(QStringLiteral("app.png")).toUtf8() + "\n"));
    form->ExtrairIcone(path(QStringLiteral("app.desktop")));
    const QImage fromEntry = picture(0)->Imagem->Picture().Image();
    EXPECT_EQ(fromEntry.size(), QSize(32, 32));
    EXPECT_EQ(fromEntry.pixelColor(16, 16), QColor(Qt::green));
    EXPECT_EQ(fromEntry.pixelColor(2, 2), QColor(Qt::white));

    // Any other file: the icon of its type (or the plain file icon), never nothing.
    ASSERT_TRUE(writeAll(path(QStringLiteral("notes.txt")), "hello"));
    form->ExtrairIcone(path(QStringLiteral("notes.txt")));
    const QImage fromType = picture(1)->Imagem->Picture().Image();
    EXPECT_EQ(fromType.size(), QSize(32, 32));
    bool drawn = false;
    for (int y = 0; y < 32 && !drawn; ++y)
        for (int x = 0; x < 32 && !drawn; ++x)
            drawn = fromType.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_TRUE(drawn);
}

TEST_F(PictureWindows, SaveAndSaveAsFollowTheCaptionAndTheExtension) {
    salvar_automaticamente = false;
    form->CapturarTela();
    TFormImagem* window = picture(0);

    // Capital extension: nothing written, nothing shown, caption kept.
    prompts.files = {path(QStringLiteral("shot.JPG"))};
    form->Salvarcomo->trigger();
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("shot.JPG"))));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Image1"));
    EXPECT_TRUE(prompts.asked[0].request.fileName.isEmpty());

    // Save on an unsaved capture goes to Save as.
    prompts.files = {path(QStringLiteral("shot.jpg"))};
    form->Salvar->trigger();
    EXPECT_EQ(readAll(path(QStringLiteral("shot.jpg"))).left(2), QByteArray("\xFF\xD8"));
    EXPECT_EQ(window->windowTitle(), path(QStringLiteral("shot.jpg")));

    // A later Save writes there again without a dialog, replacing the file.
    ASSERT_TRUE(writeAll(path(QStringLiteral("shot.jpg")), "old"));
    const size_t asked = prompts.asked.size();
    form->Salvar->trigger();
    EXPECT_EQ(prompts.asked.size(), asked);
    EXPECT_EQ(readAll(path(QStringLiteral("shot.jpg"))).left(2), QByteArray("\xFF\xD8"));

    // A write that fails reaches the error route; the window and its caption stay.
    prompts.files = {path(QStringLiteral("no/such/folder/x.bmp"))};
    form->Salvarcomo->trigger();
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);
    EXPECT_EQ(window->windowTitle(), path(QStringLiteral("shot.jpg")));

    // Without any child window both commands do nothing, not even ask.
    window->close();
    settle();
    const size_t before = prompts.asked.size();
    form->Salvar->trigger();
    form->Salvarcomo->trigger();
    EXPECT_EQ(prompts.asked.size(), before);
}

TEST_F(PictureWindows, FilmWindowsSaveThroughTheDialogIntoANewPictureWindow) {
    auto* film = new FilmWindow;
    form->MdiArea->addSubWindow(film);
    film->show();
    form->MdiArea->setActiveSubWindow(film);
    prompts.files = {path(QStringLiteral("frame.bmp"))};
    form->Salvar->trigger();
    ASSERT_EQ(prompts.texts(QStringLiteral("save")).size(), 1);
    EXPECT_EQ(film->windowTitle(), QStringLiteral("QDX-SplitAvi - film.avi"));
    ASSERT_EQ(children().size(), 2);
    EXPECT_EQ(picture(1)->windowTitle(), path(QStringLiteral("frame.bmp")));
    EXPECT_EQ(picture(1)->Imagem->Picture().Image().convertToFormat(QImage::Format_RGB32),
              film->frame.Image().convertToFormat(QImage::Format_RGB32));

    // A child window without a picture: the dialog, then nothing.
    auto* other = new QMdiSubWindow;
    form->MdiArea->addSubWindow(other);
    other->show();
    form->MdiArea->setActiveSubWindow(other);
    prompts.files = {path(QStringLiteral("nothing.bmp"))};
    form->Salvarcomo->trigger();
    EXPECT_EQ(prompts.texts(QStringLiteral("save")).size(), 2);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("nothing.bmp"))));
}

} // namespace
