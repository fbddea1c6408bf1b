// The codec bridge on real AVI files: uncompressed films ffmpeg made, read through AVIFileOpen
// (compressed ones are read in FrameGetterTest); films the layer writes (through a compressed
// stream, and through AVISaveV with and without sound), checked by ffprobe and decoded by ffmpeg.

#include "platform/vfw/CompressorChooser.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <cstring>

using namespace qdx::vfw;
using namespace qdx::test;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
const QString kVideo = QStringLiteral("testsrc2=size=96x64:rate=25");
const QString kSound = QStringLiteral("sine=frequency=440:sample_rate=22050");

struct Probe {
    int streams = 0;
    QString videoCodec;
    QString audioCodec;
    int frames = -1;
    double duration = -1;
};

Probe probe(const QString& path) {
    const auto r =
        run(QStringLiteral("ffprobe"),
            {"-v", "error", "-count_frames", "-show_entries",
             "stream=codec_type,codec_name,nb_read_frames:format=duration", "-of", "json", path});
    Probe p;
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    for (const QJsonValue& v : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject s = v.toObject();
        ++p.streams;
        if (s.value(QStringLiteral("codec_type")).toString() == QStringLiteral("video")) {
            p.videoCodec = s.value(QStringLiteral("codec_name")).toString();
            p.frames = s.value(QStringLiteral("nb_read_frames")).toString().toInt();
        } else {
            p.audioCodec = s.value(QStringLiteral("codec_name")).toString();
        }
    }
    p.duration = root.value(QStringLiteral("format"))
                     .toObject()
                     .value(QStringLiteral("duration"))
                     .toString()
                     .toDouble();
    return p;
}

// A film ffmpeg writes from its test pictures (with a tone), the input of the reading tests; an
// empty string when it worked.
QString ffmpegFilm(const QString& path, const QStringList& output, bool sound = false) {
    QStringList args = {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                        kVideo};
    if (sound)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << kSound
             << QStringLiteral("-shortest");
    args << output << path;
    return ffmpegWrites(args) ? QString() : QStringLiteral("ffmpeg failed");
}

// The sound of a film as ffmpeg decodes it.
QByteArray ffmpegSound(const QString& path) {
    const auto r = run(QStringLiteral("ffmpeg"),
                       {"-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le", "-"});
    return r.exitCode == 0 ? r.out : QByteArray();
}

QString codecNameOf(FOURCC fourcc) {
    switch (fourcc) {
    case mmioFOURCC('M', 'J', 'P', 'G'):
        return QStringLiteral("mjpeg");
    case mmioFOURCC('X', 'V', 'I', 'D'):
        return QStringLiteral("mpeg4");
    case mmioFOURCC('H', '2', '6', '4'):
        return QStringLiteral("h264");
    case mmioFOURCC('F', 'F', 'V', '1'):
        return QStringLiteral("ffv1");
    case mmioFOURCC('H', 'F', 'Y', 'U'):
        return QStringLiteral("huffyuv");
    case mmioFOURCC('M', 'S', 'V', 'C'):
        return QStringLiteral("msvideo1");
    default:
        return QStringLiteral("rawvideo");
    }
}

std::string nameOf(const Compressor& c) {
    std::string name;
    for (QChar ch : c.name)
        if (ch.isLetterOrNumber())
            name += char(ch.toLatin1());
    return name;
}

double lossyLimit(const Compressor& c) {
    return c.fourcc == mmioFOURCC('M', 'S', 'V', 'C') ? 24 : 28;
}

QImage picture(int i) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            image.setPixel(x, y, qRgb((x * 255) / kWidth, (y * 255) / kHeight, 128));
    QPainter p(&image);
    p.fillRect((i * 5) % (kWidth - 16), kHeight / 4, 16, 16, QColor(250, 240, 20));
    return image;
}

struct OpenedFilm {
    qdx::vfw::LibraryScope library;
    FileHandle file;
    StreamHandle video;
    StreamHandle audio;
};

