#include "platform/codec/FourccMap.h"
#include "platform/vfw/CompressorChooser.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "tests/support/FilmMaker.h"
#include "tests/vfw/MemoryStream.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <cstdlib>
#include <cstring>

using namespace qdx::vfw;
using namespace qdx::vfw::test;
using namespace qdx::test;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

// Frame i of the test film: a gradient with a square moving across it.
QImage picture(int i, int width = kWidth, int height = kHeight) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, 128));
    QPainter p(&image);
    p.fillRect((i * 5) % (width - 16), height / 4, 16, 16, QColor(250, 240, 20));
    return image;
}

struct Dib {
    BITMAPINFOHEADER header;
    std::vector<uint8_t> bits;
};

Dib dibOf(const QImage& image, int bitCount = 32) {
    const qdx::DibLayout layout = qdx::dibLayoutOf(image, bitCount);
    Dib d{layout.header, std::vector<uint8_t>(layout.header.biSizeImage)};
    qdx::writeDibBits(image, layout, d.bits.data());
    return d;
}

AVISTREAMINFO videoInfo() {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    return info;
}

AVICOMPRESSOPTIONS optionsFor(FOURCC fourcc) {
    const Compressor* c = findCompressor(fourcc);
    EXPECT_TRUE(c) << FourccMap::text(fourcc).toStdString();
    return c ? defaultOptions(*c) : AVICOMPRESSOPTIONS();
}

// Writes `count` frames through a compressed stream into a memory stream; the target is what
// the compressor wrote once the compressed stream is gone.
MemoryStream* compressInto(const AVICOMPRESSOPTIONS& options, int count, HRESULT* failure,
                           std::vector<LONG> positions = {}) {
    auto* target = new MemoryStream(videoInfo());
    PAVISTREAM compressed = nullptr;
    *failure = AVIMakeCompressedStream(&compressed, target, &options);
    if (*failure != AVIERR_OK) {
        target->release();
        return nullptr;
    }
    StreamHandle holder(compressed);
    if (positions.empty())
        for (int i = 0; i < count; ++i)
            positions.push_back(i);
    const Dib first = dibOf(picture(0));
    *failure = AVIStreamSetFormat(compressed, 0, &first.header, sizeof first.header);
    for (LONG position : positions) {
        if (*failure != AVIERR_OK)
            break;
        const Dib d = dibOf(picture(int(position)));
        *failure = AVIStreamWrite(compressed, position, 1, d.bits.data(), LONG(d.bits.size()),
                                  AVIIF_KEYFRAME, nullptr, nullptr);
    }
    return target;
}

// Every compressor: each DIB written becomes one sample at its position, the target carries the
// compressor's header, and the pictures decode back (exactly for lossless ones).
class EveryCompressor : public ::testing::TestWithParam<Compressor> {};

