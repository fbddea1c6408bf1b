#include "avi/TAviCapture.h"
#include "platform/core/Exception.h"
#include "platform/vfw/CompressorChooser.h"
#include "platform/vfw/RecompressPipeline.h"
#include "tests/avi/FilmMaker.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/vfw/FilmTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <tuple>

namespace {

using namespace qdx::test;
using Event = std::tuple<int, int, int>;

// A component with recorded progress events, scripted prompts and a preset compressor choice.
class AviWriting : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedPrompts prompts;
    qdx::vfw::PresetCompressorChooser chooser;
    qdx::vfw::CompressorChooser* previousChooser = qdx::vfw::setCompressorChooser(&chooser);
    TAviCapture engine;
    std::vector<Event> events;
    int abortAt = -1; // index of the event whose handler sets FAbort
    int initBefore = aviFileInitCount();

    void SetUp() override {
        engine.OnExtractFramesProgress = [this](int max, int min, int value, TAviCapture* sender,
                                                bool& abort) {
            EXPECT_EQ(sender, &engine);
            EXPECT_FALSE(abort);
            events.emplace_back(max, min, value);
            if (int(events.size()) - 1 == abortAt)
                abort = true;
        };
    }
    void TearDown() override {
        qdx::vfw::setCompressorChooser(previousChooser);
        EXPECT_EQ(aviFileInitCount(), initBefore) << "the AVI layer's initialisation is balanced";
    }

    QString film(const QString& name, int frames, bool sound = false, int width = 32,
                 int height = 24) {
        FilmRecipe recipe;
        recipe.frames = frames;
        recipe.sound = sound;
        recipe.width = width;
        recipe.height = height;
        return makeFilm(dir, name, recipe);
    }

    void chooseCodec(const char* fourcc) {
        const qdx::vfw::Compressor* c =
            qdx::vfw::findCompressor(mmioFOURCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]));
        ASSERT_NE(c, nullptr) << fourcc;
        chooser.setAnswer(qdx::vfw::defaultOptions(*c));
    }
};

std::vector<Event> framed(Event framing, int from, int to, int max, int min) {
    std::vector<Event> expected = {framing};
    for (int v = from; v <= to; ++v)
        expected.emplace_back(max, min, v);
    expected.push_back(framing);
    return expected;
}

TEST_F(AviWriting, ExtractFramesWritesTheRangeWithItsEvents) {
    const QString source = film(QStringLiteral("src.avi"), 30);
    const QString target = dir.file(QStringLiteral("part.avi"));
    ASSERT_TRUE(engine.ExtractFrames(10, 19, source, target));
    EXPECT_EQ(events, framed({19, 10, 10}, 10, 19, 19, 10));
    EXPECT_EQ(chooser.timesAsked(), 1);
    EXPECT_EQ(chooser.lastFlags(), UINT(7));
    EXPECT_EQ(probeFrameCount(target), 10);
    // Uncompressed frames: the target's frames are exactly the source's frames 10 to 19.
    const QByteArray all = decodeFrames(source, 32, 24);
    const QByteArray part = decodeFrames(target, 32, 24);
    EXPECT_EQ(part, all.mid(10 * 32 * 24 * 3, 10 * 32 * 24 * 3));
}

TEST_F(AviWriting, ExcludeFramesWritesTheRestWithItsEvents) {
    const QString source = film(QStringLiteral("src.avi"), 100, false, 16, 8);
    const QString target = dir.file(QStringLiteral("rest.avi"));
    ASSERT_TRUE(engine.ExcludeFrames(0, 9, source, target));
    EXPECT_EQ(events, framed({99, 0, 0}, 10, 99, 99, 0));
    EXPECT_EQ(probeFrameCount(target), 90);
    const QByteArray all = decodeFrames(source, 16, 8);
    EXPECT_EQ(decodeFrames(target, 16, 8), all.mid(10 * 16 * 8 * 3));
}

TEST_F(AviWriting, ARangeWithoutFramesGivesAFilmWithAFormat) {
    const QString source = film(QStringLiteral("src.avi"), 5);
    const QString target = dir.file(QStringLiteral("none.avi"));
    ASSERT_TRUE(engine.ExtractFrames(3, 2, source, target));
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_EQ(probeFrameCount(target), 0);
    EXPECT_EQ(probeVideoCodec(target), QStringLiteral("rawvideo"));
}

TEST_F(AviWriting, AbortAtTheFirstEventWritesNoFrame) {
    const QString source = film(QStringLiteral("src.avi"), 5);
    const QString target = dir.file(QStringLiteral("aborted.avi"));
    abortAt = 0;
    EXPECT_FALSE(engine.ExtractFrames(0, 4, source, target));
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(probeFrameCount(target), 0);
}

