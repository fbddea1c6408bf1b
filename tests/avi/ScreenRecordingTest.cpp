// Recording a real X screen (a private Xvfb) through the engine and through `qdx record`.

#include "avi/TAviCapture.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/support/VirtualClock.h"
#include "tests/support/XvfbServer.h"
#include "tests/x11/XClient.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <thread>

namespace {

using namespace qdx::test;
using namespace std::chrono_literals;

class ScreenRecording : public ::testing::Test {
protected:
    XvfbServer server{320, 240, 24};
    TempDir dir;

    void SetUp() override {
        ASSERT_TRUE(server.running()) << "Xvfb did not start";
        ASSERT_TRUE(client.connected());
    }

    XClient client;

    ProcessResult qdx(const QStringList& arguments, int timeoutMs = 60000) {
        return run(builtProgram(QStringLiteral("qdx")), arguments, timeoutMs, {},
                   {QStringLiteral("DISPLAY=") + server.display(),
                    QStringLiteral("QUADRIX_HOME=") + dir.path()});
    }
    // `qdx record FILM --seconds S --rate R` with further options, in the background, on the
    // private display or another.
    void startRecording(QProcess& recorder, const QString& film, int seconds, int rate = 10,
                        const QStringList& options = {}, const QString& display = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display.isEmpty() ? server.display() : display);
        env.insert(QStringLiteral("QUADRIX_HOME"), dir.path());
        recorder.setProcessEnvironment(env);
        recorder.start(builtProgram(QStringLiteral("qdx")),
                       QStringList{QStringLiteral("record"), film, QStringLiteral("--seconds"),
                                   QString::number(seconds), QStringLiteral("--rate"),
                                   QString::number(rate)} +
                           options);
    }
    // The RGB of pixel (x, y) in frame `index` of a decoded film.
    static QRgb pixel(const QByteArray& frames, int width, int height, int index, int x, int y) {
        const qsizetype at = (qsizetype(index) * width * height + qsizetype(y) * width + x) * 3;
        return qRgb(uint8_t(frames[at]), uint8_t(frames[at + 1]), uint8_t(frames[at + 2]));
    }
};

TEST_F(ScreenRecording, ThreeSecondsAtTenFramesPerSecondShowTheScreenAndThePointer) {
    // A red window on the left; a cursor whose hot spot (4, 4) sits inside a green square.
    const xcb_window_t red = client.window(QRect(0, 0, 160, 240), qRgb(255, 0, 0));
    const xcb_cursor_t cursor = client.cursor(QSize(16, 16), QPoint(4, 4), QRect(2, 2, 5, 5),
                                              qRgb(0, 255, 0), qRgb(0, 0, 255));
    client.showCursor(red, cursor);
    client.showCursor(client.root(), cursor);
    client.sync();
    ASSERT_EQ(run(QStringLiteral("xdotool"),
                  {QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("120")},
                  10000, {}, {QStringLiteral("DISPLAY=") + server.display()})
                  .exitCode,
              0);

    const QString film = dir.file(QStringLiteral("screen.avi"));
    QProcess recorder;
    startRecording(recorder, film, 3);
    ASSERT_TRUE(recorder.waitForStarted());
    // Half way through, the window turns yellow.
    std::this_thread::sleep_for(1500ms);
    client.destroy(red);
    client.window(QRect(0, 0, 160, 240), qRgb(255, 255, 0));
    client.sync();
    ASSERT_TRUE(recorder.waitForFinished(30000));
    ASSERT_EQ(recorder.exitCode(), 0) << recorder.readAllStandardError().constData();

    // Real time on a shared machine may drop frames (their positions stay, so the film lasts as
    // long as the recording); how many is the benchmark's figure, not this test's.
    EXPECT_NEAR(probeDuration(film), 3.0, 0.15);
    const QByteArray decoded = joined(ffmpegPictures(film, 320, 240));
    const int frames = int(decoded.size() / (320 * 240 * 3));
    ASSERT_GE(frames, 2);
    EXPECT_EQ(pixel(decoded, 320, 240, 0, 20, 20), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(decoded, 320, 240, frames - 1, 20, 20), qRgb(255, 255, 0));
    // The pointer is drawn with its hot spot on the pointer's position.
    EXPECT_EQ(pixel(decoded, 320, 240, 0, 100, 120), qRgb(0, 255, 0));
    EXPECT_EQ(pixel(decoded, 320, 240, 0, 96 + 12, 116 + 12), qRgb(0, 0, 255));
}

