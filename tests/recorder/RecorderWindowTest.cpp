// The recorder window offscreen, recording a fake screen in real time at 10 frames per second:
// the table of states, the film names, the caption, the outcomes of Stop with and without
// compression, a film that cannot be created and a screen that cannot be copied, the command line,
// closing during a recording, the move across file systems, and the single-instance link between
// two recorders.

#include "avi/TAviCapture.h"
#include "platform/core/AppFolder.h"
#include "platform/core/WorkFileLock.h"
#include "platform/vfw/CompressorChooser.h"
#include "platform/x11/ScreenSource.h"
#include "recorder/MoverArquivo.h"
#include "recorder/SingleInstance.h"
#include "recorder/TFormPrincipalCapture.h"
#include "shared/Configuracoes.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"
#include "ui/ApagarTemporarios.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <sys/file.h>
#include <thread>

using namespace qdx::test;
using Estado = TFormPrincipalCapture::TEstado;

namespace {

class FlatScreen : public qdx::x11::ScreenSource {
public:
    TBitmap grab(TPixelFormat format) override {
        if (failing)
            throw std::runtime_error("the screen is gone");
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(qRgb(200, 40, 40));
        TBitmap bitmap(image);
        bitmap.SetPixelFormat(format);
        return bitmap;
    }
    QSize size() const override { return {64, 48}; }
    std::atomic<bool> failing{false};
};

bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

void pause(int ms) {
    waitFor([] { return false; }, ms);
}

int framesOf(const QString& film) {
    TAviCapture probe;
    return probe.ReadFileInfo(film) ? probe.Frames : -1;
}

QString codecOf(const QString& film) {
    const ProcessResult probe =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
             QStringLiteral("v:0"), QStringLiteral("-show_entries"),
             QStringLiteral("stream=codec_name"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
             film});
    return QString::fromUtf8(probe.out).trimmed();
}

class RecorderWindow : public ::testing::Test {
protected:
    void SetUp() override {
        qunsetenv("DISPLAY"); // no key grabs, no screen copies
        qputenv("XDG_CONFIG_HOME", dir.file(QStringLiteral("config")).toLocal8Bit());
        qdx::setApplicationFolder(dir.path());
        IniciarConfiguracoes();
        GravarTexto(QStringLiteral("caminho_video_padrao"), dir.path());
        GravarBooleano(QStringLiteral("salvar_automaticamente_video"), true);
        GravarBooleano(QStringLiteral("compactar_video"), false);
        GravarInteiro(QStringLiteral("numero_quadros_por_milisegundo"), 10);
        IniciarConfiguracoes();
        previousChooser = qdx::vfw::setCompressorChooser(&chooser);
    }
    void TearDown() override {
        form.reset();
        qdx::vfw::setCompressorChooser(previousChooser);
    }
    void create(const QStringList& arguments = {}) {
        form = std::make_unique<TFormPrincipalCapture>(arguments);
        form->AviCapture->SetScreenSource(screen);
        form->AbrirArquivo = [this](const QString& film) {
            opened << film;
        };
    }
    void expectButtons(bool gravar, bool pausar, bool parar) {
        EXPECT_EQ(form->SpeedButtonGravar->isEnabled(), gravar);
        EXPECT_EQ(form->SpeedButtonPause->isEnabled(), pausar);
        EXPECT_EQ(form->SpeedButtonStop->isEnabled(), parar);
    }
    // Records for a while, then stops with the real button.
    void recordAndStop(int ms = 400) {
        form->SpeedButtonGravar->click();
        ASSERT_EQ(form->Estado(), Estado::Running);
        ASSERT_TRUE(waitFor([&] { return form->AviCapture->Recording(); }));
        pause(ms);
        form->SpeedButtonStop->click();
    }
    QString film(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QString question(const QString& film) const {
        return QStringLiteral("Arquivo gerado:\r") + film +
               QStringLiteral("\rDeseja visualizar o arquivo agora ?");
    }

    TempDir dir;
    ScriptedPrompts prompts;
    qdx::vfw::PresetCompressorChooser chooser;
    qdx::vfw::CompressorChooser* previousChooser = nullptr;
    std::shared_ptr<FlatScreen> screen = std::make_shared<FlatScreen>();
    std::unique_ptr<TFormPrincipalCapture> form;
    QStringList opened;
};

TEST_F(RecorderWindow, StatesAndButtonsThroughRecordPauseResumeStopAndTheQuestion) {
    create();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quadrix"));
    EXPECT_EQ(form->SpeedButtonGravar->accessibleName(), QStringLiteral("Record"));
    EXPECT_EQ(form->SpeedButtonStop->toolTip(), QStringLiteral("Stop"));
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form->Estado(), Estado::Idle);
    expectButtons(true, false, false);
    // Pause and Stop do nothing in Idle.
    form->SpeedButtonPauseClick();
    form->SpeedButtonStopClick();
    EXPECT_EQ(form->Estado(), Estado::Idle);
    EXPECT_TRUE(prompts.asked.empty());