// A target is put in place only when it is complete: a cancel leaves none.
TEST_F(AviWriting, CancellingTheCompressorDialogLeavesNoTarget) {
    const QString source = film(QStringLiteral("src.avi"), 5);
    const QString target = dir.file(QStringLiteral("cancelled.avi"));
    chooser.setCancel(true);
    EXPECT_FALSE(engine.ExtractFrames(0, 4, source, target));
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(AviWriting, ConcatenationJoinsFilmsInOrder) {
    const QString a = film(QStringLiteral("a.avi"), 5);
    const QString b = film(QStringLiteral("b.avi"), 7);
    const QString target = dir.file(QStringLiteral("ab.avi"));
    ASSERT_TRUE(
        engine.ConcatenateFrames({a + QStringLiteral("=5"), b + QStringLiteral("=7")}, target, 12));
    EXPECT_EQ(events, framed({12, 0, 0}, 0, 11, 12, 0));
    EXPECT_EQ(probeFrameCount(target), 12);
    EXPECT_EQ(decodeFrames(target, 32, 24), decodeFrames(a, 32, 24) + decodeFrames(b, 32, 24));
}

TEST_F(AviWriting, AMissingFilmInTheListStopsTheConcatenationWithoutATarget) {
    const QString a = film(QStringLiteral("a.avi"), 5);
    const QString target = dir.file(QStringLiteral("partial.avi"));
    EXPECT_FALSE(engine.ConcatenateFrames(
        {a + QStringLiteral("=5"), dir.file(QStringLiteral("gone.avi")) + QStringLiteral("=3")},
        target, 8));
    EXPECT_EQ(prompts.texts(QStringLiteral("error")),
              QStringList{QStringLiteral("A disk error occurred while opening the file.")});
    EXPECT_FALSE(QFileInfo::exists(target)) << "an incomplete film replaces nothing";
}

TEST_F(AviWriting, FramesOfAnotherSizeAreFittedIntoTheFirstFilmsSize) {
    const QString a = film(QStringLiteral("a.avi"), 2);
    const QString b = film(QStringLiteral("b.avi"), 2, false, 64, 24);
    const QString target = dir.file(QStringLiteral("mixed.avi"));
    ASSERT_TRUE(
        engine.ConcatenateFrames({a + QStringLiteral("=2"), b + QStringLiteral("=2")}, target, 4));
    EXPECT_EQ(probeFrameCount(target), 4);
    EXPECT_EQ(decodeFrames(target, 32, 24).size(), 4 * 32 * 24 * 3);
}

TEST_F(AviWriting, CompressedTargetsCarryTheChosenCompressor) {
    const QString source = film(QStringLiteral("src.avi"), 8);
    chooseCodec("MJPG");
    const QString target = dir.file(QStringLiteral("mjpeg.avi"));
    ASSERT_TRUE(engine.CompressFile(source, target));
    EXPECT_EQ(probeVideoCodec(target), QStringLiteral("mjpeg"));
    EXPECT_EQ(probeFrameCount(target), 8);
    // The stream header names the compressor too, not the source's raw frames.
    qdx::vfw::LibraryScope library;
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, target, OF_READ), AVIERR_OK);
    qdx::vfw::FileHandle holder(file);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    qdx::vfw::StreamHandle streamHolder(stream);
    AVISTREAMINFO info;
    ASSERT_EQ(AVIStreamInfo(stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccHandler, mmioFOURCC('M', 'J', 'P', 'G'));
}

TEST_F(AviWriting, CompressFileKeepsTheSound) {
    const QString source = film(QStringLiteral("talk.avi"), 25, true);
    chooseCodec("MJPG");
    const QString target = dir.file(QStringLiteral("talk-mjpeg.avi"));
    ASSERT_TRUE(engine.CompressFile(source, target));
    EXPECT_EQ(probeVideoCodec(target), QStringLiteral("mjpeg"));
    EXPECT_EQ(probeFrameCount(target), 25);
    EXPECT_EQ(probeAudioSamples(target), probeAudioSamples(source));
}

// A write that fails anywhere, also when the last frames and indexes reach the disk, fails the
// operation, and the target keeps what it held. Here a file-size limit stands for a full disk.
TEST_F(AviWriting, AFilmThatCannotBeWrittenWholeIsAFailureAndReplacesNothing) {
    const QString silent = film(QStringLiteral("src.avi"), 50);
    const QString talk = film(QStringLiteral("talk.avi"), 50, true);
    const QString target = dir.file(QStringLiteral("old.avi"));
    ASSERT_TRUE(writeAll(target, QByteArray("old film")));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 40 * 1024; // about fifteen of the fifty frames
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool silentDone = engine.CompressFile(silent, target);
    const bool talkDone = engine.CompressFile(talk, target);
    const bool soundDone = engine.ExtractSound(0, 49, talk, dir.file(QStringLiteral("s.wav")), 0);
    const bool excludedDone = engine.ExcludeSound(0, 0, talk, dir.file(QStringLiteral("rest.wav")));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(silentDone);
    EXPECT_FALSE(talkDone);
    EXPECT_FALSE(soundDone);
    EXPECT_FALSE(excludedDone);
    EXPECT_EQ(readAll(target), QByteArray("old film"));
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("s.wav"))));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(AviWriting, CompressFileOfAFilmThatCannotBeOpenedShowsOneError) {
    EXPECT_FALSE(engine.CompressFile(dir.file(QStringLiteral("gone.avi")),
                                     dir.file(QStringLiteral("out.avi"))));
    EXPECT_EQ(prompts.texts(QStringLiteral("error")).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("out.avi"))));
}