// Real screen copies, paced by a clock whose time passes only in the recorder's waits: no copy is
// ever late, so every position holds a picture however loaded the machine is.
TEST_F(ScreenRecording, APauseLeavesNoGapInARealRecording) {
    client.window(QRect(0, 0, 320, 240), qRgb(0, 0, 255));
    client.sync();
    TAviCapture engine;
    engine.SetClock(std::make_shared<VirtualClock>());
    engine.FileName = dir.file(QStringLiteral("paused.avi"));
    engine.PixelFormat = pf24bit;
    engine.Rate = 10;
    std::atomic<int> reported{0};
    engine.OnCapturing = [&](int, TAviCapture*) {
        ++reported;
    };
    auto waitFor = [&](int frames) {
        for (int i = 0; i < 2000 && reported.load() < frames; ++i)
            std::this_thread::sleep_for(10ms);
    };
    engine.StartRecording();
    waitFor(5);
    engine.PauseRecording();
    std::this_thread::sleep_for(300ms);
    const int paused = reported.load();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(reported.load(), paused) << "no frames while paused";
    EXPECT_FALSE(engine.Recording());
    engine.ResumeRecording();
    waitFor(paused + 5);
    engine.StopRecording();
    ASSERT_TRUE(engine.RecordingError().isEmpty()) << engine.RecordingError().toStdString();
    EXPECT_EQ(engine.DroppedFrames(), 0);
    // Every position holds a picture: the film is as long as the frames recorded.
    EXPECT_EQ(probeFrameCount(engine.FileName), reported.load());
    EXPECT_NEAR(probeDuration(engine.FileName), reported.load() / 10.0, 0.001);
}

TEST_F(ScreenRecording, AKilledRecordingStillOpens) {
    const QString film = dir.file(QStringLiteral("killed.avi"));
    QProcess recorder;
    startRecording(recorder, film, 60);
    ASSERT_TRUE(recorder.waitForStarted());
    std::this_thread::sleep_for(5s);
    ::kill(pid_t(recorder.processId()), SIGKILL);
    recorder.waitForFinished(10000);

    // Indexes reach the disk every two seconds: at least the first three seconds survive.
    const int frames = probeFrameCount(film);
    EXPECT_GE(frames, 25);
    TAviCapture engine;
    ASSERT_TRUE(engine.ReadFileInfo(film));
    EXPECT_GE(engine.Frames, 25);
    ASSERT_TRUE(engine.OpenFilm(film));
    EXPECT_TRUE(engine.GetFrame(engine.Frames - 1));
}

TEST_F(ScreenRecording, TheToolReportsATargetThatCannotBeWritten) {
    const ProcessResult result =
        qdx({QStringLiteral("record"), dir.file(QStringLiteral("no/such/folder/x.avi")),
             QStringLiteral("--seconds"), QStringLiteral("0.5")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("Ocorreu um erro")) << result.err.constData();

    // A screen that cannot be copied (no display) is a failure with its reason, and no film.
    const QString film = dir.file(QStringLiteral("noscreen.avi"));
    for (const QString& compress : {QString(), QStringLiteral("--compress")}) {
        QStringList arguments = {QStringLiteral("record"), film, QStringLiteral("--seconds"),
                                 QStringLiteral("0.5")};
        if (!compress.isEmpty())
            arguments << compress;
        const ProcessResult blind =
            run(builtProgram(QStringLiteral("qdx")), arguments, 60000, {},
                {QStringLiteral("DISPLAY="), QStringLiteral("QUADRIX_HOME=") + dir.path()});
        EXPECT_EQ(blind.exitCode, 1) << blind.err.constData();
        EXPECT_TRUE(blind.err.contains("Ocorreu um erro")) << blind.err.constData();
        EXPECT_TRUE(blind.err.contains("display")) << blind.err.constData();
        EXPECT_FALSE(QFileInfo::exists(film));
        EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.avi")}, QDir::Files).isEmpty());
    }
}

// A compression that fails loses nothing: the uncompressed recording moves out of the work files
// to a name beside the target, and the tool says where.
TEST_F(ScreenRecording, ARecordingWhoseCompressionFailsIsKeptBesideTheTarget) {
    const QString film = dir.file(QStringLiteral("taken.avi"));
    ASSERT_TRUE(QDir().mkpath(film)); // a folder of that name: the compressed film cannot go there
    const ProcessResult result =
        qdx({QStringLiteral("record"), film, QStringLiteral("--seconds"), QStringLiteral("1"),
             QStringLiteral("--rate"), QStringLiteral("10"), QStringLiteral("--compress"),
             QStringLiteral("--codec"), QStringLiteral("MJPG")});
    EXPECT_EQ(result.exitCode, 1);
    const QString kept = dir.file(QStringLiteral("taken-uncompressed.avi"));
    EXPECT_TRUE(result.err.contains(kept.toLocal8Bit())) << result.err.constData();
    EXPECT_GE(probeFrameCount(kept), 5);
    EXPECT_EQ(probeVideoCodec(kept), QStringLiteral("rawvideo"));
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("tmp_*")}, QDir::Files).isEmpty());
}