    form->SpeedButtonGravar->click();
    EXPECT_EQ(form->Estado(), Estado::Running);
    expectButtons(false, true, true);
    EXPECT_EQ(form->AviCapture->FileName, film(QStringLiteral("Video1.avi")));
    ASSERT_TRUE(waitFor([&] { return form->windowTitle().startsWith(QStringLiteral("00:0")); }));
    // Record while running does nothing: no new name, no new counter.
    form->SpeedButtonGravarClick();
    EXPECT_EQ(ContadorVideos, 2);

    ASSERT_TRUE(waitFor([&] { return form->AviCapture->Recording(); }));
    form->SpeedButtonPause->click();
    EXPECT_EQ(form->Estado(), Estado::Paused);
    expectButtons(true, false, true);
    ASSERT_TRUE(waitFor([&] { return !form->AviCapture->Recording(); }));
    form->SpeedButtonGravar->click(); // resumes
    EXPECT_EQ(form->Estado(), Estado::Running);
    expectButtons(false, true, true);
    pause(300);

    prompts.answers = {true};
    form->SpeedButtonStop->click();
    EXPECT_EQ(form->Estado(), Estado::Idle);
    expectButtons(true, false, false);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Q-D-X"));
    ASSERT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(prompts.asked[0].kind, QStringLiteral("question"));
    EXPECT_EQ(prompts.asked[0].caption, QStringLiteral("Confirm"));
    EXPECT_EQ(prompts.asked[0].text, question(film(QStringLiteral("Video1.avi"))));
    EXPECT_EQ(opened, QStringList{film(QStringLiteral("Video1.avi"))});
    EXPECT_GE(framesOf(film(QStringLiteral("Video1.avi"))), 3);
    EXPECT_EQ(chooser.timesAsked(), 0); // no compression asked for

    // Pause, Stop, Record: a new recording with the next name; the question answered No.
    form->SpeedButtonGravar->click();
    ASSERT_TRUE(waitFor([&] { return form->AviCapture->Recording(); }));
    form->SpeedButtonPause->click();
    form->SpeedButtonStop->click();
    EXPECT_EQ(form->Estado(), Estado::Idle);
    recordAndStop();
    EXPECT_EQ(form->AviCapture->FileName, film(QStringLiteral("Video3.avi")));
    EXPECT_EQ(opened.size(), 1);
    EXPECT_GE(framesOf(film(QStringLiteral("Video2.avi"))), 1);
    EXPECT_GE(framesOf(film(QStringLiteral("Video3.avi"))), 1);
}

