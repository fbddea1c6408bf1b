#include "avi/TAviCapture.h"
#include "platform/core/Exception.h"
#include "platform/vfw/CompressorChooser.h"
#include "platform/vfw/RecompressPipeline.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <numeric>
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
    const QByteArray all = joined(ffmpegPictures(source, 32, 24));
    const QByteArray part = joined(ffmpegPictures(target, 32, 24));
    EXPECT_EQ(part, all.mid(10 * 32 * 24 * 3, 10 * 32 * 24 * 3));
}

TEST_F(AviWriting, ExcludeFramesWritesTheRestWithItsEvents) {
    const QString source = film(QStringLiteral("src.avi"), 100, false, 16, 8);
    const QString target = dir.file(QStringLiteral("rest.avi"));
    ASSERT_TRUE(engine.ExcludeFrames(0, 9, source, target));
    EXPECT_EQ(events, framed({99, 0, 0}, 10, 99, 99, 0));
    EXPECT_EQ(probeFrameCount(target), 90);
    const QByteArray all = joined(ffmpegPictures(source, 16, 8));
    EXPECT_EQ(joined(ffmpegPictures(target, 16, 8)), all.mid(10 * 16 * 8 * 3));
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
    EXPECT_EQ(joined(ffmpegPictures(target, 32, 24)),
              joined(ffmpegPictures(a, 32, 24)) + joined(ffmpegPictures(b, 32, 24)));
}

TEST_F(AviWriting, AMissingFilmInTheListStopsTheConcatenationWithoutATarget) {
    const QString a = film(QStringLiteral("a.avi"), 5);
    const QString target = dir.file(QStringLiteral("partial.avi"));
    const QStringList films{a + QStringLiteral("=5"),
                            dir.file(QStringLiteral("gone.avi")) + QStringLiteral("=3")};
    EXPECT_FALSE(engine.ConcatenateFrames(films, target, 8));
    // The reason goes to the caller, naming the film; nothing is shown.
    const FilmOutcome outcome = engine.JoinFilms(false, films, target, 8);
    EXPECT_EQ(outcome.kind, FilmOutcome::Failed);
    EXPECT_EQ(outcome.reason, QStringLiteral("A disk error occurred while opening the file.\r"
                                             "Arquivo: ") +
                                  dir.file(QStringLiteral("gone.avi")));
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_FALSE(QFileInfo::exists(target)) << "an incomplete film replaces nothing";
}