TEST_P(EveryCompressor, WritesOneDecodableSamplePerFrame) {
    const Compressor& c = GetParam();
    HRESULT hr;
    StreamHandle target(compressInto(defaultOptions(c), 12, &hr));
    ASSERT_EQ(hr, AVIERR_OK) << c.name.toStdString();
    auto* memory = static_cast<MemoryStream*>(target.get());
    ASSERT_EQ(memory->samples().size(), 12u);
    EXPECT_TRUE(memory->keys()[0]);
    BITMAPINFOHEADER h;
    ASSERT_GE(memory->format().size(), 40);
    std::memcpy(&h, memory->format().constData(), sizeof h);
    EXPECT_EQ(h.biWidth, kWidth);
    EXPECT_EQ(h.biHeight, kHeight);
    if (c.encoder)
        EXPECT_EQ(h.biCompression, c.fourcc);
    else
        EXPECT_EQ(h.biCompression, BI_RGB);

    GetterHandle getter(AVIStreamGetFrameOpen(target.get(), nullptr));
    ASSERT_TRUE(getter);
    for (int i = 0; i < 12; ++i) {
        const QByteArray got = dibToBgr24(AVIStreamGetFrame(getter.get(), i));
        const QByteArray expected = imageToBgr24(picture(i));
        if (c.lossless)
            EXPECT_TRUE(got == expected) << c.name.toStdString() << " frame " << i;
        else
            // 4:2:0 chroma costs the sharp coloured square some dB.
            EXPECT_GT(psnr(got, expected), c.fourcc == mmioFOURCC('M', 'S', 'V', 'C') ? 24 : 28)
                << c.name.toStdString() << " frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(List, EveryCompressor, ::testing::ValuesIn(compressors()),
                         [](const auto& info) {
                             std::string name;
                             for (QChar ch : info.param.name)
                                 if (ch.isLetterOrNumber())
                                     name += char(ch.toLatin1());
                             return name;
                         });

TEST(Compressors, TheListOffersTheExpectedCompressors) {
    QStringList names;
    for (const Compressor& c : compressors())
        names << c.name;
    EXPECT_EQ(names.value(0), QStringLiteral("Full Frames (Uncompressed)"));
    for (const char* expected : {"Motion JPEG", "MPEG-4 ASP", "H.264", "FFV1 (lossless)",
                                 "HuffYUV (lossless)", "Microsoft Video 1"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(expected))) << expected;
    // FourCCs are found in any case; 0 and "DIB " are the uncompressed frames.
    EXPECT_EQ(findCompressor(mmioFOURCC('m', 'j', 'p', 'g')),
              findCompressor(mmioFOURCC('M', 'J', 'P', 'G')));
    EXPECT_EQ(findCompressor(0), &compressors()[0]);
    EXPECT_EQ(findCompressor(comptypeDIB), &compressors()[0]);
    EXPECT_EQ(findCompressor(mmioFOURCC('Q', 'Q', 'Q', 'Q')), nullptr);
}

// The FourCCs known without libavformat give the codec libavformat's table gives them, and a
// rare one (libavformat loaded for it) decodes as before, in either case of its letters.
TEST(Compressors, FourccsAgreeWithLibavformat) {
    for (const FOURCC f : FourccMap::commonFourccs()) {
        EXPECT_NE(FourccMap::commonCodecOf(f), AV_CODEC_ID_NONE)
            << FourccMap::text(f).toStdString();
        EXPECT_EQ(FourccMap::commonCodecOf(f), FourccMap::riffCodecOf(f))
            << FourccMap::text(f).toStdString();
    }
    for (const Compressor& c : compressors()) {
        if (c.encoder) {
            EXPECT_NE(FourccMap::commonCodecOf(c.fourcc), AV_CODEC_ID_NONE) << c.encoder;
        }
    }
    EXPECT_EQ(FourccMap::codecOf(mmioFOURCC('V', 'P', '6', '2')), AV_CODEC_ID_VP6);
    EXPECT_EQ(FourccMap::codecOf(mmioFOURCC('l', 'a', 'g', 's')), AV_CODEC_ID_LAGARITH);
    EXPECT_EQ(FourccMap::codecOf(mmioFOURCC('d', 'X', '5', '0')), AV_CODEC_ID_MPEG4);
    EXPECT_EQ(FourccMap::codecOf(mmioFOURCC('Q', 'Q', 'Q', 'Q')), AV_CODEC_ID_NONE);
    EXPECT_EQ(FourccMap::fourccOf(AV_CODEC_ID_HUFFYUV), mmioFOURCC('H', 'F', 'Y', 'U'));
}

// Key frames every N frames, quality and data rate reach the encoder.
TEST(Compressors, KeyFramesQualityAndDataRateAreApplied) {
    AVICOMPRESSOPTIONS o = optionsFor(mmioFOURCC('X', 'V', 'I', 'D'));
    o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    o.dwKeyFrameEvery = 5;
    HRESULT hr;
    StreamHandle mpeg4(compressInto(o, 12, &hr));
    ASSERT_EQ(hr, AVIERR_OK);
    const auto& keys = static_cast<MemoryStream*>(mpeg4.get())->keys();
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(bool(keys[i]), i % 5 == 0) << i;

    auto totalSize = [](AviStream* s) {
        qsizetype total = 0;
        for (const QByteArray& sample : static_cast<MemoryStream*>(s)->samples())
            total += sample.size();
        return total;
    };
    AVICOMPRESSOPTIONS low = optionsFor(mmioFOURCC('M', 'J', 'P', 'G'));
    low.dwQuality = 1000;
    AVICOMPRESSOPTIONS high = low;
    high.dwQuality = 9500;
    StreamHandle small(compressInto(low, 4, &hr));
    ASSERT_EQ(hr, AVIERR_OK);
    StreamHandle large(compressInto(high, 4, &hr));
    ASSERT_EQ(hr, AVIERR_OK);
    EXPECT_LT(totalSize(small.get()) * 5 / 4, totalSize(large.get()));

    // 25 frames at 25 per second with a data rate of 20000 bytes a second: about 20000 bytes.
    AVICOMPRESSOPTIONS rate = optionsFor(mmioFOURCC('H', '2', '6', '4'));
    rate.dwFlags |= AVICOMPRESSF_DATARATE;
    rate.dwBytesPerSecond = 20000;
    StreamHandle limited(compressInto(rate, 25, &hr));
    ASSERT_EQ(hr, AVIERR_OK);
    EXPECT_LT(totalSize(limited.get()), 40000);
    rate.dwBytesPerSecond = 200000;
    StreamHandle generous(compressInto(rate, 25, &hr));
    ASSERT_EQ(hr, AVIERR_OK);
    EXPECT_GT(totalSize(generous.get()), totalSize(limited.get()));
}

// Encoders that hold frames back (frame threads, look-ahead) still give every frame its own
// sample at its own position, also across positions left empty.
TEST(Compressors, DelayedFramesLandAtTheirPositions) {
    HRESULT hr;
    const std::vector<LONG> positions = {0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 20};
    StreamHandle target(
        compressInto(optionsFor(mmioFOURCC('H', '2', '6', '4')), 0, &hr, positions));
    ASSERT_EQ(hr, AVIERR_OK);
    const auto& samples = static_cast<MemoryStream*>(target.get())->samples();
    ASSERT_EQ(samples.size(), 21u);
    for (LONG p = 0; p < 21; ++p) {
        const bool written = std::find(positions.begin(), positions.end(), p) != positions.end();
        EXPECT_EQ(!samples[size_t(p)].isEmpty(), written) << p;
    }
    GetterHandle getter(AVIStreamGetFrameOpen(target.get(), nullptr));
    ASSERT_TRUE(getter);
    EXPECT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), 12)), imageToBgr24(picture(12))),
              30.0);
    // An empty position shows the frame before it.
    EXPECT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), 15)), imageToBgr24(picture(12))),
              30.0);
}