TEST_F(RecorderWindow, FilmNamesFromThePatternAndFromTheNameDialog) {
    using F = TFormPrincipalCapture;
    EXPECT_EQ(F::NomeVideoAutomatico(QStringLiteral("/f"), QStringLiteral("A%1b%1"), 3,
                                     QStringLiteral("*.avi")),
              QStringLiteral("/f/A3b%1.avi"));
    EXPECT_EQ(F::NomeVideoAutomatico(QStringLiteral("/f/"), QStringLiteral("Clip"), 7,
                                     QStringLiteral("*.avi")),
              QStringLiteral("/f/Clip.avi"));

    // The counter starts at 1 in every run: the films of an earlier run are skipped, untouched.
    ASSERT_TRUE(writeAll(film(QStringLiteral("Video1.avi")), "yesterday's first"));
    ASSERT_TRUE(writeAll(film(QStringLiteral("Video3.avi")), "yesterday's third"));
    create();
    recordAndStop(200);
    EXPECT_EQ(form->AviCapture->FileName, film(QStringLiteral("Video2.avi")));
    recordAndStop(200);
    EXPECT_EQ(form->AviCapture->FileName, film(QStringLiteral("Video4.avi")));
    EXPECT_EQ(ContadorVideos, 5);
    EXPECT_EQ(readAll(film(QStringLiteral("Video1.avi"))), QByteArray("yesterday's first"));
    EXPECT_EQ(readAll(film(QStringLiteral("Video3.avi"))), QByteArray("yesterday's third"));
    EXPECT_GE(framesOf(film(QStringLiteral("Video2.avi"))), 1);
    EXPECT_GE(framesOf(film(QStringLiteral("Video4.avi"))), 1);
    EXPECT_EQ(prompts.texts(QStringLiteral("question")).size(), 2); // the final questions only

    // A pattern without "%1" names one film: replaced once the user says Yes; No opens the name
    // dialog with that name proposed, and its cancel records nothing.
    GravarTexto(QStringLiteral("nome_arquivo_video_padrao"), QStringLiteral("Fixed"));
    const QString fixed = film(QStringLiteral("Fixed.avi"));
    prompts.asked.clear();
    recordAndStop(200); // a new film: no question before it
    ASSERT_EQ(prompts.asked.size(), 1u);
    prompts.answers = {true};
    recordAndStop(200);
    ASSERT_EQ(prompts.asked.size(), 3u);
    EXPECT_EQ(prompts.asked[1].text,
              fixed + QStringLiteral(" already exists.\rDo you want to replace it?"));
    EXPECT_EQ(form->AviCapture->FileName, fixed);
    const QByteArray replaced = readAll(fixed);
    prompts.answers = {false};
    prompts.files = {std::nullopt};
    form->SpeedButtonGravar->click();
    EXPECT_EQ(form->Estado(), Estado::Idle);
    ASSERT_EQ(prompts.asked.size(), 5u);
    EXPECT_EQ(prompts.asked[4].kind, QStringLiteral("save"));
    EXPECT_EQ(prompts.asked[4].request.fileName, fixed);
    EXPECT_EQ(readAll(fixed), replaced);

    // With the dialog: a cancel stays idle and still raises the counter.
    GravarBooleano(QStringLiteral("salvar_automaticamente_video"), false);
    prompts.asked.clear();
    prompts.files = {std::nullopt};
    form->SpeedButtonGravar->click();
    EXPECT_EQ(form->Estado(), Estado::Idle);
    expectButtons(true, false, false);
    EXPECT_EQ(ContadorVideos, 9);
    ASSERT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(prompts.asked[0].kind, QStringLiteral("save"));
    EXPECT_EQ(prompts.asked[0].text, QStringLiteral("Digite o nome do Vídeo."));
    EXPECT_EQ(prompts.asked[0].request.filter, QStringLiteral("Arquivo de vídeo (*.avi)|*.avi"));

    // An existing name asks before replacing; No shows the dialog again with that name proposed.
    const QString existing = film(QStringLiteral("Fixed.avi"));
    const QString other = film(QStringLiteral("Other.avi"));
    prompts.asked.clear();
    prompts.files = {existing, other};
    prompts.answers = {false};
    recordAndStop(200);
    ASSERT_EQ(prompts.asked.size(), 4u); // dialog, replace?, dialog, the final question
    EXPECT_EQ(prompts.asked[1].kind, QStringLiteral("question"));
    EXPECT_TRUE(prompts.asked[1].text.startsWith(existing + QStringLiteral(" already exists.")));
    EXPECT_EQ(prompts.asked[2].request.fileName, existing);
    EXPECT_EQ(form->AviCapture->FileName, other);
    EXPECT_GE(framesOf(other), 1);
    // The next dialog proposes the last name chosen in this run.
    prompts.asked.clear();
    prompts.files = {std::nullopt};
    form->SpeedButtonGravar->click();
    EXPECT_EQ(prompts.asked.at(0).request.fileName, other);
}

