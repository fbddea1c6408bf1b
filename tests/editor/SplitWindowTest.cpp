// The split window inside the main window, on films made by ffmpeg: the menu entry and its tool
// button, loading with the viewer's reset and set-up, the part arithmetic, the slider and the
// selection boxes, zoom, "Close AVI", failures, the frame saved as a picture, and the three film
// commands read back by ffprobe and ffmpeg (frame counts, decoded pixels, sound samples), with the
// busy text, the ignored second command and the close that waits for the running one.

#include "app/TFormImagem.h"
#include "avi/TAviCapture.h"
#include "editor/FilmCommands.h"
#include "editor/TFormSplit.h"
#include "editor/TImagemQuadro.h"
#include "editor/TSpinEdit.h"
#include "editor/TjanTracker.h"
#include "platform/vfw/CompressorChooser.h"
#include "shared/BmpFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "ui/TStatusBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>

#include <cmath>

using namespace qdx;
using namespace qdx::test;

namespace {

class SplitWindow : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        QLocale::setDefault(QLocale::c());
        form->resize(1000, 700);
        form->show();
    }

    bool haveFfmpeg() const {
        return haveTool(QStringLiteral("ffmpeg")) && haveTool(QStringLiteral("ffprobe"));
    }

    TFormSplit* openWindow() {
        form->AviSplit1->trigger();
        settle();
        return dynamic_cast<TFormSplit*>(form->MdiArea->currentSubWindow());
    }

    void load(TFormSplit* w, const QString& film) {
        prompts.files.push_back(film);
        w->SpeedButton3->click();
    }

    static void key(QWidget* box, int code, const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QApplication::sendEvent(box, &press);
    }

    // The slider's pixel of a value (the inverse of its conversion).
    static int xOf(const TjanTracker* t, int value) {
        return t->TrackStart() + int(std::nearbyint(double(value - t->Minimum()) /
                                                    double(t->Maximum() - t->Minimum()) *
                                                    (t->TrackEnd() - t->TrackStart())));
    }
    static void mouse(TjanTracker* t, QEvent::Type type, int value, bool shift) {
        const QPointF at(xOf(t, value), t->height() / 2);
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, t->mapToGlobal(at), button, held,
                          shift ? Qt::ShiftModifier : Qt::NoModifier);
        QApplication::sendEvent(t, &event);
    }

    // Frame `index` (from 0) of ffmpeg's decode, as RGB rows.
    static QImage ffmpegFrame(const QByteArray& frames, int index, int width, int height) {
        const qsizetype size = qsizetype(width) * height * 3;
        QImage image(reinterpret_cast<const uchar*>(frames.constData()) + index * size, width,
                     height, width * 3, QImage::Format_RGB888);
        return image.copy();
    }
    // The sound of a written film plays exactly as long as its frames (25 per second, 44100
    // samples per second).
    static void expectSoundOfFrames(const QString& film, int frames) {
        EXPECT_EQ(probeAudioSamples(film), qint64(frames) * 44100 / 25) << film.toStdString();
    }
    static QImage shown(const TFormSplit* w) {
        return w->Imagem->Picture().Image().convertToFormat(QImage::Format_RGB888);
    }
};