// The compressor takes the DIB layouts the engine writes: 8 bits with a colour table, 16 and 24
// bits, top-down rows.
TEST(Compressors, EveryDibLayoutIsAccepted) {
    for (int bits : {8, 16, 24}) {
        auto* memory = new MemoryStream(videoInfo());
        StreamHandle target(memory);
        const AVICOMPRESSOPTIONS o = optionsFor(mmioFOURCC('F', 'F', 'V', '1'));
        PAVISTREAM compressed = nullptr;
        ASSERT_EQ(AVIMakeCompressedStream(&compressed, target.get(), &o), AVIERR_OK);
        StreamHandle holder(compressed);
        const QImage source = TBitmap::convertedTo(picture(3), bits == 8    ? pf8bit
                                                               : bits == 16 ? pf15bit
                                                                            : pf24bit);
        const qdx::DibLayout layout = qdx::dibLayoutOf(source, bits);
        QByteArray format(reinterpret_cast<const char*>(&layout.header), 40);
        format.append(reinterpret_cast<const char*>(layout.colours.data()),
                      qsizetype(layout.colours.size() * 4));
        ASSERT_EQ(AVIStreamSetFormat(compressed, 0, format.constData(), LONG(format.size())),
                  AVIERR_OK);
        std::vector<uint8_t> pixels(layout.header.biSizeImage);
        qdx::writeDibBits(source, layout, pixels.data());
        ASSERT_EQ(AVIStreamWrite(compressed, 0, 1, pixels.data(), LONG(pixels.size()), 0, nullptr,
                                 nullptr),
                  AVIERR_OK);
        holder.reset();
        GetterHandle getter(AVIStreamGetFrameOpen(target.get(), nullptr));
        ASSERT_TRUE(getter);
        EXPECT_TRUE(dibToBgr24(AVIStreamGetFrame(getter.get(), 0)) == imageToBgr24(source)) << bits;
    }
    // Top-down 32-bit rows.
    auto* memory = new MemoryStream(videoInfo());
    StreamHandle target(memory);
    const AVICOMPRESSOPTIONS o = optionsFor(mmioFOURCC('H', 'F', 'Y', 'U'));
    PAVISTREAM compressed = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, target.get(), &o), AVIERR_OK);
    StreamHandle holder(compressed);
    BITMAPINFOHEADER h;
    h.biWidth = kWidth;
    h.biHeight = -kHeight;
    h.biBitCount = 32;
    ASSERT_EQ(AVIStreamSetFormat(compressed, 0, &h, sizeof h), AVIERR_OK);
    const QImage source = picture(9);
    ASSERT_EQ(AVIStreamWrite(compressed, 0, 1, source.constBits(), LONG(source.sizeInBytes()), 0,
                             nullptr, nullptr),
              AVIERR_OK);
    holder.reset();
    GetterHandle getter(AVIStreamGetFrameOpen(target.get(), nullptr));
    ASSERT_TRUE(getter);
    EXPECT_TRUE(dibToBgr24(AVIStreamGetFrame(getter.get(), 0)) == imageToBgr24(source));
}