TEST_F(AviWriting, FramesOfAnotherSizeAreFittedIntoTheFirstFilmsSize) {
    const QString a = film(QStringLiteral("a.avi"), 2);
    const QString b = film(QStringLiteral("b.avi"), 2, false, 64, 24);
    const QString target = dir.file(QStringLiteral("mixed.avi"));
    ASSERT_TRUE(
        engine.ConcatenateFrames({a + QStringLiteral("=2"), b + QStringLiteral("=2")}, target, 4));
    EXPECT_EQ(probeFrameCount(target), 4);
    EXPECT_EQ(joined(ffmpegPictures(target, 32, 24)).size(), 4 * 32 * 24 * 3);
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
    const FilmOutcome copied = engine.CopySelection(false, 0, 49, silent, target);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(silentDone);
    EXPECT_FALSE(talkDone);
    EXPECT_FALSE(soundDone);
    EXPECT_FALSE(excludedDone);
    // The editing operations say why, naming the film.
    EXPECT_EQ(copied.kind, FilmOutcome::Failed);
    EXPECT_TRUE(copied.reason.contains(target)) << copied.reason.toStdString();
    EXPECT_TRUE(copied.reason.contains(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << copied.reason.toStdString();
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
    // The film without sound stands in as silence as long as its 5 frames.
    EXPECT_EQ(probeAudioSamples(wav), 44100 + 8820 + 88200);
    const QString wa = dir.file(QStringLiteral("a.wav"));
    const QString wb = dir.file(QStringLiteral("b.wav"));
    ASSERT_TRUE(engine.ExtractSound(0, 25, a, wa, 0));
    ASSERT_TRUE(engine.ExtractSound(0, 50, b, wb, 0));
    // The joined data is A's samples, then B's: compare the data chunks' bytes.
    const QByteArray joined = readAll(wav);
    const QByteArray pa = readAll(wa);
    const QByteArray pb = readAll(wb);
    ASSERT_GT(pa.size(), 44 + 88200 - 1);
    EXPECT_TRUE(joined.endsWith(QByteArray(8820 * 2, '\0') + pb.right(88200 * 2)));
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
        int quantiser;
        int bFrames;
        const char* fourcc;
        double gain; // dB the hand-over gains at least (on average) over the DIBs
    };
    const Case cases[] = {
        {"mjpeg", "yuvj420p", 3, 0, "MJPG", 1.0},
        {"mjpeg", "yuvj422p", 3, 0, "MJPG", 0.1},
        {"mpeg4", "yuv420p", 4, 2, "XVID", 1.0},
        {"mjpeg", "yuvj420p", 3, 0, "HFYU", 0.0},
    };
    const int width = 64;
    const int height = 48;
    // Both ways go through the codecs here, not around them.
    qdx::vfw::setCoefficientRecompression(false);
    struct Restore {
        ~Restore() { qdx::vfw::setCoefficientRecompression(true); }
    } restore;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fourcc) + " from " + c.pixels);
        FilmRecipe recipe;
        recipe.width = width;
        recipe.height = height;
        recipe.frames = 14;
        recipe.codec = QString::fromLatin1(c.codec);
        recipe.pixelFormat = QString::fromLatin1(c.pixels);
        recipe.quantiser = c.quantiser;
        recipe.bFrames = c.bFrames;
        recipe.keyFrameEvery = 5;
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
        const std::vector<QByteArray> original = ffmpegPictures(source, width, height);
        const std::vector<QByteArray> yuv = ffmpegPictures(handedOver, width, height);
        const std::vector<QByteArray> dib = ffmpegPictures(viaDibs, width, height);
        ASSERT_EQ(original.size(), 14u);
        ASSERT_EQ(yuv.size(), 12u);
        ASSERT_EQ(dib.size(), 12u);
        double yuvSum = 0;
        double dibSum = 0;
        for (size_t i = 0; i < 12; ++i) {
            const double yuvPsnr = qdx::test::psnr(yuv[i], original[i + 2]);
            const double dibPsnr = qdx::test::psnr(dib[i], original[i + 2]);
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

namespace {

double meanPsnr(const std::vector<QByteArray>& pictures, const std::vector<QByteArray>& original) {
    double sum = 0;
    for (size_t i = 0; i < pictures.size() && i < original.size(); ++i)
        sum += std::min(qdx::test::psnr(pictures[i], original[i]), 100.0);
    return pictures.empty() ? 0 : sum / double(pictures.size());
}

// The stored size of every video sample of a film.
std::vector<LONG> sampleSizes(const QString& film) {
    qdx::vfw::LibraryScope library;
    PAVIFILE file = nullptr;
    std::vector<LONG> sizes;
    if (AVIFileOpen(&file, film, OF_READ) != AVIERR_OK)
        return sizes;
    qdx::vfw::FileHandle holder(file);
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK)
        return sizes;
    qdx::vfw::StreamHandle streamHolder(stream);
    for (LONG i = AVIStreamStart(stream); i < AVIStreamStart(stream) + AVIStreamLength(stream);
         ++i) {
        LONG bytes = -1;
        AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr);
        sizes.push_back(bytes);
    }
    return sizes;
}

} // namespace