TEST_F(SplitWindow, MenuAndButtonOpenWindowsAndLoadingSetsThePartArithmeticUp) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    // A film of 250 frames whose file is exactly 10,000,000 bytes (padding after the RIFF).
    FilmRecipe recipe;
    recipe.width = 128;
    recipe.height = 96;
    recipe.frames = 250;
    const QString film = makeFilm(dir, QStringLiteral("ten.avi"), recipe);
    ASSERT_LT(QFileInfo(film).size(), 10000000);
    {
        QFile f(film);
        ASSERT_TRUE(f.resize(10000000));
    }

    // Each command opens a new window; the tool button runs the same command.
    TFormSplit* w = openWindow();
    ASSERT_NE(w, nullptr);
    auto* button = form->findChild<QToolButton*>(QStringLiteral("ToolButton13"));
    ASSERT_NE(button, nullptr);
    button->click();
    settle();
    EXPECT_EQ(children().size(), 2);
    EXPECT_NE(form->MdiArea->currentSubWindow(), w);
    form->MdiArea->setActiveSubWindow(w);

    // No film: every command button disabled, "Select Archive" available.
    EXPECT_EQ(w->windowTitle(), QStringLiteral("QDX-SplitAvi"));
    for (QPushButton* b : {w->SpeedButtonFechar, w->SpeedButtonSalvar, w->SpeedButtonApagar,
                           w->SpeedButtonCrairNovo, w->SpeedButtonDividir})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(w->SpeedButton3->isEnabled());
    EXPECT_EQ(w->SpinEditZoom->text(), QStringLiteral("100"));

    load(w, film);
    ASSERT_FALSE(prompts.asked.empty());
    EXPECT_EQ(prompts.asked.back().text, QStringLiteral("Select the archive to compress."));
    EXPECT_EQ(prompts.asked.back().request.filter, QStringLiteral("Arquivo de Video|*.avi"));
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("QDX-SplitAvi[") + film + QStringLiteral("]"));
    EXPECT_EQ(w->EditTotalFrames->text(), QStringLiteral("250"));
    EXPECT_EQ(w->SpinEditFrameAtual->MinValue(), 1);
    EXPECT_EQ(w->SpinEditFrameAtual->MaxValue(), 250);
    EXPECT_EQ(w->TrackerVideo->Minimum(), 1);
    EXPECT_EQ(w->TrackerVideo->Maximum(), 250);
    EXPECT_EQ(w->TrackerVideo->Value(), 1);
    EXPECT_EQ(w->StatusBar->Panel(0).Text, QStringLiteral("Size: 9.54MB"));
    EXPECT_EQ(w->StatusBar->Panel(1).Text, QStringLiteral("Frame 1 from 250"));
    EXPECT_EQ(w->StatusBar->Panel(2).Text, QStringLiteral("Selection: 1 a 1"));
    EXPECT_FALSE(w->CheckBoxSom->isEnabled());
    EXPECT_FALSE(w->CheckBoxSom->isChecked());
    for (QPushButton* b : {w->SpeedButtonFechar, w->SpeedButtonSalvar, w->SpeedButtonApagar,
                           w->SpeedButtonCrairNovo, w->SpeedButtonDividir})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_EQ(w->Imagem->Picture().Width(), 128);

    // Parts: N = 1 and the whole film after loading.
    EXPECT_EQ(w->SpinEditNumeroPartes->Value(), 1);
    EXPECT_EQ(w->TamanhoParte, 10000000);
    EXPECT_EQ(w->EditTamanho->text(), QStringLiteral("9.54"));
    EXPECT_EQ(w->LabelTextoTamanho->text(), QStringLiteral("MB"));
    EXPECT_EQ(w->SpeedButtonDividir->text(), QStringLiteral("Split AVI in same archives"));
    EXPECT_EQ(w->SpinEditTamanhoPartes->MinValue(), 40000);
    EXPECT_EQ(w->SpinEditTamanhoPartes->MaxValue(), 10000000);

    // Typing into the part count is refused; its arrows work.
    key(w->SpinEditNumeroPartes, Qt::Key_7, QStringLiteral("7"));
    EXPECT_EQ(w->SpinEditNumeroPartes->text(), QStringLiteral("1"));
    key(w->SpinEditNumeroPartes, Qt::Key_Up);
    key(w->SpinEditNumeroPartes, Qt::Key_Up);
    EXPECT_EQ(w->TamanhoParte, 3333333);
    EXPECT_EQ(w->EditTamanho->text(), QStringLiteral("3.18"));
    EXPECT_EQ(w->LabelTextoTamanho->text(), QStringLiteral("MB"));
    EXPECT_EQ(w->SpeedButtonDividir->text(), QStringLiteral("Split AVI in 3 part(s)"));

    w->SpinEditNumeroPartes->SetValue(250);
    EXPECT_EQ(w->TamanhoParte, 40000);
    EXPECT_EQ(w->EditTamanho->text(), QStringLiteral("39.06"));
    EXPECT_EQ(w->LabelTextoTamanho->text(), QStringLiteral("KB"));

    // One byte down from the whole film: one part is too small, the remainder adds a second.
    w->SpinEditNumeroPartes->SetValue(1);
    EXPECT_EQ(w->SpinEditTamanhoPartes->Value(), 10000000);
    EXPECT_EQ(w->SpinEditTamanhoPartes->Increment(), 1);
    key(w->SpinEditTamanhoPartes, Qt::Key_Down);
    EXPECT_EQ(w->SpinEditNumeroPartes->Value(), 2);
    EXPECT_EQ(w->TamanhoParte, 5000000);
    EXPECT_EQ(w->SpinEditTamanhoPartes->Value(), 5000000);
    EXPECT_EQ(w->SpeedButtonDividir->text(), QStringLiteral("Split AVI in 2 part(s)"));
    EXPECT_EQ(w->SpinEditTamanhoPartes->Increment(), 1048576);
    // A size of nothing typed into the box divides nothing.
    w->SpinEditTamanhoPartes->setText(QStringLiteral("0"));
    EXPECT_EQ(w->SpinEditNumeroPartes->Value(), 2);
}

