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
public:
    static std::vector<int> range(int first, int last) {
        std::vector<int> out;
        for (int i = first; i <= last; ++i)
            out.push_back(i);
        return out;
    }

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

// Sources as real encoders write them, each cut at ranges that start and end at every kind of
// picture it holds.
struct EncoderCase {
    const char* name;
    QStringList video; // ffmpeg's video options
    // Where the copy may start without earlier pictures: at its key frames (false: the first
    // frame only, as in open groups, whose later key frames are recovery points).
    bool startsAtKeys;
    // Whether the cuts are re-encoded between key frames (false: they move to key frames).
    bool bridged;
    // What the message of a moved cut gives as the reason (empty: no encoder, no reason).
    const char* reason = "";
};

void PrintTo(const EncoderCase& c, std::ostream* out) {
    *out << c.name;
}

class StreamCopyMatrix : public StreamCopyEngine, public ::testing::TestWithParam<EncoderCase> {
protected:
    static constexpr int kMatrixFrames = 60;
    static constexpr int kMatrixWidth = 160;
    static constexpr int kMatrixHeight = 96;
    QString source;
    QString kinds;
    QStringList sourceMd5s;
    std::vector<QByteArray> sourcePictures;

    void SetUp() override {
        source = dir.file(QStringLiteral("source.avi"));
        const QString seconds = QString::number(kMatrixFrames / 25.0);
        QStringList args = {QStringLiteral("-f"),
                            QStringLiteral("lavfi"),
                            QStringLiteral("-i"),
                            QStringLiteral("testsrc2=size=%1x%2:rate=25,fade=in:0:20")
                                .arg(kMatrixWidth)
                                .arg(kMatrixHeight),
                            QStringLiteral("-f"),
                            QStringLiteral("lavfi"),
                            QStringLiteral("-i"),
                            QStringLiteral("sine=frequency=440:sample_rate=44100"),
                            QStringLiteral("-t"),
                            seconds};
        args << GetParam().video << QStringLiteral("-c:a") << QStringLiteral("pcm_s16le")
             << QStringLiteral("-ac") << QStringLiteral("1") << source;
        ASSERT_TRUE(ffmpegWrites(args));
        kinds = probePictureKinds(source);
        sourceMd5s = frameMd5s(source);
        sourcePictures = ffmpegPictures(source, kMatrixWidth, kMatrixHeight);
        ASSERT_EQ(kinds.size(), kMatrixFrames);
        ASSERT_EQ(sourceMd5s.size(), kMatrixFrames);
        ASSERT_EQ(probeAudioSamples(source), kMatrixFrames * kSamplesPerFrame);
    }
    // The first frame from `from` on (or, going back, the last one) of a kind.
    int findKind(QChar kind, int from, int step) const {
        for (int i = from; i >= 0 && i < kinds.size(); i += step)
            if (kinds[i] == kind)
                return i;
        return -1;
    }
    int keyAtOrBefore(int frame) const {
        return GetParam().startsAtKeys ? findKind(QLatin1Char('K'), frame, -1) : 0;
    }
    // The target holds exactly `frames` of the source with their sound, decodes silently, and
    // differs from the source only in one run of re-encoded frames at each cut (`seams`: target
    // positions where a part starts or ends), each within 40 dB.
    void expectFilm(const QString& target, const std::vector<int>& frames,
                    const std::vector<int>& seams) {
        SCOPED_TRACE(target.toStdString());
        EXPECT_EQ(decodeComplaints(target), QByteArray());
        EXPECT_EQ(probeDecodedFrames(target), int(frames.size()));
        EXPECT_EQ(probeAudioSamples(target), qint64(frames.size()) * kSamplesPerFrame);
        const QStringList md5s = frameMd5s(target);
        const std::vector<QByteArray> pictures =
            ffmpegPictures(target, kMatrixWidth, kMatrixHeight);
        ASSERT_EQ(md5s.size(), qsizetype(frames.size()));
        ASSERT_EQ(pictures.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            if (md5s[qsizetype(i)] == sourceMd5s[frames[i]])
                continue;
            EXPECT_GE(qdx::test::psnr(pictures[i], sourcePictures[size_t(frames[i])]), 40.0)
                << "frame " << frames[i];
            // A re-encoded frame lies in the run from a cut to the next point where the copy
            // can start (the head), or in the few B-frames before a cut (the tail).
            bool nearSeam = false;
            for (int seam : seams) {
                const int sourceAtSeam =
                    frames[size_t(std::min<int>(seam, int(frames.size()) - 1))];
                const int head =
                    seam >= int(frames.size())
                        ? 0
                        : (GetParam().startsAtKeys
                               ? findKind(QLatin1Char('K'), sourceAtSeam, 1) - sourceAtSeam
                               : int(frames.size()));
                nearSeam = nearSeam || (int(i) >= seam - 6 && int(i) < seam + std::max(0, head));
            }
            EXPECT_TRUE(nearSeam) << "frame " << frames[i] << " at " << i << " is not the source's";
        }
    }
    // The one message of a moved cut, with its reason; none when `text` is empty.
    void expectSaid(const QString& text) {
        const QStringList said = prompts.texts(QStringLiteral("information"));
        if (text.isEmpty()) {
            EXPECT_TRUE(said.isEmpty()) << said.join(QLatin1Char('\n')).toStdString();
            return;
        }
        ASSERT_EQ(said.size(), 1);
        EXPECT_TRUE(said[0].startsWith(text)) << said[0].toStdString();
        const QString reason = QString::fromLatin1(GetParam().reason);
        if (reason.isEmpty())
            EXPECT_EQ(said[0], text);
        else
            EXPECT_TRUE(said[0].contains(reason)) << said[0].toStdString();
    }
    static std::vector<int> span(int first, int last) { return StreamCopy::range(first, last); }
};