// Motion JPEG recompressed to Motion JPEG at a fixed quality is requantised from the stored
// samples, not decoded: at the source's own quantiser the pictures come out exactly as the
// source's, at a much lower quality at least as close to the source as through pixels; the
// sound is kept and ffmpeg reads every frame cleanly. Samples the transcoder cannot take (4:2:2)
// are decoded and encoded, also one by one between transcoded ones, where the encoder's frame
// threads give their samples late and the transcoded ones wait their turn; a dropped frame's
// empty sample stays empty. A data rate (the quantiser varies) keeps the pixel path.
TEST_F(AviWriting, MotionJpegIsRecompressedFromItsCoefficientsAtLeastAsCloseToTheSource) {
    const int width = 160;
    const int height = 120;
    FilmRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = 20;
    recipe.sound = true;
    recipe.codec = QStringLiteral("mjpeg");
    recipe.pixelFormat = QStringLiteral("yuvj420p");
    recipe.quantiser = 3;
    const QString source = makeFilm(dir, QStringLiteral("src420.avi"), recipe);
    const std::vector<QByteArray> original = ffmpegPictures(source, width, height);
    ASSERT_EQ(original.size(), 20u);
    auto choose = [&](DWORD quality, DWORD bytesPerSecond = 0) {
        AVICOMPRESSOPTIONS o =
            qdx::vfw::defaultOptions(*qdx::vfw::findCompressor(mmioFOURCC('M', 'J', 'P', 'G')));
        o.dwQuality = quality;
        if (bytesPerSecond) {
            o.dwFlags |= AVICOMPRESSF_DATARATE;
            o.dwBytesPerSecond = bytesPerSecond;
        }
        chooser.setAnswer(o);
    };
    // Compresses `from`; the samples transcoded on the way through `transcoded`.
    auto compress = [&](const QString& from, const QString& to, int64_t* transcoded) {
        const int64_t before = qdx::vfw::coefficientRecompressedSamples();
        const bool done = engine.CompressFile(from, to);
        *transcoded = qdx::vfw::coefficientRecompressedSamples() - before;
        return done;
    };

    // 9400 is the source's quantiser 3; 5000 is quantiser 16.
    for (const DWORD quality : {DWORD(9400), DWORD(5000)}) {
        SCOPED_TRACE(quality);
        choose(quality);
        const QString coefficients = dir.file(QStringLiteral("coef-%1.avi").arg(quality));
        const QString pixels = dir.file(QStringLiteral("pixels-%1.avi").arg(quality));
        int64_t transcoded = 0;
        ASSERT_TRUE(compress(source, coefficients, &transcoded));
        EXPECT_EQ(transcoded, 20);
        qdx::vfw::setCoefficientRecompression(false);
        const bool pixelsDone = compress(source, pixels, &transcoded);
        qdx::vfw::setCoefficientRecompression(true);
        ASSERT_TRUE(pixelsDone);
        EXPECT_EQ(transcoded, 0);

        EXPECT_EQ(probeFrameCount(coefficients), 20);
        EXPECT_EQ(decodeComplaints(coefficients), QByteArray());
        EXPECT_EQ(probeAudioSamples(coefficients), probeAudioSamples(source));
        const std::vector<QByteArray> fromCoefficients =
            ffmpegPictures(coefficients, width, height);
        const std::vector<QByteArray> fromPixels = ffmpegPictures(pixels, width, height);
        ASSERT_EQ(fromCoefficients.size(), 20u);
        ASSERT_EQ(fromPixels.size(), 20u);
        // Frame by frame too: a frame out of its place would be far from the source's there.
        for (size_t i = 0; i < 20; ++i)
            EXPECT_GE(qdx::test::psnr(fromCoefficients[i], original[i]),
                      qdx::test::psnr(fromPixels[i], original[i]) - 0.5)
                << i;
        const double coefficientPsnr = meanPsnr(fromCoefficients, original);
        const double pixelPsnr = meanPsnr(fromPixels, original);
        EXPECT_GE(coefficientPsnr, pixelPsnr - 0.05)
            << coefficientPsnr << " dB against " << pixelPsnr;
        if (quality == 9400) {
            EXPECT_EQ(fromCoefficients, original) << "the same tables keep every coefficient";
            const double ratio =
                double(QFileInfo(coefficients).size()) / double(QFileInfo(pixels).size());
            EXPECT_NEAR(ratio, 1.0, 0.03);
        } else {
            auto bytes = [](const QString& film) {
                const std::vector<LONG> sizes = sampleSizes(film);
                return std::accumulate(sizes.begin(), sizes.end(), int64_t(0));
            };
            EXPECT_LT(bytes(coefficients), bytes(source) / 2);
        }
    }

    // 4:2:2 takes the pixel path; so does a data rate.
    recipe.pixelFormat = QStringLiteral("yuvj422p");
    recipe.sound = false;
    recipe.frames = 12;
    const QString source422 = makeFilm(dir, QStringLiteral("src422.avi"), recipe);
    choose(9400);
    int64_t transcoded = -1;
    const QString from422 = dir.file(QStringLiteral("from422.avi"));
    ASSERT_TRUE(compress(source422, from422, &transcoded));
    EXPECT_EQ(transcoded, 0);
    EXPECT_EQ(probeFrameCount(from422), 12);
    EXPECT_EQ(decodeComplaints(from422), QByteArray());
    EXPECT_GT(
        meanPsnr(ffmpegPictures(from422, width, height), ffmpegPictures(source422, width, height)),
        30);
    choose(9400, 20000);
    const QString rated = dir.file(QStringLiteral("rated.avi"));
    ASSERT_TRUE(compress(source, rated, &transcoded));
    EXPECT_EQ(transcoded, 0);
    EXPECT_EQ(probeFrameCount(rated), 20);
    EXPECT_EQ(decodeComplaints(rated), QByteArray());
    EXPECT_GT(meanPsnr(ffmpegPictures(rated, width, height), original), 20);

    // A film of 4:2:0 samples (even frames) and 4:2:2 ones (odd frames), frame 5 dropped, frame
    // 8 cut short (libjpeg warns: that sample goes through the decoder, which conceals the rest).
    const QString mixed = dir.file(QStringLiteral("mixed.avi"));
    {
        qdx::vfw::LibraryScope library;
        PAVIFILE in420 = nullptr;
        PAVIFILE in422 = nullptr;
        PAVIFILE out = nullptr;
        ASSERT_EQ(AVIFileOpen(&in420, source, OF_READ), AVIERR_OK);
        qdx::vfw::FileHandle h420(in420);
        ASSERT_EQ(AVIFileOpen(&in422, source422, OF_READ), AVIERR_OK);
        qdx::vfw::FileHandle h422(in422);
        PAVISTREAM s420 = nullptr;
        PAVISTREAM s422 = nullptr;
        ASSERT_EQ(AVIFileGetStream(in420, &s420, streamtypeVIDEO, 0), AVIERR_OK);
        qdx::vfw::StreamHandle hs420(s420);
        ASSERT_EQ(AVIFileGetStream(in422, &s422, streamtypeVIDEO, 0), AVIERR_OK);
        qdx::vfw::StreamHandle hs422(s422);
        ASSERT_EQ(AVIFileOpen(&out, mixed, OF_CREATE | OF_WRITE), AVIERR_OK);
        qdx::vfw::FileHandle hout(out);
        AVISTREAMINFO info;
        ASSERT_EQ(AVIStreamInfo(s420, &info, sizeof info), AVIERR_OK);
        info.dwLength = 0;
        PAVISTREAM target = nullptr;
        ASSERT_EQ(AVIFileCreateStream(out, &target, &info), AVIERR_OK);
        qdx::vfw::StreamHandle htarget(target);
        LONG formatSize = 0;
        ASSERT_EQ(AVIStreamReadFormat(s420, 0, nullptr, &formatSize), AVIERR_OK);
        std::vector<uint8_t> format(static_cast<size_t>(formatSize));
        ASSERT_EQ(AVIStreamReadFormat(s420, 0, format.data(), &formatSize), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(target, 0, format.data(), formatSize), AVIERR_OK);
        std::vector<uint8_t> sample(1 << 20);
        for (LONG i = 0; i < 12; ++i) {
            LONG bytes = 0;
            ASSERT_EQ(AVIStreamRead(i % 2 ? s422 : s420, i, 1, sample.data(), LONG(sample.size()),
                                    &bytes, nullptr),
                      AVIERR_OK);
            ASSERT_EQ(AVIStreamWrite(target, i, 1, sample.data(),
                                     i == 5 ? 0 : (i == 8 ? bytes / 2 : bytes),
                                     i == 5 ? 0 : AVIIF_KEYFRAME, nullptr, nullptr),
                      AVIERR_OK);
        }
    }
    choose(9400);
    const QString fromMixed = dir.file(QStringLiteral("from-mixed.avi"));
    ASSERT_TRUE(compress(mixed, fromMixed, &transcoded));
    EXPECT_EQ(transcoded, 6); // five whole 4:2:0 samples and the empty one
    EXPECT_EQ(decodeComplaints(fromMixed), QByteArray());
    const std::vector<LONG> sizes = sampleSizes(fromMixed);
    ASSERT_EQ(sizes.size(), 12u);
    for (size_t i = 0; i < 12; ++i)
        EXPECT_EQ(sizes[i] == 0, i == 5) << i;
    const std::vector<QByteArray> fromMixedPictures = ffmpegPictures(fromMixed, width, height);
    ASSERT_EQ(fromMixedPictures.size(), 11u);
    for (size_t i = 0, picture = 0; i < 12; ++i) {
        if (i == 5)
            continue;
        // Each frame in its place: close to that frame of the source, exactly it when transcoded.
        if (i != 8) {
            EXPECT_GT(qdx::test::psnr(fromMixedPictures[picture], original[i]), 30) << i;
        }
        if (i % 2 == 0 && i != 8) {
            EXPECT_EQ(fromMixedPictures[picture], original[i]) << i;
        }
        ++picture;
    }
}