TEST_F(SplitWindow, SliderBoxesZoomAndCloseFollowEachOther) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    FilmRecipe recipe;
    recipe.frames = 20;
    const QString film = makeFilm(dir, QStringLiteral("twenty.avi"), recipe);
    const QByteArray frames = joined(ffmpegPictures(film, 64, 48));
    TFormSplit* w = openWindow();
    ASSERT_NE(w, nullptr);
    load(w, film);
    TjanTracker* t = w->TrackerVideo;
    ASSERT_TRUE(t->isEnabled());
    t->grab(); // the slider as painted on the screen
    ASSERT_GT(t->TrackEnd() - t->TrackStart(), 19);
    EXPECT_EQ(shown(w), ffmpegFrame(frames, 0, 64, 48));

    // Shift drag toward higher frames selects from the anchor to the pointer.
    mouse(t, QEvent::MouseButtonPress, 5, true);
    mouse(t, QEvent::MouseMove, 7, true);
    mouse(t, QEvent::MouseMove, 9, true);
    mouse(t, QEvent::MouseButtonRelease, 9, true);
    EXPECT_EQ(w->SpinEditSelecaoInicial->Value(), 5);
    EXPECT_EQ(w->SpinEditSelecaoFinal->Value(), 9);
    EXPECT_EQ(w->SpinEditFrameAtual->Value(), 9);
    EXPECT_EQ(w->StatusBar->Panel(1).Text, QStringLiteral("Frame 9 from 20"));
    EXPECT_EQ(w->StatusBar->Panel(2).Text, QStringLiteral("Selection: 5 a 9"));
    EXPECT_EQ(t->SelStart(), 5);
    EXPECT_EQ(t->SelEnd(), 9);
    EXPECT_EQ(shown(w), ffmpegFrame(frames, 8, 64, 48));

    // Toward lower frames the selection shrinks to the frame under the pointer.
    mouse(t, QEvent::MouseButtonPress, 9, true);
    mouse(t, QEvent::MouseMove, 6, true);
    mouse(t, QEvent::MouseButtonRelease, 6, true);
    EXPECT_EQ(w->SpinEditSelecaoInicial->Value(), 6);
    EXPECT_EQ(w->SpinEditSelecaoFinal->Value(), 6);
    EXPECT_EQ(shown(w), ffmpegFrame(frames, 5, 64, 48));

    // A start typed above the end raises the end; an end typed below the start goes back to the
    // selection end.
    w->SpinEditSelecaoInicial->setText(QStringLiteral("12"));
    EXPECT_EQ(w->SpinEditSelecaoFinal->Value(), 12);
    w->SpinEditSelecaoFinal->setText(QStringLiteral("15"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("2"));
    EXPECT_EQ(w->SpinEditSelecaoFinal->Value(), 15);
    EXPECT_EQ(t->SelStart(), 12);
    EXPECT_EQ(t->SelEnd(), 15);
    EXPECT_EQ(w->StatusBar->Panel(2).Text, QStringLiteral("Selection: 12 a 15"));

    // A typed frame number moves the thumb only; the picture follows at the next slider event.
    w->SpinEditFrameAtual->setText(QStringLiteral("17"));
    EXPECT_EQ(t->Value(), 17);
    EXPECT_EQ(shown(w), ffmpegFrame(frames, 5, 64, 48));
    EXPECT_EQ(w->StatusBar->Panel(1).Text, QStringLiteral("Frame 6 from 20"));
    mouse(t, QEvent::MouseButtonPress, 17, false);
    mouse(t, QEvent::MouseButtonRelease, 17, false);
    EXPECT_EQ(shown(w), ffmpegFrame(frames, 16, 64, 48));

    // Zoom: 200 % doubles the picture, "Normal" gives its own size, "Adjust" keeps 100 % for a
    // frame that fits, and a box squeezed to a few pixels ends the fit at 1 %.
    w->SpinEditZoom->SetValue(200);
    EXPECT_EQ(w->Imagem->size(), QSize(128, 96));
    EXPECT_TRUE(w->Imagem->Stretch());
    w->SpeedButtonTamanhoNormal->click();
    EXPECT_EQ(w->Imagem->size(), QSize(64, 48));
    EXPECT_EQ(w->SpinEditZoom->Value(), 100);
    EXPECT_FALSE(w->Imagem->Stretch());
    w->SpeedButtonAjustarNaTela->click();
    EXPECT_EQ(w->SpinEditZoom->Value(), 100);
    // Centred in the box.
    EXPECT_EQ(w->Imagem->pos(), QPoint((w->ScrollBoxFrame->width() - 64) / 2,
                                       (w->ScrollBoxFrame->height() - 48) / 2));
    w->ScrollBoxFrame->setFixedSize(12, 12);
    w->SpeedButtonAjustarNaTela->click();
    EXPECT_EQ(w->SpinEditZoom->Value(), 3); // 2 x 1 pixels fit into 12 - 10
    w->ScrollBoxFrame->setFixedSize(5, 5);
    w->SpeedButtonAjustarNaTela->click();
    EXPECT_EQ(w->SpinEditZoom->Value(), 1);
    w->ScrollBoxFrame->setMinimumSize(0, 0);
    w->ScrollBoxFrame->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

    // "Close AVI" with the selection 5..9: the viewer is reset, the end box shows 9 again, and
    // the caption and status texts stay.
    w->SpinEditSelecaoInicial->setText(QStringLiteral("5"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("9"));
    const QString caption = w->windowTitle();
    w->SpeedButtonFechar->click();
    EXPECT_EQ(w->SpinEditSelecaoFinal->text(), QStringLiteral("9"));
    EXPECT_EQ(w->EditTotalFrames->text(), QStringLiteral("0"));
    EXPECT_FALSE(w->TrackerVideo->isEnabled());
    EXPECT_FALSE(w->SpeedButtonCrairNovo->isEnabled());
    EXPECT_EQ(w->SourcePicture(), nullptr);
    EXPECT_EQ(w->windowTitle(), caption);
    EXPECT_EQ(w->StatusBar->Panel(0).Text.left(6), QStringLiteral("Size: "));
    EXPECT_EQ(w->SpeedButtonDividir->text(), QStringLiteral("Split AVI in same archives"));
}

TEST_F(SplitWindow, BadFilesAndAFilmOfOneFrame) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    TFormSplit* w = openWindow();
    ASSERT_NE(w, nullptr);

    // Not a film: the viewer stays reset, nothing is said.
    const QString text = path(QStringLiteral("notes.avi"));
    writeAll(text, QByteArray("just some words, not a RIFF file at all"));
    load(w, text);
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_FALSE(w->SpeedButtonCrairNovo->isEnabled());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("QDX-SplitAvi"));

    // A missing file: nothing happens.
    load(w, path(QStringLiteral("missing.avi")));
    EXPECT_EQ(w->NomeFilme, text);

    // A film cut short in its frame data: it loads or fails with a message, never a crash, and a
    // frame past the cut shows an empty picture.
    FilmRecipe recipe;
    recipe.frames = 12;
    const QString cut = makeFilm(dir, QStringLiteral("cut.avi"), recipe);
    {
        QFile f(cut);
        ASSERT_TRUE(f.resize(f.size() / 2));
    }
    load(w, cut);
    if (w->TrackerVideo->isEnabled()) {
        w->SpinEditFrameAtual->SetValue(w->TrackerVideo->Maximum());
        mouse(w->TrackerVideo, QEvent::MouseButtonPress, w->TrackerVideo->Maximum(), false);
        mouse(w->TrackerVideo, QEvent::MouseButtonRelease, w->TrackerVideo->Maximum(), false);
    }

    // A film of one frame: the frame box is 1..1, the slider keeps 0..1, and a split writes that
    // one frame (the first frame is never below 0).
    recipe.frames = 1;
    const QString one = makeFilm(dir, QStringLiteral("one.avi"), recipe);
    prompts.asked.clear();
    load(w, one);
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_EQ(w->SpinEditFrameAtual->MinValue(), 1);
    EXPECT_EQ(w->SpinEditFrameAtual->MaxValue(), 1);
    EXPECT_EQ(w->TrackerVideo->Minimum(), 0);
    EXPECT_EQ(w->TrackerVideo->Maximum(), 1);
    // A click at the slider's 0 shows the one frame, and so do later clicks: nothing is fetched
    // below the first frame (which would close the engine's reader).
    const QImage only = shown(w);
    ASSERT_EQ(only.width(), 64);
    w->TrackerVideo->grab();
    for (int value : {0, 1, 0}) {
        mouse(w->TrackerVideo, QEvent::MouseButtonPress, value, false);
        mouse(w->TrackerVideo, QEvent::MouseButtonRelease, value, false);
        EXPECT_EQ(shown(w), only) << value;
        EXPECT_EQ(w->SpinEditFrameAtual->Value(), 1);
    }
    const QString target = path(QStringLiteral("onepart.avi"));
    prompts.files.push_back(target);
    w->SpeedButtonDividir->click();
    EXPECT_EQ(probeFrameCount(path(QStringLiteral("onepart01.avi"))), 1);
}