// Frame sizes a codec cannot take as they are (odd sizes for 4:2:0) are padded: the picture
// written is all there, at the top left, and the padding repeats its edges.
TEST(Compressors, OddFrameSizesArePadded) {
    const QImage source = picture(4, 61, 37);
    for (const Compressor& c : compressors()) {
        auto* memory = new MemoryStream(videoInfo());
        StreamHandle target(memory);
        const AVICOMPRESSOPTIONS o = defaultOptions(c);
        PAVISTREAM compressed = nullptr;
        ASSERT_EQ(AVIMakeCompressedStream(&compressed, target.get(), &o), AVIERR_OK);
        StreamHandle holder(compressed);
        const Dib d = dibOf(source);
        ASSERT_EQ(AVIStreamSetFormat(compressed, 0, &d.header, sizeof d.header), AVIERR_OK)
            << c.name.toStdString();
        ASSERT_EQ(AVIStreamWrite(compressed, 0, 1, d.bits.data(), LONG(d.bits.size()), 0, nullptr,
                                 nullptr),
                  AVIERR_OK)
            << c.name.toStdString();
        holder.reset();
        GetterHandle getter(AVIStreamGetFrameOpen(target.get(), nullptr));
        ASSERT_TRUE(getter) << c.name.toStdString();
        const void* dib = AVIStreamGetFrame(getter.get(), 0);
        ASSERT_TRUE(dib) << c.name.toStdString();
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        EXPECT_GE(h.biWidth, 61);
        EXPECT_LE(h.biWidth, 64);
        EXPECT_GE(h.biHeight, 37);
        EXPECT_LE(h.biHeight, 40);
        QString error;
        const TBitmap back = qdx::decodePackedDib(
            std::span(static_cast<const uint8_t*>(dib), packedDibSize(dib)), &error);
        ASSERT_FALSE(back.Empty());
        const QImage visible = back.Image().copy(0, 0, 61, 37);
        const double quality = psnr(imageToBgr24(visible), imageToBgr24(source));
        // A picture this small is mostly sharp colour edges, which 4:2:0 chroma blurs (an even
        // size of the same picture scores the same).
        EXPECT_GT(quality, c.lossless ? 999.0 : 20.0) << c.name.toStdString();
    }
}