// A recompression stopped half way, from its progress event or by a write that fails (a file-size
// limit stands for a full disk), stops both threads, fails, and leaves no target and no partial
// file; the events stop at the one that cancelled.
TEST_F(AviWriting, ARecompressionStoppedHalfWayLeavesNoTarget) {
    FilmRecipe recipe;
    recipe.width = 640;
    recipe.height = 480;
    recipe.frames = 40;
    recipe.codec = QStringLiteral("mjpeg");
    recipe.pixelFormat = QStringLiteral("yuvj420p");
    const QString source = makeFilm(dir, QStringLiteral("src.avi"), recipe);
    const QString target = dir.file(QStringLiteral("stopped.avi"));
    chooseCodec("MJPG");
    abortAt = 10;
    const int64_t transcodedBefore = qdx::vfw::coefficientRecompressedSamples();
    EXPECT_FALSE(engine.ExtractFrames(0, 39, source, target));
    EXPECT_EQ(events.size(), 11u);
    // Motion JPEG into Motion JPEG: the transcoding workers were the ones stopped.
    EXPECT_GE(qdx::vfw::coefficientRecompressedSamples() - transcodedBefore, 10);
    EXPECT_EQ(events.back(), Event(39, 0, 9));

    abortAt = -1;
    chooseCodec("HFYU");
    // The whole film's size, then a limit at a third of it.
    ASSERT_TRUE(engine.ExtractFrames(0, 39, source, target));
    const qint64 whole = QFileInfo(target).size();
    ASSERT_TRUE(QFile::remove(target));
    events.clear();
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = rlim_t(whole / 3);
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
