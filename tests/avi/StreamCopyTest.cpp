// Direct stream copy through the editing operations: every target decodes cleanly in ffmpeg, holds
// exactly the frames asked for with their sound, and its frames are the source's stored frames bit
// for bit, except the few re-encoded between key frames at a cut, which stay within 40 dB of the
// source.

#include "platform/vfw/StreamCopy.h"
#include "avi/TAviCapture.h"
#include "platform/core/AppFolder.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using namespace qdx::test;

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kFrames = 60;
constexpr qint64 kSamplesPerFrame = 44100 / 25;

struct CodecCase {
    const char* name;
    const char* codec;
    const char* pixelFormat;
    int quantiser;
    int bFrames;
    // At most this many frames of a cut are re-encoded (0: every frame is a key frame).
    int reencodedAtMost;
};

void PrintTo(const CodecCase& c, std::ostream* out) {
    *out << c.name;
}

// An engine whose compressor dialog answers "Direct stream copy", in a folder of its own.
class StreamCopyEngine {
protected:
    TempDir dir;
    TempDir appFolder;
    ScriptedPrompts prompts;
    qdx::vfw::PresetCompressorChooser chooser{
        qdx::vfw::defaultOptions(qdx::vfw::streamCopyCompressor())};
    qdx::vfw::CompressorChooser* previousChooser = qdx::vfw::setCompressorChooser(&chooser);
    TAviCapture engine;

    StreamCopyEngine() { qdx::setApplicationFolder(appFolder.path()); }
    ~StreamCopyEngine() { qdx::vfw::setCompressorChooser(previousChooser); }
    // A film with sound, a key frame every 12 frames.
    QString film(const QString& name, const QString& codec, const QString& pixels, int frames,
                 int width = kWidth, int bFrames = 0, int quantiser = 0,
                 std::vector<int> dropped = {}) {
        FilmRecipe recipe;
        recipe.width = width;
        recipe.height = kHeight;
        recipe.frames = frames;
        recipe.sound = true;
        recipe.codec = codec;
        recipe.pixelFormat = pixels;
        recipe.bFrames = bFrames;
        recipe.quantiser = quantiser;
        recipe.dropped = std::move(dropped);
        return makeFilm(dir, name, recipe);
    }
};

class StreamCopy : public StreamCopyEngine, public ::testing::TestWithParam<CodecCase> {
protected:
    QString source;
    QStringList sourceMd5s;
    std::vector<QByteArray> sourcePictures;

    void SetUp() override {
        source = film(QStringLiteral("source.avi"), QString::fromLatin1(GetParam().codec),
                      QString::fromLatin1(GetParam().pixelFormat), kFrames, kWidth,
                      GetParam().bFrames, GetParam().quantiser);
        sourceMd5s = frameMd5s(source);
        sourcePictures = ffmpegPictures(source, kWidth, kHeight);
        ASSERT_EQ(sourceMd5s.size(), kFrames);
        ASSERT_EQ(int(sourcePictures.size()), kFrames);
    }
    // The target holds exactly the source's frames `frames`, in order, with their sound; it
    // decodes without a complaint; frames not stored bit for bit are few and close.
    void expectFrames(const QString& target, const std::vector<int>& frames) {
        SCOPED_TRACE(target.toStdString());
        EXPECT_EQ(decodeComplaints(target), QByteArray());
        EXPECT_EQ(probeFrameCount(target), int(frames.size()));
        EXPECT_EQ(probeAudioSamples(target), qint64(frames.size()) * kSamplesPerFrame);
        const QStringList md5s = frameMd5s(target);
        const std::vector<QByteArray> pictures = ffmpegPictures(target, kWidth, kHeight);
        ASSERT_EQ(md5s.size(), qsizetype(frames.size()));
        ASSERT_EQ(pictures.size(), frames.size());
        int reencoded = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            if (md5s[qsizetype(i)] == sourceMd5s[frames[i]])
                continue;
            ++reencoded;
            EXPECT_GE(qdx::test::psnr(pictures[i], sourcePictures[size_t(frames[i])]), 40.0)
                << "frame " << frames[i];
        }
        // At most a group at each cut is re-encoded; the rest is the source's own samples.
        EXPECT_LE(reencoded, 2 * GetParam().reencodedAtMost);
    }
    static std::vector<int> range(int first, int last) {
        std::vector<int> out;
        for (int i = first; i <= last; ++i)
            out.push_back(i);
        return out;
    }
};