std::unique_ptr<OpenedFilm> openFilm(const QString& path) {
    auto f = std::make_unique<OpenedFilm>();
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, path, OF_READ) != AVIERR_OK)
        return nullptr;
    f->file.reset(file);
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK)
        f->video.reset(stream);
    if (AVIFileGetStream(file, &stream, streamtypeAUDIO, 0) == AVIERR_OK)
        f->audio.reset(stream);
    return f;
}

// Uncompressed films in every depth ffmpeg writes read exactly as ffmpeg reads them; an 8-bit
// film's frames carry their 1024-byte colour table.
TEST(CodecFiles, UncompressedFilmsReadExactly) {
    TempDir dir;
    struct Case {
        const char* pixels;
        int bits;
    };
    for (Case c : {Case{"bgr24", 24}, Case{"pal8", 8}, Case{"rgb555le", 16}}) {
        const QString path = dir.file(QString::fromLatin1(c.pixels) + QStringLiteral(".avi"));
        ASSERT_EQ(ffmpegFilm(path, {"-c:v", "rawvideo", "-pix_fmt", c.pixels, "-frames:v", "6"}),
                  QString());
        const std::vector<QByteArray> reference =
            ffmpegPictures(path, kWidth, kHeight, PeerPixels::Bgr24);
        ASSERT_EQ(reference.size(), 6u) << c.pixels;
        auto film = openFilm(path);
        ASSERT_TRUE(film && film->video) << c.pixels;
        GetterHandle getter(AVIStreamGetFrameOpen(film->video.get(), nullptr));
        ASSERT_TRUE(getter) << c.pixels;
        for (LONG i = 5; i >= 0; --i) {
            void* dib = AVIStreamGetFrame(getter.get(), i);
            ASSERT_TRUE(dib) << c.pixels << " frame " << i;
            BITMAPINFOHEADER h;
            std::memcpy(&h, dib, sizeof h);
            EXPECT_EQ(h.biBitCount, c.bits) << c.pixels;
            if (c.bits == 8) {
                EXPECT_EQ(packedDibSize(dib), size_t(40 + 1024 + kWidth * kHeight));
            }
            EXPECT_TRUE(dibToBgr24(dib) == reference[size_t(i)]) << c.pixels << " frame " << i;
        }
    }
}

// ---- writing ------------------------------------------------------------------------------

class EveryCompressorOnFile : public ::testing::TestWithParam<Compressor> {};

// The engine's way: a target stream, a compressed stream over it, 32-bit DIBs written. ffprobe
// reads the film with the compressor's codec, the frame count and the duration; ffmpeg decodes
// the pictures written.
TEST_P(EveryCompressorOnFile, CompressedStreamWritesAFilmFfmpegReads) {
    const Compressor& c = GetParam();
    TempDir dir;
    const QString path = dir.file(QStringLiteral("written.avi"));
    constexpr int kFrames = 15;
    {
        LibraryScope library;
        PAVIFILE created = nullptr;
        ASSERT_EQ(AVIFileOpen(&created, path, OF_CREATE | OF_WRITE), AVIERR_OK);
        FileHandle file(created);
        AVISTREAMINFO info;
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.rcFrame.right = kWidth;
        info.rcFrame.bottom = kHeight;
        PAVISTREAM target = nullptr;
        ASSERT_EQ(AVIFileCreateStream(file.get(), &target, &info), AVIERR_OK);
        StreamHandle targetHandle(target);
        const AVICOMPRESSOPTIONS options = defaultOptions(c);
        PAVISTREAM compressed = nullptr;
        ASSERT_EQ(AVIMakeCompressedStream(&compressed, target, &options), AVIERR_OK);
        StreamHandle compressedHandle(compressed);
        const qdx::DibLayout layout = qdx::dibLayoutOf(picture(0), 32);
        ASSERT_EQ(AVIStreamSetFormat(compressed, 0, &layout.header, sizeof layout.header),
                  AVIERR_OK);
        std::vector<uint8_t> bits(layout.header.biSizeImage);
        for (int i = 0; i < kFrames; ++i) {
            qdx::writeDibBits(picture(i), layout, bits.data());
            ASSERT_EQ(AVIStreamWrite(compressed, i, 1, bits.data(), LONG(bits.size()),
                                     AVIIF_KEYFRAME, nullptr, nullptr),
                      AVIERR_OK);
        }
    }
    const Probe p = probe(path);
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.videoCodec, codecNameOf(c.fourcc));
    EXPECT_EQ(p.frames, kFrames);
    EXPECT_NEAR(p.duration, kFrames / 25.0, 0.05);
    const std::vector<QByteArray> decoded =
        ffmpegPictures(path, kWidth, kHeight, PeerPixels::Bgr24);
    ASSERT_EQ(decoded.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        const QByteArray expected = imageToBgr24(picture(i));
        if (c.lossless)
            EXPECT_TRUE(decoded[size_t(i)] == expected) << nameOf(c) << " frame " << i;
        else
            EXPECT_GT(psnr(decoded[size_t(i)], expected), lossyLimit(c))
                << nameOf(c) << " frame " << i;
    }
}