TEST_F(RecorderWindow, CaptionShowsMinutesAndSecondsDeliveredFromTheRecordingThread) {
    EXPECT_EQ(TFormPrincipalCapture::TextoDuracao(5000), QStringLiteral("00:05"));
    EXPECT_EQ(TFormPrincipalCapture::TextoDuracao(3602000), QStringLiteral("00:02"));
    EXPECT_EQ(TFormPrincipalCapture::TextoDuracao(61999), QStringLiteral("01:01"));
    create();
    std::thread worker([&] { form->AviCapture->OnCapturing(5000, form->AviCapture); });
    worker.join();
    // The recording thread only asks; the window's thread changes the caption.
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quadrix"));
    ASSERT_TRUE(waitFor([&] { return form->windowTitle() == QStringLiteral("00:05"); }));
}

// Compressed while it records: the film under its name is the compressed one at once, with no
// work film and no compressor dialog after Stop, whatever compactar_video says.
TEST_F(RecorderWindow, AFilmCompressedWhileRecordingNeedsNoCompressorAfterStop) {
    GravarBooleano(QStringLiteral("compactar_video"), true);
    GravarBooleano(QStringLiteral("compactar_durante_gravacao"), true);
    GravarTexto(QStringLiteral("compressor_gravacao"), QStringLiteral("MJPG"));
    create();
    recordAndStop();
    EXPECT_EQ(chooser.timesAsked(), 0);
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty())
        << prompts.texts(QStringLiteral("error")).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(codecOf(film(QStringLiteral("Video1.avi"))), QStringLiteral("mjpeg"));
    EXPECT_GE(framesOf(film(QStringLiteral("Video1.avi"))), 3);
    EXPECT_FALSE(QFileInfo::exists(form->AviCapture->RecordingTempFile()));
}