TEST_F(SplitWindow, TheShownFrameIsSavedAtItsRealSizeThroughTheMainWindow) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    FilmRecipe recipe;
    recipe.frames = 5;
    const QString film = makeFilm(dir, QStringLiteral("five.avi"), recipe);
    TFormSplit* w = openWindow();
    ASSERT_NE(w, nullptr);
    load(w, film);
    w->SpinEditZoom->SetValue(300);
    const QString picture = path(QStringLiteral("frame.bmp"));
    prompts.files.push_back(picture);
    const QString caption = w->windowTitle();
    w->SpeedButtonSalvar->click();
    settle();
    ASSERT_EQ(prompts.asked.back().kind, QStringLiteral("save"));
    const QImage written(picture);
    ASSERT_FALSE(written.isNull());
    EXPECT_EQ(written.size(), QSize(64, 48));
    EXPECT_EQ(written.convertToFormat(QImage::Format_RGB888),
              ffmpegFrame(joined(ffmpegPictures(film, 64, 48)), 0, 64, 48));
    // The written picture opens in a new picture window; the split window keeps its caption.
    EXPECT_EQ(w->windowTitle(), caption);
    auto* opened = dynamic_cast<TFormImagem*>(form->MdiArea->currentSubWindow());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->windowTitle(), picture);
}