// Misuse is refused with the layer's codes and writes nothing.
TEST(Compressors, MisuseIsRefused) {
    StreamHandle target(new MemoryStream(videoInfo()));
    AVICOMPRESSOPTIONS unknown;
    unknown.fccType = streamtypeVIDEO;
    unknown.fccHandler = mmioFOURCC('N', 'O', 'P', 'E');
    PAVISTREAM compressed = nullptr;
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, target.get(), &unknown), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(compressed, nullptr);

    AVISTREAMINFO audio;
    audio.fccType = streamtypeAUDIO;
    StreamHandle sound(new MemoryStream(audio));
    const AVICOMPRESSOPTIONS mjpeg = optionsFor(mmioFOURCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, sound.get(), &mjpeg), AVIERR_UNSUPPORTED);

    ASSERT_EQ(AVIMakeCompressedStream(&compressed, target.get(), &mjpeg), AVIERR_OK);
    StreamHandle holder(compressed);
    const Dib d = dibOf(picture(0));
    // No format yet.
    EXPECT_EQ(
        AVIStreamWrite(compressed, 0, 1, d.bits.data(), LONG(d.bits.size()), 0, nullptr, nullptr),
        AVIERR_BADFORMAT);
    // A compressed format is not a layout to compress from.
    BITMAPINFOHEADER jpeg = d.header;
    jpeg.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    EXPECT_EQ(AVIStreamSetFormat(compressed, 0, &jpeg, sizeof jpeg), AVIERR_BADFORMAT);
    ASSERT_EQ(AVIStreamSetFormat(compressed, 0, &d.header, sizeof d.header), AVIERR_OK);
    // The same format again is fine, another one is not.
    EXPECT_EQ(AVIStreamSetFormat(compressed, 0, &d.header, sizeof d.header), AVIERR_OK);
    BITMAPINFOHEADER other = d.header;
    other.biWidth = 32;
    EXPECT_EQ(AVIStreamSetFormat(compressed, 0, &other, sizeof other), AVIERR_UNSUPPORTED);
    // A frame cut short.
    EXPECT_EQ(AVIStreamWrite(compressed, 0, 1, d.bits.data(), 100, 0, nullptr, nullptr),
              AVIERR_BADSIZE);
    ASSERT_EQ(
        AVIStreamWrite(compressed, 3, 1, d.bits.data(), LONG(d.bits.size()), 0, nullptr, nullptr),
        AVIERR_OK);
    // Going back.
    EXPECT_EQ(
        AVIStreamWrite(compressed, 2, 1, d.bits.data(), LONG(d.bits.size()), 0, nullptr, nullptr),
        AVIERR_BADPARAM);
    // The target's own failure comes back to the writer (at the latest when the encoder lets
    // the sample out).
    static_cast<MemoryStream*>(target.get())->failWrites(AVIERR_FILEWRITE);
    HRESULT hr = AVIERR_OK;
    for (LONG p = 4; p < 20 && hr == AVIERR_OK; ++p)
        hr = AVIStreamWrite(compressed, p, 1, d.bits.data(), LONG(d.bits.size()), 0, nullptr,
                            nullptr);
    EXPECT_EQ(hr, AVIERR_FILEWRITE);
}