TEST_P(StreamCopy, CopyRemoveSplitAndJoinCutAtTheExactFrames) {
    // A range that starts and ends between key frames.
    const QString copy = dir.file(QStringLiteral("copy.avi"));
    engine.CopySelection(true, 7, 40, source, copy);
    expectFrames(copy, range(7, 40));

    // The film resumes between key frames after the removed range.
    const QString removed = dir.file(QStringLiteral("removed.avi"));
    engine.RemoveSelection(true, 13, 50, source, removed);
    std::vector<int> kept = range(0, 12);
    for (int i : range(51, kFrames - 1))
        kept.push_back(i);
    expectFrames(removed, kept);

    // Parts, and the parts joined again: the whole film.
    engine.SplitFilm(true, 0, kFrames - 1, 3, source, dir.file(QStringLiteral("part.avi")));
    QStringList parts;
    for (int k = 1; k <= 3; ++k) {
        const QString part = TAviCapture::SplitPartName(dir.file(QStringLiteral("part.avi")), k);
        expectFrames(part, range((k - 1) * 20, k * 20 - 1));
        parts.append(part + QStringLiteral("=20"));
    }
    const QString joined = dir.file(QStringLiteral("joined.avi"));
    engine.JoinFilms(true, parts, joined, kFrames);
    expectFrames(joined, range(0, kFrames - 1));

    // The video is never recompressed: same codec as the source, and no question was asked.
    EXPECT_EQ(probeVideoCodec(joined), probeVideoCodec(source));
    EXPECT_TRUE(prompts.asked.empty()) << prompts.asked.front().text.toStdString();
    EXPECT_TRUE(QDir(appFolder.path()).entryList({QStringLiteral("tmp_*")}, QDir::Files).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, StreamCopy,
    ::testing::Values(CodecCase{"MotionJpeg", "mjpeg", "yuvj420p", 3, 0, 0},
                      CodecCase{"Mpeg4WithBFrames", "mpeg4", "yuv420p", 3, 2, 12},
                      CodecCase{"H264WithBFrames", "libx264", "yuv420p", 0, 2, 12},
                      CodecCase{"Uncompressed", "rawvideo", "bgr24", 0, 0, 0}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

class StreamCopyLimits : public StreamCopyEngine, public ::testing::Test {};

// A codec without an encoder that can stand beside its samples (FFV1 with key frames every 12
// frames) cannot cut between key frames: the user is told first, and picture and sound start at
// the key frame before.
TEST_F(StreamCopyLimits, WithoutAnEncoderTheCopyStartsAtTheKeyFrameBefore) {
    const QString source =
        film(QStringLiteral("ffv1.avi"), QStringLiteral("ffv1"), QStringLiteral("yuv420p"), 30);
    const QStringList md5s = frameMd5s(source);
    const QString target = dir.file(QStringLiteral("cut.avi"));
    engine.CopySelection(true, 15, 25, source, target);
    EXPECT_EQ(prompts.texts(QStringLiteral("information")),
              QStringList{QStringLiteral("The copy starts at frame 13, the key frame before the "
                                         "selection.")});
    EXPECT_EQ(decodeComplaints(target), QByteArray());
    EXPECT_EQ(frameMd5s(target), md5s.mid(12, 14));
    EXPECT_EQ(probeAudioSamples(target), 14 * kSamplesPerFrame);
}

// A dropped frame is an empty sample: it is copied as one, keeps its position (and the sound its
// time), and the merge with the sound copies it too.
TEST_F(StreamCopyLimits, ADroppedFrameStaysAnEmptySample) {
    const QString source = film(QStringLiteral("gap.avi"), QStringLiteral("mjpeg"),
                                QStringLiteral("yuvj420p"), 30, kWidth, 0, 0, {5});
    ASSERT_TRUE(engine.ReadFileInfo(source));
    ASSERT_EQ(engine.Frames, 30);
    ASSERT_EQ(probeFrameCount(source), 29);
    const QString target = dir.file(QStringLiteral("cut.avi"));
    engine.RemoveSelection(true, 10, 20, source, target);
    ASSERT_TRUE(engine.ReadFileInfo(target));
    EXPECT_EQ(engine.Frames, 19);
    EXPECT_EQ(probeFrameCount(target), 18);
    EXPECT_EQ(probeAudioSamples(target), 19 * kSamplesPerFrame);
    EXPECT_EQ(decodeComplaints(target), QByteArray());
}

// A copy stopped from its progress events, at its start or half way through, leaves no target and
// no partial file; the events run over the frames written.
TEST_F(StreamCopyLimits, AStoppedCopyLeavesNothing) {
    const QString source = film(QStringLiteral("h264.avi"), QStringLiteral("libx264"),
                                QStringLiteral("yuv420p"), 30, kWidth, 2);
    const QString target = dir.file(QStringLiteral("cut.avi"));
    std::vector<int> values;
    int stopAt = 0;
    engine.OnExtractFramesProgress = [&](int max, int min, int value, TAviCapture*, bool& abort) {
        EXPECT_EQ(max, 25);
        EXPECT_EQ(min, 5);
        values.push_back(value);
        abort = int(values.size()) == stopAt;
    };
    for (int stop : {1, 12}) {
        values.clear();
        stopAt = stop;
        EXPECT_FALSE(engine.ExtractFrames(5, 25, source, target));
        EXPECT_EQ(int(values.size()), stop);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("h264.avi")});
    }
    stopAt = 0;
    values.clear();
    EXPECT_TRUE(engine.ExtractFrames(5, 25, source, target));
    ASSERT_EQ(values.size(), size_t(23)); // the first event, one per frame, the last
    EXPECT_EQ(values.front(), 5);
    EXPECT_EQ(values.back(), 5);
    EXPECT_EQ(probeFrameCount(target), 21);
}

// Films whose video formats differ are not joined by copying: the message names the first film
// that differs, and nothing is written.
TEST_F(StreamCopyLimits, AJoinOfDifferentFormatsNamesTheFilmAndWritesNothing) {
    const QString a =
        film(QStringLiteral("a.avi"), QStringLiteral("mjpeg"), QStringLiteral("yuvj420p"), 30);
    const QString b = film(QStringLiteral("b.avi"), QStringLiteral("mjpeg"),
                           QStringLiteral("yuvj420p"), 30, kWidth * 2);
    const QString c =
        film(QStringLiteral("c.avi"), QStringLiteral("rawvideo"), QStringLiteral("bgr24"), 30);
    const QString target = dir.file(QStringLiteral("joined.avi"));
    engine.JoinFilms(true,
                     {a + QStringLiteral("=30"), a + QStringLiteral("=30"),
                      b + QStringLiteral("=30"), c + QStringLiteral("=30")},
                     target, 120);
    const QStringList errors = prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(b + QStringLiteral(" cannot follow ") + a))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("192x64"))) << errors[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

} // namespace