TEST_P(StreamCopyMatrix, EveryCutIsExactOrMovesToAKeyFrameAndSaysSo) {
    // Ranges starting at each kind of picture from frame 13 on and ending at each kind up to
    // frame 47 (each kind paired with itself), then one starting at a key frame and ending on a
    // B-frame, where one exists.
    std::vector<std::pair<int, int>> ranges;
    for (QChar kind : {QLatin1Char('K'), QLatin1Char('I'), QLatin1Char('P'), QLatin1Char('B')}) {
        const int a = findKind(kind, 13, 1);
        const int b = findKind(kind, 47, -1);
        if (a >= 0 && b > a)
            ranges.emplace_back(a, b);
    }
    if (const int b = findKind(QLatin1Char('B'), 47, -1); b > 24)
        ranges.emplace_back(findKind(QLatin1Char('K'), 13, 1), b);
    ASSERT_FALSE(ranges.empty()) << kinds.toStdString();
    const bool isH264 = probeVideoCodec(source) == QStringLiteral("h264");
    const QStringList sourceParameters = isH264 ? h264ParameterValues(source) : QStringList();
    if (isH264) {
        ASSERT_TRUE(sourceParameters.contains(QStringLiteral("frame_mbs_only_flag=1")) ||
                    sourceParameters.contains(QStringLiteral("frame_mbs_only_flag=0")))
            << sourceParameters.join(QLatin1Char(' ')).toStdString();
    }
    int n = 0;
    for (const auto& [a, b] : ranges) {
        SCOPED_TRACE(
            QStringLiteral("frames %1 to %2 of %3").arg(a).arg(b).arg(kinds).toStdString());
        prompts.asked.clear();
        const QString copy = dir.file(QStringLiteral("copy%1.avi").arg(++n));
        engine.CopySelection(true, a, b, source, copy);
        // Without a bridge the copy starts at the key frame before, and a stream that reorders
        // ends where its stored frames can (a few frames later).
        const auto copied = engine.StreamCopyRange();
        const int first = GetParam().bridged ? a : keyAtOrBefore(a);
        const int last = copied ? copied->second : b;
        if (GetParam().bridged)
            EXPECT_FALSE(copied.has_value());
        else
            ASSERT_EQ(copied.has_value(), first != a || last != b);
        EXPECT_TRUE(!copied || copied->first == first);
        EXPECT_TRUE(last >= b && last <= b + 6) << last;
        QStringList said;
        if (first != a)
            said << QStringLiteral("The copy starts at frame %1, the key frame before the "
                                   "selection.")
                        .arg(first + 1);
        if (last != b)
            said << QStringLiteral("The copy ends at frame %1, where its stored frames can end.")
                        .arg(last + 1);
        expectSaid(said.join(QLatin1Char(' ')));
        expectFilm(copy, span(first, last), {0, last - first + 1});
        // A bridge codes with the source's parameters: the copy's parameter sets, the bridge's
        // among them, take the source's values only.
        // (The profile and the level may be lower: x264 writes the lowest its tools need.)
        if (isH264) {
            QStringList copied = h264ParameterValues(copy);
            for (const char* ceiling : {"profile_idc=", "level_idc="}) {
                const QString name = QString::fromLatin1(ceiling);
                const QStringList theirs = sourceParameters.filter(name);
                ASSERT_EQ(theirs.size(), 1);
                for (const QString& value : copied.filter(name))
                    EXPECT_LE(value.mid(name.size()).toInt(), theirs[0].mid(name.size()).toInt())
                        << value.toStdString();
                copied.removeIf([&](const QString& v) { return v.startsWith(name); });
            }
            QStringList expected = sourceParameters;
            expected.removeIf([](const QString& v) {
                return v.startsWith(QStringLiteral("profile_idc=")) ||
                       v.startsWith(QStringLiteral("level_idc="));
            });
            EXPECT_EQ(copied, expected);
        }

        prompts.asked.clear();
        const QString removed = dir.file(QStringLiteral("removed%1.avi").arg(n));
        engine.RemoveSelection(true, a, b, source, removed);
        // Without a bridge, the film resumes at the key frame before the selection's end, and
        // the part before may run on a few frames.
        const auto left = engine.StreamCopyRange();
        const int resume = GetParam().bridged ? b + 1 : keyAtOrBefore(b + 1);
        const int goesOnTo = left ? left->first - 1 : a - 1;
        EXPECT_TRUE(!left || left->second == resume - 1);
        EXPECT_TRUE(goesOnTo >= a - 1 && goesOnTo <= a + 5) << goesOnTo;
        std::vector<int> kept = span(0, goesOnTo);
        for (int i : span(resume, kMatrixFrames - 1))
            kept.push_back(i);
        said.clear();
        if (goesOnTo != a - 1)
            said << QStringLiteral("The film goes on to frame %1, where its stored frames can "
                                   "end.")
                        .arg(goesOnTo + 1);
        if (resume != b + 1)
            said << QStringLiteral("The film resumes at frame %1, the key frame before the end "
                                   "of the selection.")
                        .arg(resume + 1);
        expectSaid(said.join(QLatin1Char(' ')));
        expectFilm(removed, kept, {goesOnTo + 1});
    }
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
}