// Read through a compressor, a film gives its frames encoded again: sequential reads encode each
// frame once, key flags are the encoder's, and reading backwards gives the same samples.
TEST(Compressors, ReadingThroughACompressorReencodes) {
    // The source: ten MPEG-4 frames with a key frame every sixth.
    AVICOMPRESSOPTIONS sourceOptions = optionsFor(mmioFOURCC('X', 'V', 'I', 'D'));
    sourceOptions.dwKeyFrameEvery = 6;
    HRESULT hr;
    StreamHandle source(compressInto(sourceOptions, 10, &hr));
    ASSERT_EQ(hr, AVIERR_OK);
    AVICOMPRESSOPTIONS o = optionsFor(mmioFOURCC('M', 'J', 'P', 'G'));
    o.dwQuality = 9500;
    PAVISTREAM compressed = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, source.get(), &o), AVIERR_OK);
    StreamHandle reader(compressed);
    AVISTREAMINFO info;
    ASSERT_EQ(AVIStreamInfo(compressed, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccHandler, mmioFOURCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(AVIStreamLength(compressed), 10);
    // Writing to a stream being read is refused.
    EXPECT_EQ(AVIStreamWrite(compressed, 10, 1, "x", 1, 0, nullptr, nullptr), AVIERR_READONLY);

    auto* copy = new MemoryStream(videoInfo());
    StreamHandle decoded(copy);
    LONG size = 0;
    ASSERT_EQ(AVIStreamReadFormat(compressed, 0, nullptr, &size), AVIERR_OK);
    QByteArray format(size, 0);
    ASSERT_EQ(AVIStreamReadFormat(compressed, 0, format.data(), &size), AVIERR_OK);
    BITMAPINFOHEADER h;
    std::memcpy(&h, format.constData(), sizeof h);
    EXPECT_EQ(h.biCompression, mmioFOURCC('M', 'J', 'P', 'G'));
    copy->setFormat(0, format.constData(), size);
    std::vector<QByteArray> samples;
    for (LONG i = 0; i < 10; ++i) {
        LONG bytes = 0;
        ASSERT_EQ(AVIStreamRead(compressed, i, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
        QByteArray sample(bytes, 0);
        ASSERT_EQ(AVIStreamRead(compressed, i, 1, sample.data(), bytes, nullptr, nullptr),
                  AVIERR_OK);
        // Motion JPEG: every frame a key frame, whatever the source's were.
        EXPECT_EQ(AVIStreamFindSample(compressed, i, FIND_PREV | FIND_KEY), i);
        copy->write(i, 1, sample.constData(), bytes, AVIIF_KEYFRAME, nullptr, nullptr);
        samples.push_back(sample);
    }
    // Backwards: the encoder starts again and gives the same bytes.
    LONG bytes = 0;
    ASSERT_EQ(AVIStreamRead(compressed, 2, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    QByteArray again(bytes, 0);
    ASSERT_EQ(AVIStreamRead(compressed, 2, 1, again.data(), bytes, nullptr, nullptr), AVIERR_OK);
    EXPECT_TRUE(again == samples[2]);
    EXPECT_EQ(AVIStreamRead(compressed, 10, 1, nullptr, 0, &bytes, nullptr), AVIERR_NODATA);

    GetterHandle getter(AVIStreamGetFrameOpen(decoded.get(), nullptr));
    ASSERT_TRUE(getter);
    for (LONG i = 0; i < 10; ++i)
        EXPECT_GT(psnr(dibToBgr24(AVIStreamGetFrame(getter.get(), i)), imageToBgr24(picture(i))),
                  26.0)
            << i;

    // Through an encoder with key frames of its own, the flags are that encoder's.
    AVICOMPRESSOPTIONS keyed = optionsFor(mmioFOURCC('H', '2', '6', '4'));
    keyed.dwKeyFrameEvery = 4;
    PAVISTREAM h264 = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&h264, source.get(), &keyed), AVIERR_OK);
    StreamHandle h264Reader(h264);
    for (LONG i = 0; i < 10; ++i) {
        ASSERT_EQ(AVIStreamRead(h264, i, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
        EXPECT_EQ(AVIStreamFindSample(h264, i, FIND_PREV | FIND_KEY), i - i % 4) << i;
    }
}

// The chooser seam: without a chooser, uncompressed frames; an installed chooser answers and
// counts; a cancel answers false and leaves the blocks alone; memory in a block stays the
// caller's and AVISaveOptionsFree frees it.
TEST(Chooser, AnswersFromTheInstalledChooser) {
    StreamHandle video(new MemoryStream(videoInfo()));
    AVISTREAMINFO audioInfo;
    audioInfo.fccType = streamtypeAUDIO;
    StreamHandle audio(new MemoryStream(audioInfo));
    PAVISTREAM streams[2] = {video.get(), audio.get()};
    AVICOMPRESSOPTIONS videoOptions;
    AVICOMPRESSOPTIONS audioOptions;
    LPAVICOMPRESSOPTIONS blocks[2] = {&videoOptions, &audioOptions};

    ASSERT_EQ(setCompressorChooser(nullptr), nullptr);
    ASSERT_TRUE(AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME, 2, streams, blocks));
    EXPECT_EQ(videoOptions.fccType, streamtypeVIDEO);
    EXPECT_EQ(videoOptions.fccHandler, comptypeDIB);
    EXPECT_EQ(audioOptions.fccType, streamtypeAUDIO);

    AVICOMPRESSOPTIONS answer = optionsFor(mmioFOURCC('H', '2', '6', '4'));
    answer.dwQuality = 4321;
    PresetCompressorChooser preset(answer);
    setCompressorChooser(&preset);
    videoOptions.lpParms = std::malloc(16);
    videoOptions.cbParms = 16;
    void* parms = videoOptions.lpParms;
    ASSERT_TRUE(AVISaveOptions(nullptr, 7, 1, streams, blocks));
    EXPECT_EQ(preset.timesAsked(), 1);
    EXPECT_EQ(preset.lastFlags(), 7u);
    EXPECT_EQ(videoOptions.fccHandler, mmioFOURCC('H', '2', '6', '4'));
    EXPECT_EQ(videoOptions.dwQuality, 4321u);
    EXPECT_EQ(videoOptions.lpParms, parms);

    preset.setCancel(true);
    EXPECT_FALSE(AVISaveOptions(nullptr, 0, 1, streams, blocks));
    EXPECT_EQ(preset.timesAsked(), 2);
    EXPECT_EQ(videoOptions.dwQuality, 4321u);
    EXPECT_EQ(setCompressorChooser(nullptr), &preset);

    EXPECT_EQ(AVISaveOptionsFree(1, blocks), AVIERR_OK);
    EXPECT_EQ(videoOptions.lpParms, nullptr);
    EXPECT_EQ(videoOptions.cbParms, 0u);
    // A null block is refused without asking.
    LPAVICOMPRESSOPTIONS none[1] = {nullptr};
    EXPECT_FALSE(AVISaveOptions(nullptr, 0, 1, streams, none));
}

} // namespace
