#include "avi/LiveEncoder.h"
#include "avi/TAviCapture.h"
#include "platform/codec/Compressors.h"
#include "platform/core/AppFolder.h"
#include "platform/core/Clock.h"
#include "platform/core/WorkFileLock.h"
#include "platform/x11/ScreenSource.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/support/TestSupport.h"
#include "tests/support/VirtualClock.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/resource.h>

namespace {

using namespace qdx::test;
using qdx::test::VirtualClock;
using namespace std::chrono_literals;

// The colour of the screen's copy number `grab` (from 1).
QRgb screenColour(int grab) {
    return qRgb((grab * 40) & 255, 100, 200);
}

// A screen of one colour that changes with every copy; a copy may take virtual time.
class ColourScreen : public qdx::x11::ScreenSource {
public:
    ColourScreen(VirtualClock& clock, QSize size) : m_clock(clock), m_size(size) {}
    TBitmap grab(TPixelFormat format) override {
        if (beforeGrab)
            beforeGrab(grabs.load());
        ++grabs;
        if (failing)
            throw std::runtime_error("no screen");
        if (grabTime.count() > 0)
            m_clock.advance(grabTime);
        QImage image(m_size, QImage::Format_RGB32);
        image.fill(screenColour(grabs));
        TBitmap bitmap(image);
        bitmap.SetPixelFormat(format);
        return bitmap;
    }
    QSize size() const override { return m_size; }

    std::atomic<int> grabs{0};
    std::atomic<bool> failing{false};
    qdx::Clock::duration grabTime{0};
    // Called with the copies made so far, before each copy.
    std::function<void(int)> beforeGrab;

private:
    VirtualClock& m_clock;
    QSize m_size;
};

// Frames (positions) and duration of a written film, through our own reader.
int filmFrames(const QString& film) {
    TAviCapture reader;
    return reader.ReadFileInfo(film) ? reader.Frames : -1;
}

// Runs `measure` on the film's video stream; -1 when the film or the stream does not open.
template <typename Measure>
auto withVideo(const QString& film, Measure measure) -> decltype(measure(PAVISTREAM())) {
    qdx::vfw::LibraryScope library;
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, film, OF_READ) != AVIERR_OK)
        return -1;
    qdx::vfw::FileHandle holder(file);
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK)
        return -1;
    qdx::vfw::StreamHandle streamHolder(stream);
    return measure(stream);
}

double filmSeconds(const QString& film) {
    return withVideo(film, [](PAVISTREAM stream) {
        return AVIStreamSampleToTime(stream, AVIStreamLength(stream)) / 1000.0;
    });
}

// The pictures that hold something: positions left empty by dropped frames are not counted.
int filmPictures(const QString& film) {
    return withVideo(film, [](PAVISTREAM stream) {
        int pictures = 0;
        for (LONG i = 0; i < AVIStreamLength(stream); ++i) {
            LONG bytes = 0;
            AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr);
            pictures += bytes > 0 ? 1 : 0;
        }
        return pictures;
    });
}

class AviRecording : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
    std::shared_ptr<ColourScreen> screen = std::make_shared<ColourScreen>(*clock, QSize(40, 30));
    // The engine names its temporary file at construction, in the application folder.
    bool folderSet = (qdx::setApplicationFolder(dir.path()), true);
    TAviCapture engine;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> lengths;
    std::vector<bool> stops;

    void SetUp() override {
        engine.SetScreenSource(screen);
        engine.SetClock(clock);
        engine.FileName = dir.file(QStringLiteral("film.avi"));
        engine.PixelFormat = pf24bit;
        engine.Rate = 10;
        engine.OnCapturing = [this](int length, TAviCapture* sender) {
            EXPECT_EQ(sender, &engine);
            std::lock_guard lock(mutex);
            lengths.push_back(length);
            changed.notify_all();
        };
        engine.OnStop = [this](bool result) {
            std::lock_guard lock(mutex);
            stops.push_back(result);
        };
    }

    // Waits (in real time) until `n` frames were reported.
    void waitForFrames(size_t n) {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return lengths.size() >= n; }))
            << lengths.size() << " frames";
    }
};

TEST_F(AviRecording, FramesArePacedAtTheDeclaredRate) {
    engine.StartRecording();
    waitForFrames(25);
    engine.StopRecording();
    ASSERT_GE(lengths.size(), 25u);
    EXPECT_EQ(lengths[0], 100);
    EXPECT_EQ(lengths[1], 200);
    EXPECT_EQ(lengths[24], 2500);
    EXPECT_EQ(engine.DroppedFrames(), 0);
    EXPECT_EQ(stops, std::vector<bool>{true});
    EXPECT_EQ(filmFrames(engine.FileName), int(lengths.size()));
    EXPECT_EQ(filmPictures(engine.FileName), int(lengths.size()));
    EXPECT_TRUE(engine.Recording()) << "Recording keeps its last value after a stop";
}