QStringList words(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '));
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, StreamCopyMatrix,
    ::testing::Values(
        EncoderCase{"X264ClosedGop", words("-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p"), true,
                    true},
        EncoderCase{"X264UltrafastMain",
                    words("-c:v libx264 -preset ultrafast -bf 2 -g 12 -pix_fmt yuv420p"), true,
                    true},
        EncoderCase{"X264OpenGop",
                    words("-c:v libx264 -bf 2 -g 12 -x264-params open-gop=1 -pix_fmt yuv420p"),
                    false, true},
        EncoderCase{"X264BPyramid",
                    words("-c:v libx264 -bf 3 -b_strategy 2 -x264-params b-pyramid=normal -g 12 "
                          "-pix_fmt yuv420p"),
                    true, true},
        EncoderCase{"X264ThreeBFrames",
                    words("-c:v libx264 -bf 3 -x264-params b-adapt=0:b-pyramid=none -g 12 "
                          "-pix_fmt yuv420p"),
                    true, true},
        EncoderCase{"X264WeightedPrediction",
                    words("-c:v libx264 -bf 2 -g 12 -weightp 2 -x264-params weightb=1 -pix_fmt "
                          "yuv420p"),
                    true, true},
        // No bridge codes interlaced H.264 here: the cuts move to key frames, and say why.
        EncoderCase{"X264Interlaced",
                    words("-c:v libx264 -bf 2 -g 12 -flags +ildct -pix_fmt yuv420p"), true, false,
                    "interlaced coding"},
        EncoderCase{"Mpeg4Plain", words("-c:v mpeg4 -bf 2 -g 12 -q:v 3"), true, true},
        EncoderCase{"Mpeg4QuantQpel",
                    words("-c:v mpeg4 -bf 2 -g 12 -q:v 3 -mpeg_quant 1 -flags +qpel -vtag XVID"),
                    true, true},
        EncoderCase{"Mpeg4PackedB", words("-c:v mpeg4 -bf 2 -g 12 -q:v 3 -vtag XVID"), true, true},
        EncoderCase{"Mjpeg", words("-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), true, true},
        EncoderCase{"HuffYuv", words("-c:v huffyuv"), true, true},
        EncoderCase{"Ffv1WithAGop", words("-c:v ffv1 -g 12"), true, false}),
    [](const ::testing::TestParamInfo<EncoderCase>& info) { return info.param.name; });

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

    // A removal inside one group would have to keep its frames: it is refused, and says why.
    prompts.asked.clear();
    const QString removed = dir.file(QStringLiteral("removed.avi"));
    engine.RemoveSelection(true, 14, 16, source, removed);
    EXPECT_TRUE(prompts.texts(QStringLiteral("error"))
                    .value(0)
                    .startsWith(QStringLiteral("Frames 15 to 17 lie between two key frames")))
        << prompts.texts(QStringLiteral("error")).join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(removed));
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

    // Nor films of another frame rate: samples keep their places, so the second film would play
    // at the first one's rate.
    FilmRecipe faster;
    faster.width = kWidth;
    faster.height = kHeight;
    faster.frames = 30;
    faster.rate = 30000;
    faster.scale = 1001;
    faster.codec = QStringLiteral("mjpeg");
    faster.pixelFormat = QStringLiteral("yuvj420p");
    const QString d = makeFilm(dir, QStringLiteral("d.avi"), faster);
    prompts.asked.clear();
    engine.JoinFilms(false, {a + QStringLiteral("=30"), d + QStringLiteral("=30")}, target, 60);
    const QStringList rates = prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(rates.size(), 1);
    EXPECT_TRUE(rates[0].contains(QStringLiteral("29.970 frames per second (30000/1001)")) &&
                rates[0].contains(QStringLiteral("25.000 frames per second (25/1)")))
        << rates[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(target));
}

} // namespace