TEST_F(AviWriting, SoundOfAFrameRangeIncludesTheLastFramesSound) {
    const QString source = film(QStringLiteral("talk.avi"), 50, true);
    const QString wav = dir.file(QStringLiteral("part.wav"));
    ASSERT_TRUE(engine.ExtractSound(0, 24, source, wav, 0));
    // Frames 0 to 24 at 25 frames per second: samples 0 up to the sample at 1000 ms, where
    // frame 25 begins.
    EXPECT_EQ(probeAudioSamples(wav), 44100);

    const QString silent = film(QStringLiteral("silent.avi"), 5);
    const QString none = dir.file(QStringLiteral("none.wav"));
    EXPECT_FALSE(engine.ExtractSound(0, 4, silent, none, 0));
    EXPECT_FALSE(QFileInfo::exists(none));
}

TEST_F(AviWriting, ConcatenatedSoundIsTheFirstFilmsFollowedByTheSeconds) {
    const QString a = film(QStringLiteral("a.avi"), 25, true);
    const QString b = film(QStringLiteral("b.avi"), 50, true);
    const QString silent = film(QStringLiteral("s.avi"), 5);
    const QString wav = dir.file(QStringLiteral("ab.wav"));
    ASSERT_TRUE(engine.ConcatenateSound(
        {a + QStringLiteral("=25"), silent + QStringLiteral("=5"), b + QStringLiteral("=50")}, wav,
        80));
    EXPECT_EQ(events, (std::vector<Event>{{80, 0, 0}, {80, 0, 1}, {80, 0, 2}, {80, 0, 0}}));
    EXPECT_EQ(probeAudioSamples(wav), 44100 + 88200);
    const QString wa = dir.file(QStringLiteral("a.wav"));
    const QString wb = dir.file(QStringLiteral("b.wav"));
    ASSERT_TRUE(engine.ExtractSound(0, 25, a, wa, 0));
    ASSERT_TRUE(engine.ExtractSound(0, 50, b, wb, 0));
    // The joined data is A's samples, then B's: compare the data chunks' bytes.
    const QByteArray joined = readAll(wav);
    const QByteArray pa = readAll(wa);
    const QByteArray pb = readAll(wb);
    ASSERT_GT(pa.size(), 44 + 88200 - 1);
    EXPECT_TRUE(joined.endsWith(pb.right(88200 * 2)));
    EXPECT_NE(joined.indexOf(pa.right(44100 * 2)), -1);
}

TEST_F(AviWriting, ExcludedSoundMatchesTheRemovedFramesExactly) {
    const QString source = film(QStringLiteral("talk.avi"), 50, true);
    const QString wav = dir.file(QStringLiteral("rest.wav"));
    ASSERT_TRUE(engine.ExcludeSound(0, 9, source, wav));
    // Ten frames at 25 frames per second are 400 ms: 17640 samples of 88200 go.
    EXPECT_EQ(probeAudioSamples(wav), 88200 - 17640);
}

TEST_F(AviWriting, TargetsThatCannotBeCreatedRaise) {
    const QString source = film(QStringLiteral("src.avi"), 3);
    try {
        engine.ExtractFrames(0, 2, source, dir.file(QStringLiteral("no/such/folder/x.avi")));
        FAIL() << "expected an exception";
    } catch (const qdx::Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Falhou ao criar arquivo AVI."));
    }
}

