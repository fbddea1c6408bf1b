#include "platform/codec/CodecThreads.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "tests/vfw/MemoryStream.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <cstring>
#include <map>

using namespace qdx::vfw;
using namespace qdx::vfw::test;
using namespace qdx::test;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

struct FilmCase {
    const char* name;
    FilmRecipe recipe;
    bool lossless;
};

// Printed by name when GoogleTest shows the parameter of a test.
void PrintTo(const FilmCase& film, std::ostream* out) {
    *out << film.name;
}

FilmRecipe recipe(const char* codec, int frames, int keyFrameEvery, int bFrames, int quantiser,
                  const char* pixels = "", QStringList options = {}, int width = kWidth,
                  int height = kHeight) {
    FilmRecipe r;
    r.width = width;
    r.height = height;
    r.frames = frames;
    r.codec = QString::fromLatin1(codec);
    r.pixelFormat = QString::fromLatin1(pixels);
    r.keyFrameEvery = keyFrameEvery;
    r.bFrames = bFrames;
    r.quantiser = quantiser;
    r.options = std::move(options);
    return r;
}

// The films every test of this file reads, made once.
const std::vector<FilmCase>& filmCases() {
    static const std::vector<FilmCase> cases = {
        {"mjpeg", recipe("mjpeg", 20, 1, 0, 3), false},
        {"mpeg4", recipe("mpeg4", 30, 12, 0, 4), false},
        {"mpeg4_bframes", recipe("mpeg4", 40, 12, 2, 4), false},
        {"mpeg4_packed", recipe("libxvid", 40, 12, 2, 0), false},
        {"h264", recipe("libx264", 40, 12, 3, 0, "", {QStringLiteral("crf=20")}), false},
        {"ffv1", recipe("ffv1", 10, 12, 0, 0, "bgr0"), true},
        {"huffyuv", recipe("huffyuv", 10, 1, 0, 0, "bgra"), true},
        {"msvideo1", recipe("msvideo1", 10, 12, 0, 0), false},
    };
    return cases;
}

class FilmStore {
public:
    static FilmStore& instance() {
        static FilmStore store;
        return store;
    }
    // The path of a film made for the case, or an empty string with the reason in `why`.
    QString film(const FilmCase& c, QString* why) {
        const QString path = m_dir.file(QString::fromLatin1(c.name) + QStringLiteral(".avi"));
        auto found = m_made.find(path);
        if (found == m_made.end())
            found = m_made.emplace(path, writeFilm(path, c.recipe)).first;
        if (!found->second.isEmpty()) {
            *why = found->second;
            return {};
        }
        return path;
    }

private:
    TempDir m_dir;
    std::map<QString, QString> m_made;
};

const FilmCase& filmCase(const char* name) {
    for (const FilmCase& c : filmCases())
        if (std::strcmp(c.name, name) == 0)
            return c;
    throw std::logic_error("no such film case");
}

// A film's video stream read through the file, and ffmpeg's pictures of it.
struct OpenFilm {
    LibraryScope library;
    FileHandle file;
    StreamHandle stream;
    std::vector<QByteArray> reference;
};

std::unique_ptr<OpenFilm> openPath(const QString& path, int width, int height) {
    auto f = std::make_unique<OpenFilm>();
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, path, OF_READ) != AVIERR_OK) {
        ADD_FAILURE() << path.toStdString() << " does not open";
        return f;
    }
    f->file.reset(file);
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK)
        f->stream.reset(stream);
    f->reference = ffmpegPictures(path, width, height, PeerPixels::Bgr24);
    return f;
}

std::unique_ptr<OpenFilm> openFilm(const char* name) {
    QString why;
    const QString path = FilmStore::instance().film(filmCase(name), &why);
    if (path.isEmpty()) {
        ADD_FAILURE() << why.toStdString();
        return std::make_unique<OpenFilm>();
    }
    return openPath(path, kWidth, kHeight);
}

FrameGetterImpl* getterOf(FrameGetter* g) {
    return dynamic_cast<FrameGetterImpl*>(g);
}

// Every frame of every film, fetched in order, is ffmpeg's picture: exact for lossless codecs,
// within 45 dB for lossy ones (only the colour conversion may differ).
class EveryFilm : public ::testing::TestWithParam<FilmCase> {};