TEST_F(RecorderWindow, StopCompressesTheFilmOrKeepsTheRecordingUnderItsName) {
    GravarBooleano(QStringLiteral("compactar_video"), true);
    chooser.setAnswer(
        qdx::vfw::defaultOptions(*qdx::vfw::findCompressor(mmioFOURCC('M', 'J', 'P', 'G'))));
    create();
    const QString temporary = form->AviCapture->RecordingTempFile();

    // Compression succeeds: a Motion JPEG film under the name.
    recordAndStop();
    EXPECT_EQ(chooser.timesAsked(), 1);
    EXPECT_EQ(codecOf(film(QStringLiteral("Video1.avi"))), QStringLiteral("mjpeg"));
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_EQ(prompts.texts(QStringLiteral("question")),
              QStringList{question(film(QStringLiteral("Video1.avi")))});
    EXPECT_FALSE(QFileInfo::exists(temporary)); // no longer needed

    // Cancelled: the uncompressed recording is under the name, and no error is shown.
    chooser.setCancel(true);
    recordAndStop();
    EXPECT_EQ(codecOf(film(QStringLiteral("Video2.avi"))), QStringLiteral("rawvideo"));
    EXPECT_GE(framesOf(film(QStringLiteral("Video2.avi"))), 3);
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_EQ(prompts.texts(QStringLiteral("question")).size(), 2);

    // Failing (the target's folder is gone): the error says where the recording is, which the
    // clean-up leaves alone, and no question follows.
    chooser.setCancel(false);
    GravarTexto(QStringLiteral("caminho_video_padrao"), film(QStringLiteral("gone")));
    form->SpeedButtonGravar->click();
    ASSERT_TRUE(waitFor([&] { return form->AviCapture->Recording(); }));
    // The new work film is locked against every clean-up; the film moved out of it is not.
    EXPECT_FALSE(qdx::WorkFileLock::removeIfUnused(form->AviCapture->RecordingTempFile()));
    {
        QFile moved(film(QStringLiteral("Video2.avi")));
        ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
        EXPECT_EQ(::flock(moved.handle(), LOCK_EX | LOCK_NB), 0);
    }
    pause(400);
    form->SpeedButtonStop->click();
    const QStringList errors = prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("Falhou ao criar arquivo AVI.")))
        << errors[0].toStdString();
    const qsizetype at = errors[0].indexOf(QStringLiteral("The recording is in "));
    ASSERT_GE(at, 0) << errors[0].toStdString();
    QString kept = errors[0].mid(at + 20);
    kept.chop(1); // the full stop
    EXPECT_TRUE(kept.startsWith(dir.path())) << kept.toStdString();
    ApagarTemporarios();
    EXPECT_GE(framesOf(kept), 3);
    EXPECT_EQ(prompts.texts(QStringLiteral("question")).size(), 2);
    EXPECT_EQ(form->Estado(), Estado::Idle);

    // Neither under its name nor under the rescue name (both too long for the file system): the
    // recording stays in its work file, which no later recording writes over and no clean-up,
    // at close or at the next start, deletes.
    GravarTexto(QStringLiteral("nome_arquivo_video_padrao"), QString(250, QLatin1Char('L')));
    recordAndStop();
    const QStringList moveErrors = prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(moveErrors.size(), 2);
    const QString work = form->AviCapture->RecordingTempFile();
    EXPECT_TRUE(moveErrors[1].endsWith(QStringLiteral("The recording is still in %1.").arg(work)))
        << moveErrors[1].toStdString();
    const int workFrames = framesOf(work);
    EXPECT_GE(workFrames, 3);
    GravarTexto(QStringLiteral("nome_arquivo_video_padrao"), QStringLiteral("Video%1"));
    GravarTexto(QStringLiteral("caminho_video_padrao"), dir.path());
    recordAndStop(200);
    EXPECT_NE(form->AviCapture->RecordingTempFile(), work);
    EXPECT_EQ(codecOf(form->AviCapture->FileName), QStringLiteral("mjpeg"));
    form->close();
    form.reset();
    ApagarTemporarios();
    EXPECT_EQ(framesOf(work), workFrames);
}

