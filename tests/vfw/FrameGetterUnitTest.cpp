// The frame getter on streams written in memory: uncompressed layouts, dropped frames, hostile
// formats.

#include "platform/vfw/FrameGetterImpl.h"
#include "tests/support/FilmMaker.h"
#include "tests/vfw/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qdx::vfw;
using namespace qdx::vfw::test;
using namespace qdx::test;

namespace {

AVISTREAMINFO videoInfo() {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    return info;
}

QByteArray headerBytes(const BITMAPINFOHEADER& h) {
    return QByteArray(reinterpret_cast<const char*>(&h), sizeof h);
}

// An uncompressed 8-bit film: each frame comes back as stored, with its 1024-byte colour table,
// and the pixels are the indices written.
TEST(FrameGetter, PalettisedFramesCarryTheirColourTable) {
    StreamHandle stream(new MemoryStream(videoInfo()));
    BITMAPINFOHEADER h;
    h.biWidth = 6;
    h.biHeight = 3;
    h.biBitCount = 8;
    h.biClrUsed = 3; // a short table: the frame still carries all 256 entries
    QByteArray format = headerBytes(h);
    const RGBQUAD colours[3] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    format.append(reinterpret_cast<const char*>(colours), sizeof colours);
    ASSERT_EQ(AVIStreamSetFormat(stream.get(), 0, format.constData(), LONG(format.size())),
              AVIERR_OK);
    QByteArray pixels(8 * 3, 0); // stride 8
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            pixels[y * 8 + x] = char((x + y) % 3);
    ASSERT_EQ(AVIStreamWrite(stream.get(), 0, 1, pixels.constData(), LONG(pixels.size()),
                             AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    GetterHandle getter(AVIStreamGetFrameOpen(stream.get(), nullptr));
    ASSERT_TRUE(getter);
    auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(getter.get(), 0));
    ASSERT_TRUE(dib);
    BITMAPINFOHEADER out;
    std::memcpy(&out, dib, sizeof out);
    EXPECT_EQ(out.biBitCount, 8);
    EXPECT_EQ(out.biClrUsed, 0u);
    EXPECT_EQ(out.biSizeImage, 24u);
    EXPECT_EQ(std::memcmp(dib + 40, colours, sizeof colours), 0);
    EXPECT_EQ(std::memcmp(dib + 40 + 1024, pixels.constData(), 24), 0);
    EXPECT_EQ(packedDibSize(dib), size_t(40 + 1024 + 24));
    // The picture reads through the colour table (bottom row first: row 0 is the bottom).
    const QByteArray bgr = dibToBgr24(dib);
    ASSERT_EQ(bgr.size(), 6 * 3 * 3);
    EXPECT_EQ(uint8_t(bgr[2 * 18 + 2]), 255); // bottom-left pixel: index 0, red
}

// Other uncompressed layouts: top-down 24 bits and 5-6-5 bit fields come back as stored; asked
// for 24 bits they are converted; an empty sample shows the frame before it.
TEST(FrameGetter, UncompressedLayoutsAndDroppedFrames) {
    StreamHandle stream(new MemoryStream(videoInfo()));
    BITMAPINFOHEADER h;
    h.biWidth = 2;
    h.biHeight = 2;
    h.biBitCount = 16;
    h.biCompression = BI_BITFIELDS;
    QByteArray format = headerBytes(h);
    const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
    format.append(reinterpret_cast<const char*>(masks), sizeof masks);
    ASSERT_EQ(AVIStreamSetFormat(stream.get(), 0, format.constData(), LONG(format.size())),
              AVIERR_OK);
    const uint16_t frame0[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF}; // red, green / blue, white
    const uint16_t frame2[4] = {0x0000, 0x0000, 0x0000, 0x0000};
    ASSERT_EQ(AVIStreamWrite(stream.get(), 0, 1, frame0, 8, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    // Position 1 is left empty: a dropped frame.
    ASSERT_EQ(AVIStreamWrite(stream.get(), 2, 1, frame2, 8, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    ASSERT_EQ(AVIStreamLength(stream.get()), 3);

    GetterHandle stored(AVIStreamGetFrameOpen(stream.get(), nullptr));
    ASSERT_TRUE(stored);
    auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(stored.get(), 1));
    ASSERT_TRUE(dib);
    EXPECT_EQ(std::memcmp(dib + 40, masks, 12), 0);
    EXPECT_EQ(std::memcmp(dib + 52, frame0, 8), 0);
    dib = static_cast<const uint8_t*>(AVIStreamGetFrame(stored.get(), 2));
    ASSERT_TRUE(dib);
    EXPECT_EQ(std::memcmp(dib + 52, frame2, 8), 0);

    BITMAPINFOHEADER wanted;
    wanted.biBitCount = 24;
    GetterHandle converted(AVIStreamGetFrameOpen(stream.get(), &wanted));
    ASSERT_TRUE(converted);
    const QByteArray bgr = dibToBgr24(AVIStreamGetFrame(converted.get(), 0));
    ASSERT_EQ(bgr.size(), 12);
    // Top row (stored second): blue, white; bottom row: red, green.
    EXPECT_EQ(bgr.mid(0, 3), QByteArray("\xff\x00\x00", 3));
    EXPECT_EQ(bgr.mid(3, 3), QByteArray("\xff\xff\xff", 3));
    EXPECT_EQ(bgr.mid(6, 3), QByteArray("\x00\x00\xff", 3));
    EXPECT_EQ(bgr.mid(9, 3), QByteArray("\x00\xff\x00", 3));

    // A top-down 24-bit film keeps its negative height and row order.
    StreamHandle topDown(new MemoryStream(videoInfo()));
    BITMAPINFOHEADER t;
    t.biWidth = 1;
    t.biHeight = -2;
    t.biBitCount = 24;
    ASSERT_EQ(AVIStreamSetFormat(topDown.get(), 0, &t, sizeof t), AVIERR_OK);
    const uint8_t rows[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    ASSERT_EQ(AVIStreamWrite(topDown.get(), 0, 1, rows, 8, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    GetterHandle g(AVIStreamGetFrameOpen(topDown.get(), nullptr));
    ASSERT_TRUE(g);
    dib = static_cast<const uint8_t*>(AVIStreamGetFrame(g.get(), 0));
    ASSERT_TRUE(dib);
    BITMAPINFOHEADER out;
    std::memcpy(&out, dib, sizeof out);
    EXPECT_EQ(out.biHeight, -2);
    EXPECT_EQ(std::memcmp(dib + 40, rows, 8), 0);
}

// Broken or unknown formats give no getter; broken samples give no frame, and the getter goes on.
TEST(FrameGetter, HostileFormatsAndSamplesAreRefused) {
    auto open = [](const QByteArray& format) {
        StreamHandle stream(new MemoryStream(videoInfo()));
        stream->setFormat(0, format.constData(), LONG(format.size()));
        const char sample[16] = {1, 2, 3};
        stream->write(0, 1, sample, sizeof sample, AVIIF_KEYFRAME, nullptr, nullptr);
        return GetterHandle(AVIStreamGetFrameOpen(stream.get(), nullptr));
    };
    BITMAPINFOHEADER h;
    h.biWidth = 16;
    h.biHeight = 16;
    h.biBitCount = 24;
    EXPECT_FALSE(open(headerBytes(h).left(30))) << "a cut header";
    h.biWidth = 100000;
    EXPECT_FALSE(open(headerBytes(h))) << "an absurd width";
    h.biWidth = 16;
    h.biHeight = 0;
    EXPECT_FALSE(open(headerBytes(h))) << "no height";
    h.biHeight = 16;
    h.biBitCount = 7;
    EXPECT_FALSE(open(headerBytes(h))) << "an impossible bit count";
    h.biBitCount = 24;
    h.biCompression = mmioFOURCC('Z', 'Z', 'Z', '9');
    EXPECT_FALSE(open(headerBytes(h))) << "an unknown compression";
    h.biCompression = BI_BITFIELDS;
    EXPECT_FALSE(open(headerBytes(h))) << "bit fields at 24 bits";

    // A known codec fed garbage: the getter opens, the frame does not decode.
    h.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    GetterHandle garbage = open(headerBytes(h));
    ASSERT_TRUE(garbage);
    EXPECT_EQ(AVIStreamGetFrame(garbage.get(), 0), nullptr);

    // An uncompressed frame cut short gives no frame (a few bytes never become a whole frame);
    // the whole frame after it still reads.
    h = BITMAPINFOHEADER();
    h.biWidth = 4096;
    h.biHeight = 4096;
    h.biBitCount = 32;
    StreamHandle cut(new MemoryStream(videoInfo()));
    ASSERT_EQ(AVIStreamSetFormat(cut.get(), 0, &h, sizeof h), AVIERR_OK);
    const char few[8] = {};
    ASSERT_EQ(AVIStreamWrite(cut.get(), 0, 1, few, sizeof few, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    std::vector<char> whole(size_t(4096) * 4096 * 4, 7);
    ASSERT_EQ(AVIStreamWrite(cut.get(), 1, 1, whole.data(), LONG(whole.size()), AVIIF_KEYFRAME,
                             nullptr, nullptr),
              AVIERR_OK);
    GetterHandle cutGetter(AVIStreamGetFrameOpen(cut.get(), nullptr));
    ASSERT_TRUE(cutGetter);
    EXPECT_EQ(AVIStreamGetFrame(cutGetter.get(), 0), nullptr);
    const auto* frame = static_cast<const uint8_t*>(AVIStreamGetFrame(cutGetter.get(), 1));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame[40 + whole.size() - 1], 7);

    // A stream that is not video.
    AVISTREAMINFO audio;
    audio.fccType = streamtypeAUDIO;
    StreamHandle sound(new MemoryStream(audio));
    WAVEFORMATEX w;
    sound->setFormat(0, &w, sizeof w);
    EXPECT_EQ(AVIStreamGetFrameOpen(sound.get(), nullptr), nullptr);
}

} // namespace