TEST_P(EveryFilm, SequentialFramesMatchFfmpeg) {
    const FilmCase& c = GetParam();
    auto film = openFilm(c.name);
    ASSERT_TRUE(film->stream);
    ASSERT_FALSE(film->reference.empty());
    GetterHandle getter(AVIStreamGetFrameOpen(film->stream.get(), nullptr));
    ASSERT_TRUE(getter) << c.name;
    const LONG length = AVIStreamLength(film->stream.get());
    // ffmpeg gives one picture per sample for every film here.
    ASSERT_EQ(size_t(length), film->reference.size()) << c.name;
    for (LONG i = 0; i < length; ++i) {
        void* dib = AVIStreamGetFrame(getter.get(), i);
        ASSERT_NE(dib, nullptr) << c.name << " frame " << i;
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        ASSERT_EQ(h.biBitCount, 24);
        ASSERT_EQ(h.biWidth, kWidth);
        ASSERT_EQ(h.biHeight, kHeight); // bottom-up
        ASSERT_EQ(h.biCompression, BI_RGB);
        const QByteArray ours = dibToBgr24(dib);
        if (c.lossless)
            ASSERT_TRUE(ours == film->reference[size_t(i)]) << c.name << " frame " << i;
        else
            ASSERT_GT(psnr(ours, film->reference[size_t(i)]), 45.0) << c.name << " frame " << i;
    }
    // Stepping forward decodes each sample once.
    EXPECT_EQ(getterOf(getter.get())->counters().samplesDecoded, length) << c.name;
    EXPECT_EQ(AVIStreamGetFrame(getter.get(), length), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(getter.get(), -1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Codecs, EveryFilm, ::testing::ValuesIn(filmCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Jumping back and forth gives the pictures stepping gave, for codecs that reorder frames too.
class Jumps : public ::testing::TestWithParam<const char*> {};

TEST_P(Jumps, RandomAccessGivesTheSequentialPictures) {
    auto film = openFilm(GetParam());
    ASSERT_TRUE(film->stream);
    const LONG length = AVIStreamLength(film->stream.get());
    std::vector<QByteArray> sequential;
    {
        GetterHandle getter(AVIStreamGetFrameOpen(film->stream.get(), nullptr));
        ASSERT_TRUE(getter);
        for (LONG i = 0; i < length; ++i)
            sequential.push_back(dibToBgr24(AVIStreamGetFrame(getter.get(), i)));
    }
    GetterHandle getter(AVIStreamGetFrameOpen(film->stream.get(), nullptr));
    ASSERT_TRUE(getter);
    QRandomGenerator random(7);
    std::vector<LONG> order;
    for (LONG p : std::vector<LONG>{length - 1, 0, 13, 12, 11, 10, 25, 24, 23, 1, length - 2})
        if (p < length)
            order.push_back(p);
    for (int i = 0; i < 40; ++i)
        order.push_back(LONG(random.bounded(length)));
    for (LONG position : order) {
        const QByteArray got = dibToBgr24(AVIStreamGetFrame(getter.get(), position));
        ASSERT_TRUE(got == sequential[size_t(position)]) << GetParam() << " frame " << position;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, Jumps,
                         ::testing::Values("mjpeg", "mpeg4", "mpeg4_bframes", "mpeg4_packed",
                                           "h264"));

// A jump decodes from the key frame before the picture, never from the start of the film, and a
// step after it costs one more sample.
TEST(FrameGetter, JumpDecodesFromThePreviousKeyFrame) {
    for (const char* name : {"mpeg4", "h264", "mpeg4_bframes"}) {
        auto film = openFilm(name);
        ASSERT_TRUE(film->stream);
        GetterHandle getter(AVIStreamGetFrameOpen(film->stream.get(), nullptr));
        ASSERT_TRUE(getter);
        FrameGetterImpl* impl = getterOf(getter.get());
        const LONG target = AVIStreamLength(film->stream.get()) - 3;
        const LONG key = AVIStreamFindSample(film->stream.get(), target, FIND_PREV | FIND_KEY);
        ASSERT_GE(key, 12) << name;
        const int64_t before = impl->counters().samplesDecoded;
        ASSERT_NE(AVIStreamGetFrame(getter.get(), target), nullptr) << name;
        const int64_t jump = impl->counters().samplesDecoded - before;
        // From the key frame to the picture, plus the decoder's reordering delay.
        EXPECT_LE(jump, target - key + 4) << name;
        EXPECT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), target)),
                       film->reference[size_t(target)]),
                  45.0)
            << name;
        const int64_t afterJump = impl->counters().samplesDecoded;
        ASSERT_NE(AVIStreamGetFrame(getter.get(), target + 1), nullptr);
        EXPECT_LE(impl->counters().samplesDecoded - afterJump, 1) << name;
    }
}