TEST_F(RecorderWindow, AFilmThatCannotBeCreatedIsAnErrorAndTheWindowIsIdleAgain) {
    GravarTexto(QStringLiteral("caminho_video_padrao"), film(QStringLiteral("missing/folder")));
    create();
    form->SpeedButtonGravar->click();
    ASSERT_TRUE(waitFor([&] { return form->Estado() == Estado::Idle; }));
    expectButtons(true, false, false);
    const QStringList errors = prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(
        errors[0].startsWith(QStringLiteral("Ocorreu um erro durante a criação do vídeo.")));
    EXPECT_TRUE(errors[0].contains(film(QStringLiteral("missing/folder/Video1.avi"))));
    EXPECT_TRUE(prompts.texts(QStringLiteral("question")).isEmpty());

    // A screen that cannot be copied: the error with its reason, Idle again, and no film that
    // claims to be a recording, with or without compression.
    GravarTexto(QStringLiteral("caminho_video_padrao"), dir.path());
    screen->failing = true;
    for (const bool compress : {false, true}) {
        GravarBooleano(QStringLiteral("compactar_video"), compress);
        prompts.asked.clear();
        form->SpeedButtonGravar->click();
        ASSERT_TRUE(waitFor([&] { return form->Estado() == Estado::Idle; }));
        expectButtons(true, false, false);
        const QStringList screenErrors = prompts.texts(QStringLiteral("error"));
        ASSERT_EQ(screenErrors.size(), 1);
        EXPECT_TRUE(screenErrors[0].contains(QStringLiteral("the screen is gone")))
            << screenErrors[0].toStdString();
        EXPECT_TRUE(screenErrors[0].contains(QStringLiteral("No film was written")))
            << screenErrors[0].toStdString();
        form->SpeedButtonStop->click(); // nothing to stop
        EXPECT_EQ(prompts.asked.size(), 1u);
        EXPECT_FALSE(QFileInfo::exists(form->AviCapture->FileName));
        EXPECT_FALSE(QFileInfo::exists(form->AviCapture->RecordingTempFile()));
        EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.avi")}, QDir::Files).isEmpty());
    }
}

TEST_F(RecorderWindow, OnlyPlayAloneStartsARecordingAndAPlayDuringOneChangesNothing) {
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("PLAY")},
          QStringList{QStringLiteral("play"), QStringLiteral("x")}, QStringList{}}) {
        create(arguments);
        pause(100);
        EXPECT_EQ(form->Estado(), Estado::Idle) << arguments.join(QLatin1Char(' ')).toStdString();
    }
    create({QStringLiteral("play")});
    ASSERT_TRUE(waitFor([&] { return form->Estado() == Estado::Running; }));
    EXPECT_EQ(form->AviCapture->FileName, film(QStringLiteral("Video1.avi")));
    // A later QDXCapture's "play" acts as the hot key: during a recording it does nothing.
    form->ComandoRecebido({QStringLiteral("play")});
    EXPECT_EQ(ContadorVideos, 2);
    EXPECT_EQ(form->Estado(), Estado::Running);
    ASSERT_TRUE(waitFor([&] { return form->AviCapture->Recording(); }));
    form->SpeedButtonPause->click();
    form->ComandoRecebido({QStringLiteral("play")}); // resumes the paused recording
    EXPECT_EQ(form->Estado(), Estado::Running);
    EXPECT_EQ(form->AviCapture->FileName, film(QStringLiteral("Video1.avi")));
}

TEST_F(RecorderWindow, ClosingDuringACompressibleRecordingKeepsItUnderItsName) {
    GravarBooleano(QStringLiteral("compactar_video"), true);
    create();
    const QString temporary = form->AviCapture->RecordingTempFile();
    form->SpeedButtonGravar->click();
    ASSERT_TRUE(waitFor([&] { return form->AviCapture->Recording(); }));
    pause(300);
    form->close();
    EXPECT_GE(framesOf(film(QStringLiteral("Video1.avi"))), 2);
    EXPECT_FALSE(QFileInfo::exists(temporary));
    EXPECT_EQ(chooser.timesAsked(), 0);
    EXPECT_TRUE(prompts.asked.empty());
}