// Decoded films are recompressed on two threads, the decoder's pictures handed to the compressor
// without DIBs: Motion JPEG into Motion JPEG (4:2:2 chroma made 4:2:0), MPEG-4 with B-frames
// into MPEG-4 (the pictures as they are), Motion JPEG into HuffYUV (one conversion into its RGB).
// The events come in order; every frame is in its place and at least as close to the source
// (ffmpeg's decode) as through DIBs, which the same films take with the hand-over switched off;
// through a lossless compressor both ways give the same pixels.
TEST_F(AviWriting, DecodedFilmsAreRecompressedFromTheirPicturesAtLeastAsCloseToTheSource) {
    struct Case {
        const char* codec;
        const char* pixels;
        QStringList extra;
        const char* fourcc;
        double gain; // dB the hand-over gains at least (on average) over the DIBs
    };
    const Case cases[] = {
        {"mjpeg", "yuvj420p", {QStringLiteral("-q:v"), QStringLiteral("3")}, "MJPG", 1.0},
        {"mjpeg", "yuvj422p", {QStringLiteral("-q:v"), QStringLiteral("3")}, "MJPG", 0.1},
        {"mpeg4",
         "yuv420p",
         {QStringLiteral("-bf"), QStringLiteral("2"), QStringLiteral("-g"), QStringLiteral("5"),
          QStringLiteral("-q:v"), QStringLiteral("4")},
         "XVID",
         1.0},
        {"mjpeg", "yuvj420p", {QStringLiteral("-q:v"), QStringLiteral("3")}, "HFYU", 0.0},
    };
    const int width = 64;
    const int height = 48;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fourcc) + " from " + c.pixels);
        FilmRecipe recipe;
        recipe.width = width;
        recipe.height = height;
        recipe.frames = 14;
        recipe.codec = QString::fromLatin1(c.codec);
        recipe.pixelFormat = QString::fromLatin1(c.pixels);
        recipe.extra = c.extra;
        const QString name =
            QStringLiteral("%1-%2").arg(QLatin1String(c.fourcc), QLatin1String(c.pixels));
        const QString source = makeFilm(dir, QStringLiteral("src-%1.avi").arg(name), recipe);
        chooseCodec(c.fourcc);
        const QString handedOver = dir.file(QStringLiteral("yuv-%1.avi").arg(name));
        const QString viaDibs = dir.file(QStringLiteral("dib-%1.avi").arg(name));
        events.clear();
        ASSERT_TRUE(engine.ExtractFrames(2, 13, source, handedOver));
        EXPECT_EQ(events, framed({13, 2, 2}, 2, 13, 13, 2));
        qdx::vfw::setYuvRecompression(false);
        const bool dibsDone = engine.ExtractFrames(2, 13, source, viaDibs);
        qdx::vfw::setYuvRecompression(true);
        ASSERT_TRUE(dibsDone);

        EXPECT_EQ(decodeComplaints(handedOver), QByteArray());
        const std::vector<QByteArray> original = decodedPictures(source, width, height);
        const std::vector<QByteArray> yuv = decodedPictures(handedOver, width, height);
        const std::vector<QByteArray> dib = decodedPictures(viaDibs, width, height);
        ASSERT_EQ(original.size(), 14u);
        ASSERT_EQ(yuv.size(), 12u);
        ASSERT_EQ(dib.size(), 12u);
        double yuvSum = 0;
        double dibSum = 0;
        for (size_t i = 0; i < 12; ++i) {
            const double yuvPsnr = qdx::vfw::test::psnr(yuv[i], original[i + 2]);
            const double dibPsnr = qdx::vfw::test::psnr(dib[i], original[i + 2]);
            // A frame out of its place would be far from the source's frame there.
            EXPECT_GT(yuvPsnr, 30) << "frame " << i;
            EXPECT_GE(yuvPsnr + 0.5, dibPsnr) << "frame " << i;
            yuvSum += std::min(yuvPsnr, 100.0);
            dibSum += std::min(dibPsnr, 100.0);
        }
        EXPECT_GE(yuvSum / 12, dibSum / 12 + c.gain)
            << yuvSum / 12 << " dB against " << dibSum / 12;
        if (c.gain == 0.0) {
            EXPECT_EQ(yuv, dib);
        }
    }
}

// A recompression stopped half way, from its progress event or by a write that fails (a file-size
// limit stands for a full disk), stops both threads, fails, and leaves no target and no partial
// file; the events stop at the one that cancelled.
TEST_F(AviWriting, ARecompressionStoppedHalfWayLeavesNoTarget) {
    FilmRecipe recipe;
    recipe.width = 160;
    recipe.height = 120;
    recipe.frames = 40;
    recipe.codec = QStringLiteral("mjpeg");
    recipe.pixelFormat = QStringLiteral("yuvj420p");
    const QString source = makeFilm(dir, QStringLiteral("src.avi"), recipe);
    const QString target = dir.file(QStringLiteral("stopped.avi"));
    chooseCodec("MJPG");
    abortAt = 10;
    EXPECT_FALSE(engine.ExtractFrames(0, 39, source, target));
    EXPECT_EQ(events.size(), 11u);
    EXPECT_EQ(events.back(), Event(39, 0, 9));

    abortAt = -1;
    events.clear();
    chooseCodec("HFYU"); // about 30 KB a frame
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 300 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool written = engine.ExtractFrames(0, 39, source, target);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_LT(events.size(), 40u);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("src.avi")});
}

} // namespace