// Large pictures are converted on a second thread while the next one decodes: stepping gives
// ffmpeg's pictures and still decodes each sample once, and jumps in between stay right.
TEST(FrameGetter, LargeFramesConvertWhileTheNextDecodes) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("large.avi"));
    ASSERT_EQ(writeFilm(path, recipe("mpeg4", 14, 6, 2, 4, "", {}, 640, 480)), QString());
    const auto film = openPath(path, 640, 480);
    const std::vector<QByteArray>& reference = film->reference;
    ASSERT_EQ(reference.size(), 14u);
    ASSERT_TRUE(film->stream);
    GetterHandle getter(AVIStreamGetFrameOpen(film->stream.get(), nullptr));
    ASSERT_TRUE(getter);
    for (LONG i = 0; i < 14; ++i)
        ASSERT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), i)), reference[size_t(i)]), 45.0)
            << "frame " << i;
    EXPECT_EQ(getterOf(getter.get())->counters().samplesDecoded, 14);
    for (LONG i : {3, 4, 5, 11, 12, 13, 2, 3, 7, 8})
        ASSERT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), i)), reference[size_t(i)]), 45.0)
            << "frame " << i;
}

// Stepping through a large all-intra film with decoders allowed two threads reads ahead on two
// decoders of its own: every frame is still ffmpeg's picture at its place, each sample is decoded
// once (apart from the first one each new decoder starts with), and jumps and steps after them
// stay right.
TEST(FrameGetter, LargeIntraFramesAreReadAheadByTwoDecoders) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("intra.avi"));
    ASSERT_EQ(writeFilm(path, recipe("mjpeg", 14, 1, 0, 3, "", {}, 640, 480)), QString());
    const auto film = openPath(path, 640, 480);
    const std::vector<QByteArray>& reference = film->reference;
    ASSERT_EQ(reference.size(), 14u);
    ASSERT_TRUE(film->stream);
    const int threads = decoderThreads();
    setDecoderThreads(2);
    GetterHandle getter(AVIStreamGetFrameOpen(film->stream.get(), nullptr));
    setDecoderThreads(threads);
    ASSERT_TRUE(getter);
    for (LONG i = 0; i < 14; ++i)
        ASSERT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), i)), reference[size_t(i)]), 40.0)
            << "frame " << i;
    EXPECT_LE(getterOf(getter.get())->counters().samplesDecoded, 14 + 2);
    for (LONG i : {5, 6, 7, 8, 2, 9, 10, 11, 12, 13, 0})
        ASSERT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), i)), reference[size_t(i)]), 40.0)
            << "frame " << i;
}

// Pictures of a megabyte and more are decoded into the decoder's own pool, one block per
// picture in FFmpeg's layout: with frame threads (H.264), B-frames (MPEG-4) and full-range 4:2:0
// (Motion JPEG), stepping and jumping, every frame is still ffmpeg's picture.
TEST(FrameGetter, LargePicturesAreDecodedIntoTheDecodersOwnPool) {
    const int frames = 14;
    const std::pair<const char*, FilmRecipe> films[] = {
        {"h264", recipe("libx264", frames, 6, 3, 0, "", {QStringLiteral("crf=24")}, 1024, 768)},
        {"mpeg4", recipe("mpeg4", frames, 6, 2, 4, "", {}, 1024, 768)},
        {"mjpeg", recipe("mjpeg", frames, 1, 0, 3, "", {}, 1024, 768)},
    };
    const int threads = decoderThreads();
    for (const auto& [name, made] : films) {
        TempDir dir;
        const QString path = dir.file(QStringLiteral("film.avi"));
        ASSERT_EQ(writeFilm(path, made), QString());
        const auto film = openPath(path, 1024, 768);
        const std::vector<QByteArray>& reference = film->reference;
        ASSERT_EQ(reference.size(), size_t(frames)) << name;
        ASSERT_TRUE(film->stream);
        PAVISTREAM stream = film->stream.get();
        setDecoderThreads(2);
        GetterHandle getter(AVIStreamGetFrameOpen(stream, nullptr));
        std::unique_ptr<FrameGetterImpl> pictures(FrameGetterImpl::create(stream, nullptr));
        setDecoderThreads(threads);
        ASSERT_TRUE(getter && pictures);
        for (LONG i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 3, 12, 0, 7})
            ASSERT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), i)), reference[size_t(i)]),
                      40.0)
                << name << " frame " << i;
        for (LONG i : {0, 5, 13}) {
            const AVFrame* picture = pictures->picture(i);
            ASSERT_NE(picture, nullptr) << name;
            EXPECT_NE(picture->buf[0], nullptr) << name;
            EXPECT_EQ(picture->buf[1], nullptr) << name << ": planes in buffers of their own";
        }
    }
}