TEST_F(SplitWindow, FilmCommandsWriteTheRangeTheRestAndThePartsWithTheirSound) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    FilmRecipe recipe;
    recipe.frames = 30;
    recipe.sound = true;
    const QString film = makeFilm(dir, QStringLiteral("sound.avi"), recipe);
    const QByteArray source = joined(ffmpegPictures(film, 64, 48));
    const qsizetype frameBytes = 64 * 48 * 3;
    // Another film window, whose commands wait for the first window's command.
    TFormSplit* other = openWindow();
    ASSERT_NE(other, nullptr);
    load(other, film);
    TFormSplit* w = openWindow();
    ASSERT_NE(w, nullptr);
    load(w, film);
    EXPECT_TRUE(w->CheckBoxSom->isEnabled());
    EXPECT_TRUE(w->CheckBoxSom->isChecked());
    w->SpinEditSelecaoInicial->setText(QStringLiteral("5"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("14"));
    form->StatusBar->SetPanelText(2, QStringLiteral("ready"));

    // While the command runs (inside its progress events): the busy text shows, a second command
    // (of this window or of another film window) is refused with the reason in the status bar,
    // and closing the window waits.
    QStringList busyTexts;
    size_t askedBefore = 0;
    bool closedDuring = false;
    QPointer<TFormSplit> window(w);
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!w->ComandoEmCurso() || !busyTexts.isEmpty())
            return;
        busyTexts.append(form->StatusText(2));
        askedBefore = prompts.asked.size();
        w->SpeedButtonApagar->click();
        other->SpeedButtonCrairNovo->click();
        other->SpeedButtonDividir->click();
        EXPECT_EQ(prompts.asked.size(), askedBefore);
        EXPECT_EQ(other->StatusBar->Panel(1).Text,
                  QStringLiteral("Another film command is running: wait until it ends."));
        w->close();
        closedDuring = !window.isNull() && window->isVisible();
    });
    probe.start();

    const QString range = path(QStringLiteral("range.avi"));
    prompts.files.push_back(range);
    w->SpeedButtonCrairNovo->click();
    probe.stop();
    EXPECT_EQ(prompts.asked.back().text, QStringLiteral("Select the file name to destination."));
    EXPECT_EQ(prompts.asked.back().request.filter, QStringLiteral("Arquivo de Video|*.avi"));
    EXPECT_EQ(busyTexts, QStringList{QStringLiteral("processing...")});
    EXPECT_TRUE(closedDuring);
    EXPECT_EQ(form->StatusText(2), QStringLiteral("ready"));
    EXPECT_EQ(probeFrameCount(range), 10);
    expectSoundOfFrames(range, 10);
    EXPECT_EQ(joined(ffmpegPictures(range, 64, 48)), source.mid(4 * frameBytes, 10 * frameBytes));
    // The waiting close happens once the command has returned.
    settle();
    EXPECT_TRUE(window.isNull());

    // A new window for the other two commands.
    w = openWindow();
    ASSERT_NE(w, nullptr);
    load(w, film);
    w->SpinEditSelecaoInicial->setText(QStringLiteral("5"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("14"));
    const QString rest = path(QStringLiteral("rest.avi"));
    prompts.files.push_back(rest);
    w->SpeedButtonApagar->click();
    EXPECT_EQ(probeFrameCount(rest), 20);
    expectSoundOfFrames(rest, 20);
    EXPECT_EQ(joined(ffmpegPictures(rest, 64, 48)),
              source.left(4 * frameBytes) + source.mid(14 * frameBytes));

    // Three parts of the whole film, whatever the selection.
    key(w->SpinEditNumeroPartes, Qt::Key_Up);
    key(w->SpinEditNumeroPartes, Qt::Key_Up);
    ASSERT_EQ(w->SpinEditNumeroPartes->Value(), 3);
    prompts.files.push_back(path(QStringLiteral("part.AVI")));
    w->SpeedButtonDividir->click();
    for (int k = 1; k <= 3; ++k) {
        const QString part = path(QStringLiteral("part%1.avi").arg(k, 2, 10, QLatin1Char('0')));
        EXPECT_EQ(probeFrameCount(part), 10) << k;
        expectSoundOfFrames(part, 10);
        EXPECT_EQ(joined(ffmpegPictures(part, 64, 48)),
                  source.mid((k - 1) * 10 * frameBytes, 10 * frameBytes))
            << k;
    }
    // A range typed past the film's end is cut to it at the command (the boxes keep the typed
    // text, since the buttons take no focus): frames 26 to 30.
    w->SpinEditSelecaoInicial->setText(QStringLiteral("26"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("500"));
    const QString tail = path(QStringLiteral("tail.avi"));
    prompts.files.push_back(tail);
    w->SpeedButtonCrairNovo->click();
    EXPECT_EQ(probeFrameCount(tail), 5);
    expectSoundOfFrames(tail, 5);
    EXPECT_EQ(joined(ffmpegPictures(tail, 64, 48)), source.mid(25 * frameBytes));
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());

    // A cancel writes nothing, shows nothing and leaves the status text alone: the target dialog,
    // and the compressor dialog with "Manter Som" ticked.
    const QStringList written = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    prompts.files.push_back(std::nullopt);
    w->SpeedButtonCrairNovo->click();
    EXPECT_EQ(form->StatusText(2), QStringLiteral("ready"));
    ASSERT_TRUE(w->CheckBoxSom->isChecked());
    {
        qdx::vfw::PresetCompressorChooser cancelling;
        cancelling.setCancel(true);
        qdx::vfw::CompressorChooser* previous = qdx::vfw::setCompressorChooser(&cancelling);
        for (QPushButton* b :
             {w->SpeedButtonCrairNovo, w->SpeedButtonApagar, w->SpeedButtonDividir}) {
            prompts.files.push_back(path(QStringLiteral("cancelled.avi")));
            b->click();
        }
        qdx::vfw::setCompressorChooser(previous);
        EXPECT_EQ(cancelling.timesAsked(), 3);
    }
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), written);
    EXPECT_EQ(form->StatusText(2), QStringLiteral("ready"));
    EXPECT_EQ(w->EditTotalFrames->text(), QStringLiteral("30"));

    // A failure shows the engine's reason, naming the film: a target that a folder holds.
    const QString folder = path(QStringLiteral("folder.avi"));
    ASSERT_TRUE(QDir().mkdir(folder));
    // The error box's new texts, after a step.
    qsizetype seen = prompts.texts(QStringLiteral("error")).size();
    auto newErrors = [&] {
        const QStringList errors = prompts.texts(QStringLiteral("error"));
        const QStringList added = errors.mid(seen);
        seen = errors.size();
        return added;
    };
    prompts.files.push_back(folder);
    w->SpeedButtonCrairNovo->click();
    QStringList errors = newErrors();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_TRUE(!errors.isEmpty() && errors.first().contains(folder))
        << errors.join(u'|').toStdString();
    EXPECT_EQ(form->StatusText(2), QStringLiteral("ready"));

    // A command that writes over the loaded film loads it again: frame count, slider and sizes.
    const QString take = path(QStringLiteral("take01.avi"));
    ASSERT_TRUE(QFile::copy(film, take));
    load(w, take);
    w->SpinEditSelecaoInicial->setText(QStringLiteral("1"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("10"));
    prompts.files.push_back(take);
    w->SpeedButtonApagar->click();
    EXPECT_EQ(probeFrameCount(take), 20);
    EXPECT_EQ(w->EditTotalFrames->text(), QStringLiteral("20"));
    EXPECT_EQ(w->TrackerVideo->Maximum(), 20);
    EXPECT_EQ(w->TamanhoFilme, QFileInfo(take).size());
    EXPECT_EQ(w->SpinEditTamanhoPartes->MaxValue(), QFileInfo(take).size());
    EXPECT_EQ(shown(w), ffmpegFrame(source, 10, 64, 48));

    // A split whose first part would be the loaded film itself is refused, naming the clash, and
    // writes nothing.
    const QByteArray taken = readAll(take);
    key(w->SpinEditNumeroPartes, Qt::Key_Up);
    prompts.files.push_back(path(QStringLiteral("take.avi")));
    w->SpeedButtonDividir->click();
    errors = newErrors();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_TRUE(!errors.isEmpty() && errors.first().contains(take))
        << errors.join(u'|').toStdString();
    EXPECT_EQ(readAll(take), taken);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("take02.avi"))));
}

TEST_F(SplitWindow, TheMainWindowClosesOnlyAfterTheRunningFilmCommand) {
    {
        FilmCommands::Scope running;
        form->close();
        EXPECT_TRUE(form->isVisible());
        form->close(); // asked twice, closed once
    }
    EXPECT_FALSE(form->isVisible());
}

} // namespace