TEST_F(AviRecording, AMachineThatFallsBehindLeavesEmptyPositionsSoTheFilmLastsAsLong) {
    screen->grabTime = 250ms; // two and a half frame periods per copy
    engine.StartRecording();
    waitForFrames(8);
    engine.StopRecording();
    const size_t written = lengths.size();
    // Each copy takes 250 ms: frame k lands at the slot the clock has reached.
    EXPECT_GT(engine.DroppedFrames(), 0);
    EXPECT_EQ(lengths.back(), (int(written) + engine.DroppedFrames()) * 100);
    // The film's duration is the recording's, although fewer pictures were grabbed.
    EXPECT_NEAR(filmSeconds(engine.FileName), (int(written) + engine.DroppedFrames()) / 10.0,
                0.001);
    EXPECT_EQ(filmPictures(engine.FileName), int(written));
}

TEST_F(AviRecording, APauseLeavesNoGap) {
    engine.StartRecording();
    waitForFrames(5);
    engine.PauseRecording();
    // Once paused, the thread stops reporting frames.
    std::this_thread::sleep_for(100ms);
    size_t paused;
    {
        std::lock_guard lock(mutex);
        paused = lengths.size();
    }
    clock->advance(10s);
    std::this_thread::sleep_for(100ms);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(lengths.size(), paused) << "no frame is grabbed while paused";
    }
    EXPECT_FALSE(engine.Recording());
    EXPECT_TRUE(engine.Paused());
    engine.ResumeRecording();
    waitForFrames(paused + 5);
    engine.StopRecording();
    for (size_t i = 0; i < lengths.size(); ++i)
        ASSERT_EQ(lengths[i], int(i + 1) * 100) << "frame " << i;
    EXPECT_EQ(engine.DroppedFrames(), 0);
}

TEST_F(AviRecording, StoppingWhilePausedClosesTheFilmAndASecondStopDoesNothing) {
    TAviCapture never;
    never.StopRecording(); // a component that never recorded
    engine.StartRecording();
    waitForFrames(2);
    engine.PauseRecording();
    engine.StopRecording();
    EXPECT_EQ(stops, std::vector<bool>{true});
    engine.StopRecording();
    EXPECT_EQ(stops.size(), 1u);
    EXPECT_GE(filmFrames(engine.FileName), 2);
}

TEST_F(AviRecording, StoppingRightAwayKeepsTheFirstFrame) {
    engine.StartRecording();
    engine.StopRecording();
    EXPECT_GE(filmFrames(engine.FileName), 1);
}

TEST_F(AviRecording, ATargetInAMissingFolderGivesNoFilmAndNoStop) {
    engine.FileName = dir.file(QStringLiteral("missing/film.avi"));
    engine.StartRecording();
    engine.StopRecording();
    EXPECT_TRUE(stops.empty());
    EXPECT_FALSE(QFileInfo::exists(engine.FileName));
    EXPECT_EQ(engine.RecordingError(),
              QStringLiteral("Ocorreu um erro durante a criação do vídeo. \rFeche o programa e "
                             "reinicie.\rFalha ao criar/abir arquivo AVI."));
}

TEST_F(AviRecording, CompressibleRecordingsGoToTheTemporaryFile) {
    ASSERT_TRUE(writeAll(engine.FileName, QByteArray("keep me")));
    engine.PermitirCompactacao = true;
    EXPECT_TRUE(engine.RecordingTempFile().startsWith(dir.path()));
    engine.StartRecording();
    waitForFrames(3);
    engine.StopRecording();
    EXPECT_EQ(readAll(engine.FileName), QByteArray("keep me"));
    const QString first = engine.RecordingTempFile();
    const int firstFrames = filmFrames(first);
    EXPECT_GE(firstFrames, 3);
    // The component holds the temp file's lock, so no clean-up deletes it before it is compressed.
    EXPECT_FALSE(qdx::WorkFileLock::removeIfUnused(first));
    EXPECT_TRUE(QFileInfo::exists(first));

    // The next recording has a work file of its own: the first one's recording stays whole.
    engine.ReleaseRecordingTempFile();
    engine.StartRecording();
    waitForFrames(5);
    engine.StopRecording();
    EXPECT_NE(engine.RecordingTempFile(), first);
    EXPECT_TRUE(
        qdx::WorkFileLock::isWorkFileName(QFileInfo(engine.RecordingTempFile()).fileName()));
    EXPECT_EQ(filmFrames(first), firstFrames);
    EXPECT_GE(filmFrames(engine.RecordingTempFile()), 2);
}