int lastPercent = -1;
bool percentsRose = true;
int abortAt = -1;
int calls = 0;

BOOL saveCallback(int percent) {
    ++calls;
    if (percent < lastPercent || percent < 0 || percent > 100)
        percentsRose = false;
    lastPercent = percent;
    return abortAt >= 0 && calls > abortAt ? 1 : 0;
}

void resetCallback(int abortAfter = -1) {
    lastPercent = -1;
    percentsRose = true;
    abortAt = abortAfter;
    calls = 0;
}

// A raw film with sound, the source of the AVISaveV tests.
QString makeSourceWithSound(TempDir& dir, int frames) {
    const QString path = dir.file(QStringLiteral("source.avi"));
    const QString why = ffmpegFilm(path,
                                   {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a", "pcm_s16le",
                                    "-frames:v", QString::number(frames)},
                                   true);
    EXPECT_EQ(why, QString());
    return path;
}

// AVISaveV re-encodes the video with the chosen compressor and copies the sound as it is; with
// only the video stream the film has no sound.
TEST_P(EveryCompressorOnFile, SaveWritesVideoAndCopiesSound) {
    const Compressor& c = GetParam();
    TempDir dir;
    constexpr int kFrames = 40;
    const QString source = makeSourceWithSound(dir, kFrames);
    const std::vector<QByteArray> sourceFrames =
        ffmpegPictures(source, kWidth, kHeight, PeerPixels::Bgr24);
    ASSERT_EQ(sourceFrames.size(), size_t(kFrames));
    auto film = openFilm(source);
    ASSERT_TRUE(film && film->video && film->audio);
    AVICOMPRESSOPTIONS options = defaultOptions(c);

    for (bool withSound : {true, false}) {
        const QString target =
            dir.file(withSound ? QStringLiteral("sound.avi") : QStringLiteral("silent.avi"));
        PAVISTREAM streams[2] = {film->video.get(), film->audio.get()};
        LPAVICOMPRESSOPTIONS blocks[2] = {&options, nullptr};
        resetCallback();
        ASSERT_EQ(AVISaveV(target, nullptr, saveCallback, withSound ? 2 : 1, streams, blocks),
                  AVIERR_OK)
            << nameOf(c);
        EXPECT_TRUE(percentsRose);
        EXPECT_EQ(lastPercent, 100);
        EXPECT_GE(calls, 2); // 1.6 s of film: two steps of a second
        const Probe p = probe(target);
        EXPECT_EQ(p.streams, withSound ? 2 : 1);
        EXPECT_EQ(p.videoCodec, codecNameOf(c.fourcc));
        EXPECT_EQ(p.frames, kFrames);
        EXPECT_NEAR(p.duration, kFrames / 25.0, 0.08);
        if (withSound) {
            EXPECT_EQ(p.audioCodec, QStringLiteral("pcm_s16le"));
            const QByteArray sound = ffmpegSound(target);
            EXPECT_FALSE(sound.isEmpty());
            EXPECT_TRUE(sound == ffmpegSound(source)) << nameOf(c);
        }
        const std::vector<QByteArray> decoded =
            ffmpegPictures(target, kWidth, kHeight, PeerPixels::Bgr24);
        ASSERT_EQ(decoded.size(), size_t(kFrames));
        for (int i = 0; i < kFrames; i += 7) {
            if (c.lossless)
                EXPECT_TRUE(decoded[size_t(i)] == sourceFrames[size_t(i)]) << nameOf(c) << " " << i;
            else
                EXPECT_GT(psnr(decoded[size_t(i)], sourceFrames[size_t(i)]), lossyLimit(c))
                    << nameOf(c) << " " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(List, EveryCompressorOnFile, ::testing::ValuesIn(compressors()),
                         [](const auto& info) { return nameOf(info.param); });

// A stream that already carries the compressor the options name is copied sample for sample.
TEST(CodecFiles, SaveCopiesAStreamInItsOwnCompressor) {
    TempDir dir;
    const QString source = dir.file(QStringLiteral("mjpeg.avi"));
    ASSERT_EQ(ffmpegFilm(source, {"-c:v", "mjpeg", "-frames:v", "10"}), QString());
    auto film = openFilm(source);
    ASSERT_TRUE(film && film->video);
    AVICOMPRESSOPTIONS options = defaultOptions(*findCompressor(mmioFOURCC('M', 'J', 'P', 'G')));
    options.dwQuality = 100; // would change every picture if the film were encoded again
    PAVISTREAM streams[1] = {film->video.get()};
    LPAVICOMPRESSOPTIONS blocks[1] = {&options};
    const QString target = dir.file(QStringLiteral("copy.avi"));
    ASSERT_EQ(AVISaveV(target, nullptr, nullptr, 1, streams, blocks), AVIERR_OK);
    const std::vector<QByteArray> a = ffmpegPictures(source, kWidth, kHeight, PeerPixels::Bgr24);
    const std::vector<QByteArray> b = ffmpegPictures(target, kWidth, kHeight, PeerPixels::Bgr24);
    ASSERT_EQ(a.size(), 10u);
    EXPECT_TRUE(a == b);
}

// A non-zero answer of the callback stops the save with AVIERR_USERABORT and leaves no film; a
// file that was there before stays as it was.
TEST(CodecFiles, CancelledSaveLeavesNoFilm) {
    TempDir dir;
    const QString source = makeSourceWithSound(dir, 60);
    auto film = openFilm(source);
    ASSERT_TRUE(film && film->video && film->audio);
    AVICOMPRESSOPTIONS options = defaultOptions(*findCompressor(mmioFOURCC('M', 'J', 'P', 'G')));
    PAVISTREAM streams[2] = {film->video.get(), film->audio.get()};
    LPAVICOMPRESSOPTIONS blocks[2] = {&options, nullptr};

    const QString fresh = dir.file(QStringLiteral("fresh.avi"));
    resetCallback(0);
    EXPECT_EQ(AVISaveV(fresh, nullptr, saveCallback, 2, streams, blocks), AVIERR_USERABORT);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(QFile::exists(fresh));

    const QString existing = dir.file(QStringLiteral("existing.avi"));
    ASSERT_TRUE(writeAll(existing, "what was there"));
    resetCallback(1);
    EXPECT_EQ(AVISaveV(existing, nullptr, saveCallback, 2, streams, blocks), AVIERR_USERABORT);
    EXPECT_EQ(readAll(existing), QByteArray("what was there"));
    // Nothing else is left in the folder but the source and the untouched file.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // A folder that does not exist: the open error, nothing written.
    EXPECT_NE(AVISaveV(dir.file(QStringLiteral("missing/film.avi")), nullptr, nullptr, 2, streams,
                       blocks),
              AVIERR_OK);
    // An unknown compressor.
    options.fccHandler = mmioFOURCC('N', 'O', 'N', 'E');
    EXPECT_EQ(AVISaveV(fresh, nullptr, nullptr, 2, streams, blocks), AVIERR_NOCOMPRESSOR);
    EXPECT_FALSE(QFile::exists(fresh));
}

} // namespace