// A frame getter asked for another layout gives it: 32 and 16 bits, top-down rows, 8 bits with a
// colour table, another size.
TEST(FrameGetter, WantedLayoutsAreHonoured) {
    auto film = openFilm("ffv1");
    ASSERT_TRUE(film->stream);
    const QByteArray& expected = film->reference[3];

    BITMAPINFOHEADER wanted;
    wanted.biBitCount = 32;
    GetterHandle g32(AVIStreamGetFrameOpen(film->stream.get(), &wanted));
    ASSERT_TRUE(g32);
    void* dib = AVIStreamGetFrame(g32.get(), 3);
    ASSERT_TRUE(dib);
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biSizeImage, uint32_t(kWidth * kHeight * 4));
    EXPECT_TRUE(dibToBgr24(dib) == expected);

    wanted.biBitCount = 24;
    wanted.biHeight = -kHeight;
    wanted.biWidth = kWidth;
    GetterHandle gTop(AVIStreamGetFrameOpen(film->stream.get(), &wanted));
    ASSERT_TRUE(gTop);
    dib = AVIStreamGetFrame(gTop.get(), 3);
    ASSERT_TRUE(dib);
    // Top-down rows: the first row of pixels is the picture's top row.
    EXPECT_EQ(std::memcmp(static_cast<char*>(dib) + 40, expected.constData(), kWidth * 3), 0);

    wanted = BITMAPINFOHEADER();
    wanted.biBitCount = 16;
    GetterHandle g16(AVIStreamGetFrameOpen(film->stream.get(), &wanted));
    ASSERT_TRUE(g16);
    EXPECT_GT(psnr(dibToBgr24(AVIStreamGetFrame(g16.get(), 3)), expected), 30.0);

    wanted.biBitCount = 8;
    GetterHandle g8(AVIStreamGetFrameOpen(film->stream.get(), &wanted));
    ASSERT_TRUE(g8);
    dib = AVIStreamGetFrame(g8.get(), 3);
    ASSERT_TRUE(dib);
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(packedDibSize(dib), size_t(40 + 1024 + kWidth * kHeight));
    EXPECT_GT(psnr(dibToBgr24(dib), expected), 15.0);

    wanted = BITMAPINFOHEADER();
    wanted.biBitCount = 24;
    wanted.biWidth = kWidth / 2;
    wanted.biHeight = kHeight / 2;
    GetterHandle gHalf(AVIStreamGetFrameOpen(film->stream.get(), &wanted));
    ASSERT_TRUE(gHalf);
    dib = AVIStreamGetFrame(gHalf.get(), 3);
    ASSERT_TRUE(dib);
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biWidth, kWidth / 2);
    EXPECT_EQ(h.biHeight, kHeight / 2);

    // Layouts no one can give are refused at opening.
    wanted = BITMAPINFOHEADER();
    wanted.biBitCount = 24;
    wanted.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    EXPECT_EQ(AVIStreamGetFrameOpen(film->stream.get(), &wanted), nullptr);
    wanted.biCompression = BI_RGB;
    wanted.biBitCount = 12;
    EXPECT_EQ(AVIStreamGetFrameOpen(film->stream.get(), &wanted), nullptr);
}

AVISTREAMINFO videoInfo() {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    return info;
}

// Dropped frames of a compressed film (empty samples) show the picture before them.
TEST(FrameGetter, EmptySamplesOfCompressedFilmsRepeatThePictureBefore) {
    auto film = openFilm("mjpeg");
    ASSERT_TRUE(film->stream);
    auto* copy = new MemoryStream(videoInfo());
    StreamHandle stream(copy);
    LONG size = 0;
    ASSERT_EQ(AVIStreamReadFormat(film->stream.get(), 0, nullptr, &size), AVIERR_OK);
    QByteArray format(size, 0);
    ASSERT_EQ(AVIStreamReadFormat(film->stream.get(), 0, format.data(), &size), AVIERR_OK);
    copy->setFormat(0, format.constData(), size);
    // Samples 0, 1, 4, 5 of the film at positions 0, 1, 4, 5: 2 and 3 are dropped.
    for (LONG i : {0, 1, 4, 5}) {
        LONG bytes = 0;
        AVIStreamRead(film->stream.get(), i, 1, nullptr, 0, &bytes, nullptr);
        QByteArray sample(bytes, 0);
        ASSERT_EQ(AVIStreamRead(film->stream.get(), i, 1, sample.data(), bytes, nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(copy->write(i, 1, sample.constData(), bytes, AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
    }
    GetterHandle getter(AVIStreamGetFrameOpen(stream.get(), nullptr));
    ASSERT_TRUE(getter);
    const QByteArray one = dibToBgr24(AVIStreamGetFrame(getter.get(), 1));
    EXPECT_GT(psnr(one, film->reference[1]), 45.0);
    EXPECT_TRUE(dibToBgr24(AVIStreamGetFrame(getter.get(), 2)) == one);
    EXPECT_TRUE(dibToBgr24(AVIStreamGetFrame(getter.get(), 3)) == one);
    EXPECT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), 4)), film->reference[4]), 45.0);
    // Backwards onto a dropped frame as well.
    EXPECT_TRUE(dibToBgr24(AVIStreamGetFrame(getter.get(), 3)) == one);
}

} // namespace