// A film that could not be written whole (here a file-size limit, as a full disk would) is a
// failed recording.
TEST_F(AviRecording, AFilmCutShortReportsAFailedStop) {
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 32 * 1024; // about eight frames of 40 x 30 at 24 bits
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    engine.StartRecording();
    waitForFrames(20);
    engine.StopRecording();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(stops, std::vector<bool>{false});
}

TEST_F(AviRecording, AnExistingTargetIsReplaced) {
    ASSERT_TRUE(writeAll(engine.FileName, QByteArray(100000, 'z')));
    engine.StartRecording();
    waitForFrames(2);
    engine.StopRecording();
    EXPECT_GE(filmFrames(engine.FileName), 2);
}

// A screen that cannot be copied (the first copy, the stream or its format) is a failed
// recording with its reason, and leaves no film that looks like one: neither the target nor, when
// compressing, the work file.
TEST_F(AviRecording, AScreenThatCannotBeCopiedIsAnErrorAndLeavesNoFilm) {
    std::vector<QString> reported;
    engine.OnRecordingError = [&](const QString& message) {
        reported.push_back(message);
    };
    screen->failing = true;
    for (const bool compress : {false, true}) {
        engine.PermitirCompactacao = compress;
        engine.StartRecording();
        engine.StopRecording();
        EXPECT_TRUE(stops.empty());
        EXPECT_TRUE(lengths.empty());
        EXPECT_TRUE(engine.RecordingError().endsWith(QStringLiteral("\rno screen")))
            << engine.RecordingError().toStdString();
        EXPECT_FALSE(QFileInfo::exists(engine.FileName));
        EXPECT_FALSE(QFileInfo::exists(engine.RecordingTempFile()));
    }
    EXPECT_EQ(reported.size(), 2u);
    // A copy that fails later leaves its position empty; the recording goes on.
    engine.PermitirCompactacao = false;
    screen->failing = false;
    engine.StartRecording();
    waitForFrames(2);
    screen->failing = true;
    clock->advance(1s);
    screen->failing = false;
    waitForFrames(4);
    engine.StopRecording();
    EXPECT_EQ(stops, std::vector<bool>{true});
    EXPECT_GE(filmFrames(engine.FileName), 4);
}

TEST_F(AviRecording, QueuedBitmapsAreRecordedAndEndTheRecording) {
    engine.TipoCaptura = tcBitmap;
    for (QRgb c : {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)}) {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(c);
        engine.Bitmaps().push_back(std::make_unique<TBitmap>(image));
        engine.Bitmaps().back()->SetPixelFormat(pf24bit);
    }
    engine.StartRecording();
    waitForFrames(3);
    engine.StopRecording();
    EXPECT_EQ(stops, std::vector<bool>{true});
    EXPECT_EQ(filmFrames(engine.FileName), 3);
    TAviCapture reader;
    ASSERT_TRUE(reader.OpenFilm(engine.FileName));
    std::unique_ptr<TBitmap> second = reader.GetFrame(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Image().pixel(3, 3), qRgb(0, 255, 0)) << "the second frame is green";
}

TEST_F(AviRecording, ReducedDepthsAreRecordedWithTheirPalette) {
    engine.PixelFormat = pf8bit;
    engine.StartRecording();
    waitForFrames(2);
    engine.StopRecording();
    EXPECT_GE(filmFrames(engine.FileName), 2);
    TAviCapture reader;
    ASSERT_TRUE(reader.OpenFilm(engine.FileName));
    std::unique_ptr<TBitmap> first = reader.GetFrame(0);
    ASSERT_TRUE(first);
    // The screen's colour (40, 100, 200) reduced to the nearest colour of the 256-colour palette.
    EXPECT_EQ(first->Image().pixel(0, 0), qRgb(51, 102, 204));
}