// Across file systems (a folder on /dev/shm), the copy goes to a hidden name of its own: a user's
// file of the name the copy once used is neither deleted nor taken.
TEST(MoverArquivo, ACopyAcrossFileSystemsTakesNoFileThatIsThere) {
    TempDir dir;
    QTemporaryDir other(QStringLiteral("/dev/shm/qdx-test-XXXXXX"));
    if (!other.isValid() ||
        QStorageInfo(other.path()).device() == QStorageInfo(dir.path()).device())
        GTEST_SKIP() << "no second file system";
    const QString source = dir.file(QStringLiteral("tmp_recording.avi"));
    const QString target = other.filePath(QStringLiteral("Video1.avi"));
    const QString users = other.filePath(QStringLiteral(".Video1.avi.part"));
    ASSERT_TRUE(writeAll(source, QByteArray(3 << 20, 'r')));
    ASSERT_TRUE(writeAll(users, "the user's"));
    QString erro;
    ASSERT_TRUE(MoverArquivo(source, target, erro)) << erro.toStdString();
    EXPECT_EQ(readAll(target), QByteArray(3 << 20, 'r'));
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_EQ(readAll(users), QByteArray("the user's"));
    QStringList left = QDir(other.path()).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left,
              (QStringList{QStringLiteral(".Video1.avi.part"), QStringLiteral("Video1.avi")}));
    // A copy that cannot be finished leaves the source and nothing of its own.
    ASSERT_TRUE(writeAll(source, "again"));
    EXPECT_FALSE(MoverArquivo(source, other.filePath(QStringLiteral("gone/Video2.avi")), erro));
    EXPECT_FALSE(erro.isEmpty());
    EXPECT_EQ(readAll(source), QByteArray("again"));
    EXPECT_EQ(QDir(other.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(RecorderInstance, ALaterRecorderHandsItsCommandLineToTheRunningOne) {
    TempDir dir;
    auto first = std::make_unique<SingleInstance>(dir.path(), QStringLiteral("session"));
    SingleInstance second(dir.path(), QStringLiteral("session"));
    ASSERT_TRUE(first->becomePrimary()) << first->error().toStdString();
    EXPECT_FALSE(second.becomePrimary());
    QStringList received;
    QObject::connect(first.get(), &SingleInstance::commandReceived,
                     [&](const QStringList& arguments) { received = arguments; });
    std::atomic<int> sent{-1};
    std::thread later([&] { sent = second.sendToPrimary({QStringLiteral("play")}) ? 1 : 0; });
    ASSERT_TRUE(waitFor([&] { return sent.load() >= 0; }));
    later.join();
    EXPECT_EQ(sent.load(), 1);
    ASSERT_TRUE(waitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received, QStringList{QStringLiteral("play")});

    // A running recorder that does not answer (here: its thread is busy) is named in an error
    // box, through the prompts: its program and its process.
    {
        ScriptedPrompts prompts;
        SingleInstance third(dir.path(), QStringLiteral("session"));
        EXPECT_EQ(third.claim({QStringLiteral("play")}, 300), SingleInstance::Claim::Unanswered);
        const QStringList errors = prompts.texts(QStringLiteral("error"));
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("does not answer")))
            << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(
            QStringLiteral("(%1, process %2)")
                .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
                .arg(QCoreApplication::applicationPid())))
            << errors[0].toStdString();
        // Once it answers again, the running recorder drops the command its sender gave up on.
        received.clear();
        pause(300);
        EXPECT_TRUE(received.isEmpty()) << received.join(QLatin1Char(' ')).toStdString();
    }

    // When the running recorder ends, the next one takes its place.
    first.reset();
    EXPECT_FALSE(second.sendToPrimary({}, 300));
    EXPECT_TRUE(second.becomePrimary());

    // One session per display, however DISPLAY spells it.
    const bool displaySet = qEnvironmentVariableIsSet("DISPLAY");
    const QByteArray display = qgetenv("DISPLAY");
    auto keyOf = [](const char* value) {
        qputenv("DISPLAY", value);
        return SingleInstance::sessionKey();
    };
    const QString zero = keyOf(":0");
    EXPECT_EQ(keyOf(":0.0"), zero);
    EXPECT_EQ(keyOf(":0.1"), zero);
    EXPECT_EQ(keyOf("unix:0.0"), zero);
    EXPECT_NE(keyOf(":1"), zero);
    EXPECT_NE(keyOf("otherhost:0"), zero);
    EXPECT_NE(keyOf(":10"), keyOf(":1.0"));
    if (displaySet)
        qputenv("DISPLAY", display);
    else
        qunsetenv("DISPLAY");
}

} // namespace