TEST_F(ScreenRecording, CompressedRecordingsAndScreenCopies) {
    client.window(QRect(0, 0, 320, 240), qRgb(0, 200, 0));
    client.sync();
    const QString film = dir.file(QStringLiteral("small.avi"));
    const ProcessResult result =
        qdx({QStringLiteral("record"), film, QStringLiteral("--seconds"), QStringLiteral("1"),
             QStringLiteral("--rate"), QStringLiteral("10"), QStringLiteral("--compress"),
             QStringLiteral("--codec"), QStringLiteral("MJPG")});
    ASSERT_EQ(result.exitCode, 0) << result.err.constData();
    EXPECT_EQ(probeVideoCodec(film), QStringLiteral("mjpeg"));
    EXPECT_NEAR(probeFrameCount(film), 10, 1);
    // Nothing of the recording's temporary film stays behind.
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("tmp_*")}, QDir::Files).isEmpty());

    const QString picture = dir.file(QStringLiteral("screen.bmp"));
    const ProcessResult copy = qdx({QStringLiteral("capture"), picture, QStringLiteral("--colors"),
                                    QStringLiteral("256 color")});
    ASSERT_EQ(copy.exitCode, 0) << copy.err.constData();
    const QImage image(picture);
    EXPECT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
}

// Compressed while it records, at full HD: the film is H.264 from the start, lasts as long as the
// recording, and no uncompressed film (a second of it is 240 MB) exists at any moment.
TEST_F(ScreenRecording, ALiveH264RecordingAtFullHdNeverWritesAnUncompressedFilm) {
    XvfbServer large{1920, 1080, 24};
    ASSERT_TRUE(large.running());
    const QString film = dir.file(QStringLiteral("live.avi"));
    // --live compresses with a compressor, and is not also a compression after Stop.
    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--live")},
          QStringList{QStringLiteral("--live"), QStringLiteral("--codec"), QStringLiteral("DIB")},
          QStringList{QStringLiteral("--live"), QStringLiteral("--compress"),
                      QStringLiteral("--codec"), QStringLiteral("H264")}}) {
        const ProcessResult refused =
            qdx(QStringList{QStringLiteral("record"), film, QStringLiteral("--seconds"),
                            QStringLiteral("1")} +
                wrong);
        EXPECT_EQ(refused.exitCode, 2) << refused.err.constData();
        EXPECT_TRUE(refused.err.contains("--live")) << refused.err.constData();
        EXPECT_FALSE(QFileInfo::exists(film));
    }
    const int seconds = 10;
    const int rate = 30;
    QProcess recorder;
    startRecording(recorder, film, seconds, rate,
                   {QStringLiteral("--live"), QStringLiteral("--codec"), QStringLiteral("H264")},
                   large.display());
    ASSERT_TRUE(recorder.waitForStarted());
    // Every file of the folder, watched while the recording runs.
    qint64 largest = 0;
    while (!recorder.waitForFinished(100))
        for (const QFileInfo& file : QDir(dir.path()).entryInfoList(QDir::Files))
            largest = std::max(largest, file.size());
    ASSERT_EQ(recorder.exitCode(), 0) << recorder.readAllStandardError().constData();
    EXPECT_LT(largest, 100 * 1024 * 1024);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("live.avi")});

    const QString out = QString::fromLatin1(recorder.readAllStandardOutput());
    const QRegularExpressionMatch counts =
        QRegularExpression(QStringLiteral("frames: (\\d+)\ndropped: (\\d+)")).match(out);
    ASSERT_TRUE(counts.hasMatch()) << out.toStdString();
    const int frames = counts.captured(1).toInt();
    const int dropped = counts.captured(2).toInt();
    EXPECT_EQ(probeVideoCodec(film), QStringLiteral("h264"));
    EXPECT_NEAR(frames, seconds * rate, seconds * rate * 0.02);
    EXPECT_NEAR(probeDuration(film) * rate, seconds * rate, seconds * rate * 0.02);
    // Dropped frames leave empty positions; every other one holds a picture ffmpeg decodes.
    EXPECT_EQ(probeFrameCount(film) + dropped, frames);
    EXPECT_TRUE(decodeComplaints(film).isEmpty());
}

} // namespace