// Compressing while recording: the film is written with the compressor as it is recorded, with
// no work file. Here each copy of the screen waits until the encoder has taken the one before, so
// nothing is dropped: every position holds its own copy of the screen, as ffmpeg decodes it.
TEST_F(AviRecording, ACompressedRecordingHoldsEveryFrameInItsCodec) {
    std::mutex encodedMutex;
    std::condition_variable encodedChanged;
    int encoded = 0;
    engine.OnFrameEncoded = [&](int, int) {
        std::lock_guard lock(encodedMutex);
        ++encoded;
        encodedChanged.notify_all();
    };
    screen->beforeGrab = [&](int made) {
        std::unique_lock lock(encodedMutex);
        encodedChanged.wait_for(lock, 20s, [&] { return encoded >= made; });
    };
    engine.PermitirCompactacao = true; // the live compressor takes over: no work file
    for (const char* codec : {"H264", "MJPG"}) {
        SCOPED_TRACE(codec);
        {
            std::lock_guard lock(mutex);
            lengths.clear();
        }
        screen->grabs = 0;
        encoded = 0;
        const qdx::vfw::Compressor* compressor = qdx::vfw::findCompressor(fourcc(codec));
        ASSERT_TRUE(compressor);
        engine.CompressWhileRecording = true;
        engine.LiveCompressor = qdx::vfw::defaultOptions(*compressor);
        engine.StartRecording();
        waitForFrames(30);
        engine.StopRecording();
        ASSERT_TRUE(engine.RecordingError().isEmpty()) << engine.RecordingError().toStdString();
        EXPECT_EQ(engine.DroppedFrames(), 0);
        EXPECT_FALSE(QFileInfo::exists(engine.RecordingTempFile()));
        // Frames = elapsed x rate: one per 100 ms of the clock, each reported as written.
        const int frames = int(lengths.size());
        EXPECT_EQ(lengths.back(), frames * 100);
        EXPECT_EQ(filmFrames(engine.FileName), frames);
        EXPECT_EQ(probeVideoCodec(engine.FileName),
                  QString::fromLatin1(std::strcmp(codec, "H264") == 0 ? "h264" : "mjpeg"));
        EXPECT_EQ(probeFrameCount(engine.FileName), frames);
        const std::vector<QByteArray> pictures =
            ffmpegPictures(engine.FileName, 40, 30, PeerPixels::Bgr24);
        ASSERT_EQ(int(pictures.size()), frames);
        for (int k = 0; k < frames; ++k) {
            QImage expected(40, 30, QImage::Format_RGB32);
            expected.fill(screenColour(k + 1));
            EXPECT_GT(psnr(pictures[size_t(k)], imageToBgr24(expected)), 30.0) << "frame " << k;
        }
    }
    EXPECT_EQ(stops, (std::vector<bool>{true, true}));
}

// An encoder that falls behind: copies of the screen that find every frame buffer waiting are
// dropped and counted, their positions stay empty (the film keeps the recording's duration), and
// no more frames ever wait than the queue holds.
TEST_F(AviRecording, AnEncoderThatFallsBehindDropsFramesAndItsQueueStaysBounded) {
    std::mutex heldMutex;
    std::condition_variable grabbed;
    std::atomic<int> mostWaiting{0};
    screen->beforeGrab = [&](int) {
        std::lock_guard lock(heldMutex);
        grabbed.notify_all();
    };
    engine.OnFrameEncoded = [&](int position, int waiting) {
        mostWaiting = std::max(mostWaiting.load(), waiting);
        if (position == 0) {
            // The encoder takes its time over the first frame while the screen is copied on.
            std::unique_lock lock(heldMutex);
            grabbed.wait_for(lock, 20s, [&] { return screen->grabs >= 15; });
        }
    };
    engine.CompressWhileRecording = true;
    engine.LiveCompressor = qdx::vfw::defaultOptions(*qdx::vfw::findCompressor(fourcc("H264")));
    engine.StartRecording();
    waitForFrames(25);
    engine.StopRecording();
    EXPECT_EQ(stops, std::vector<bool>{true});
    const int positions = lengths.back() / 100;
    EXPECT_EQ(positions, int(lengths.size())) << "every copy reports its position";
    EXPECT_GE(engine.DroppedFrames(), 15 - 1 - LiveEncoder::kQueueFrames);
    EXPECT_LT(mostWaiting.load(), LiveEncoder::kQueueFrames);
    EXPECT_EQ(filmFrames(engine.FileName), positions);
    EXPECT_EQ(filmPictures(engine.FileName), positions - engine.DroppedFrames());
    EXPECT_EQ(probeVideoCodec(engine.FileName), QStringLiteral("h264"));
    EXPECT_TRUE(decodeComplaints(engine.FileName).isEmpty());
}

// A compressor that cannot take the frames fails before the film exists.
TEST_F(AviRecording, ACompressorThatCannotOpenIsAnErrorAndLeavesNoFilm) {
    engine.CompressWhileRecording = true;
    engine.LiveCompressor = qdx::vfw::defaultOptions(*qdx::vfw::findCompressor(fourcc("H264")));
    engine.LiveCompressor.fccHandler = fourcc("ZZZZ");
    engine.StartRecording();
    engine.StopRecording();
    EXPECT_TRUE(stops.empty());
    EXPECT_FALSE(QFileInfo::exists(engine.FileName));
    EXPECT_TRUE(
        engine.RecordingError().endsWith(QStringLiteral("Falha ao abrir o compressor de vídeo.")))
        << engine.RecordingError().toStdString();
}

} // namespace
