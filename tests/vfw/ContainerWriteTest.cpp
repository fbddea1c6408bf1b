// Films and sound files written through the layer, checked by ffprobe and decoded by ffmpeg.
#include "platform/avifile/RiffAviFile.h"
#include "platform/avifile/RiffAviWriter.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>

using namespace qdx::test;
using qdx::vfw::AviIndex;
using qdx::vfw::StreamHandle;

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 24;

// Writes a film through the layer: frames of `width` x `height` at 24 bits and 25 frames per
// second at the positions given, and, when `rate` is not 0, 16-bit stereo sound that lasts as
// long, in chunks of a tenth of a second.
class FilmWriter {
public:
    FilmWriter(const QString& path, int width, int height, int rate = 0)
        : m_width(width), m_height(height), m_rate(rate) {
        AVIFileInit();
        EXPECT_EQ(AVIFileOpen(&m_file, path, OF_CREATE | OF_WRITE), AVIERR_OK);
        const AVISTREAMINFO info = videoHeader(width, height, 25);
        EXPECT_EQ(AVIFileCreateStream(m_file, &m_video, &info), AVIERR_OK);
        const BITMAPINFOHEADER format = frameFormat(width, height, 24);
        EXPECT_EQ(AVIStreamSetFormat(m_video, 0, &format, sizeof format), AVIERR_OK);
        if (rate > 0) {
            const AVISTREAMINFO sound = pcmHeader(rate, 2);
            EXPECT_EQ(AVIFileCreateStream(m_file, &m_audio, &sound), AVIERR_OK);
            const WAVEFORMATEX wf = pcmFormat(rate, 2);
            EXPECT_EQ(AVIStreamSetFormat(m_audio, 0, &wf, sizeof wf), AVIERR_OK);
        }
    }
    ~FilmWriter() { close(); }

    void frame(int position) {
        const std::vector<uint8_t> pixels = framePixels(m_width, m_height, 24, position);
        ASSERT_EQ(AVIStreamWrite(m_video, position, 1, pixels.data(), LONG(pixels.size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        if (m_audio) {
            // Sound up to the end of this frame.
            const int64_t end = int64_t(position + 1) * m_rate / 25;
            while (m_soundWritten < end) {
                const int64_t n = std::min<int64_t>(m_rate / 10, end - m_soundWritten);
                const std::vector<uint8_t> pcm = pcmSamples(m_soundWritten, n, 2);
                m_sound.append(reinterpret_cast<const char*>(pcm.data()), qsizetype(pcm.size()));
                LONG written = 0;
                ASSERT_EQ(AVIStreamWrite(m_audio, LONG(m_soundWritten), LONG(n), pcm.data(),
                                         LONG(pcm.size()), AVIIF_KEYFRAME, &written, nullptr),
                          AVIERR_OK);
                ASSERT_EQ(written, n);
                m_soundWritten += n;
            }
        }
    }
    void close() {
        if (m_audio)
            AVIStreamRelease(m_audio);
        if (m_video)
            AVIStreamRelease(m_video);
        if (m_file) {
            EXPECT_EQ(AVIFileRelease(m_file), 0u);
            AVIFileExit();
        }
        m_file = nullptr;
        m_video = m_audio = nullptr;
    }
    PAVIFILE file() const { return m_file; }
    const QByteArray& sound() const { return m_sound; }

private:
    int m_width;
    int m_height;
    int m_rate;
    PAVIFILE m_file = nullptr;
    PAVISTREAM m_video = nullptr;
    PAVISTREAM m_audio = nullptr;
    int64_t m_soundWritten = 0;
    QByteArray m_sound;
};

// A written frame as ffmpeg decodes it to top-down BGR rows.
QByteArray topDown(int width, int height, int position) {
    const std::vector<uint8_t> pixels = framePixels(width, height, 24, position);
    const int stride = ((width * 24 + 31) / 32) * 4;
    QByteArray out;
    for (int y = height - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char*>(pixels.data()) + y * stride, width * 3);
    return out;
}

QByteArray decodedVideo(const QString& path) {
    return ffmpegOutput(path, {QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-f"),
                               QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                               QStringLiteral("bgr24")});
}

QByteArray decodedSound(const QString& path, const char* format = "s16le") {
    return ffmpegOutput(path, {QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-f"),
                               QString::fromLatin1(format)});
}

QJsonObject streamOfType(const std::vector<QJsonObject>& streams, const char* type) {
    for (const QJsonObject& s : streams)
        if (s[QStringLiteral("codec_type")].toString() == QLatin1String(type))
            return s;
    return {};
}

class WrittenFilms : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool(QStringLiteral("ffmpeg")) || !haveTool(QStringLiteral("ffprobe")))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
    void TearDown() override { qdx::vfw::setOpenDmlThreshold(0); }

    // ffprobe sees `frames` frames of rawvideo (and PCM sound when `sound` is not empty) lasting
    // frames / 25 seconds, and ffmpeg decodes every frame and the sound to what was written.
    void expectDecodes(const QString& path, int width, int height, int frames,
                       const QByteArray& sound) {
        QJsonObject format;
        const std::vector<QJsonObject> streams = probeStreams(path, &format);
        ASSERT_EQ(streams.size(), sound.isEmpty() ? 1u : 2u);
        const QJsonObject video = streamOfType(streams, "video");
        EXPECT_EQ(video[QStringLiteral("codec_name")].toString(), QStringLiteral("rawvideo"));
        EXPECT_EQ(video[QStringLiteral("width")].toInt(), width);
        EXPECT_EQ(video[QStringLiteral("nb_read_packets")].toString().toInt(), frames);
        EXPECT_NEAR(format[QStringLiteral("duration")].toString().toDouble(), frames / 25.0, 0.05);
        QByteArray expected;
        for (int i = 0; i < frames; ++i)
            expected += topDown(width, height, i);
        const QByteArray decoded = decodedVideo(path);
        EXPECT_EQ(decoded.size(), expected.size());
        EXPECT_TRUE(decoded == expected) << "decoded frames differ from those written";
        if (!sound.isEmpty()) {
            const QJsonObject audio = streamOfType(streams, "audio");
            EXPECT_EQ(audio[QStringLiteral("codec_name")].toString(), QStringLiteral("pcm_s16le"));
            EXPECT_EQ(audio[QStringLiteral("channels")].toInt(), 2);
            EXPECT_TRUE(decodedSound(path) == sound) << "decoded sound differs";
        }
    }

    TempDir dir;
};

TEST_F(WrittenFilms, UncompressedFramesWithAndWithoutSound) {
    const QString silent = dir.file(QStringLiteral("silent.avi"));
    {
        FilmWriter w(silent, kWidth, kHeight);
        for (int i = 0; i < 12; ++i)
            w.frame(i);
    }
    expectDecodes(silent, kWidth, kHeight, 12, {});

    const QString sound = dir.file(QStringLiteral("sound.avi"));
    QByteArray pcm;
    {
        FilmWriter w(sound, kWidth, kHeight, 44100);
        for (int i = 0; i < 12; ++i)
            w.frame(i);
        pcm = w.sound();
    }
    expectDecodes(sound, kWidth, kHeight, 12, pcm);

    // Our own reader: the headers patched at the end.
    OpenedFile f(sound);
    ASSERT_EQ(f.result, AVIERR_OK);
    AVIFILEINFOW info;
    ASSERT_EQ(AVIFileInfoW(f.file, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwLength, 12u);
    EXPECT_EQ(info.dwStreams, 2u);
    EXPECT_EQ(info.dwScale, 40000u);
    EXPECT_EQ(info.dwWidth, DWORD(kWidth));
    // The largest chunk: a frame's sound (1764 samples of 4 bytes) is larger than a frame.
    EXPECT_EQ(info.dwSuggestedBufferSize, 1764u * 4);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeAUDIO, 0), AVIERR_OK);
    StreamHandle audio(raw);
    EXPECT_EQ(AVIStreamLength(raw), 12 * 44100 / 25);
    AVISTREAMINFO si;
    AVIStreamInfo(raw, &si, sizeof si);
    EXPECT_EQ(si.dwSampleSize, 4u);
}

// Positions skipped by the writer (frames that could not be read) stay empty chunks: the film
// keeps its length and every frame its time. ffprobe counts the frames in the header and gives
// the written ones their positions (ffmpeg passes over empty chunks when it reads packets).
TEST_F(WrittenFilms, SkippedPositionsBecomeEmptyChunks) {
    const QString path = dir.file(QStringLiteral("gaps.avi"));
    {
        FilmWriter w(path, kWidth, kHeight);
        for (int i : {0, 1, 4, 5, 9})
            w.frame(i);
    }
    QJsonObject format;
    const std::vector<QJsonObject> streams = probeStreams(path, &format);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0][QStringLiteral("nb_frames")].toString(), QStringLiteral("10"));
    EXPECT_NEAR(format[QStringLiteral("duration")].toString().toDouble(), 0.4, 0.001);
    std::vector<int64_t> positions;
    for (const ProbedPacket& p : probePackets(path))
        positions.push_back(p.pts);
    EXPECT_EQ(positions, (std::vector<int64_t>{0, 1, 4, 5, 9}));
    const QByteArray data = readAll(path);
    const qsizetype idx1 = data.lastIndexOf("idx1");
    ASSERT_GT(idx1, 0);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(data.constData() + idx1 + 4), 10u * 16);
    OpenedFile f(path);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
    StreamHandle video(raw);
    EXPECT_EQ(AVIStreamLength(raw), 10);
    EXPECT_EQ(AVIStreamFindSample(raw, 3, FIND_PREV | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(raw, 3, FIND_NEXT | FIND_ANY), 4);
}

// Past the OpenDML threshold the film goes on in AVIX extents; ffmpeg and our reader see all of
// it, through the indx/ix## indexes.
TEST_F(WrittenFilms, PastTheOpenDmlThresholdTheFilmIsWrittenWhole) {
    qdx::vfw::setOpenDmlThreshold(1 << 20);
    const QString path = dir.file(QStringLiteral("large.avi"));
    const int frames = 300; // 64x48 at 24 bits: 2.7 MB of frames, and sound
    QByteArray pcm;
    {
        FilmWriter w(path, 64, 48, 8000);
        for (int i = 0; i < frames; ++i)
            w.frame(i);
        pcm = w.sound();
    }
    const QByteArray data = readAll(path);
    EXPECT_GE(data.count("AVIX"), 2);
    EXPECT_TRUE(data.contains("indx"));
    EXPECT_TRUE(data.contains("dmlh"));
    EXPECT_TRUE(data.contains("ix00"));
    EXPECT_TRUE(data.contains("ix01"));
    // Every RIFF part stays below the threshold.
    for (qsizetype at = 0; at + 8 <= data.size();) {
        const uint32_t size = qFromLittleEndian<uint32_t>(data.constData() + at + 4);
        EXPECT_EQ(data.mid(at, 4), QByteArray("RIFF"));
        EXPECT_LE(size + 8, 1u << 20);
        at += 8 + size + (size & 1);
    }
    expectDecodes(path, 64, 48, frames, pcm);

    OpenedFile f(path);
    ASSERT_EQ(f.result, AVIERR_OK);
    EXPECT_EQ(dynamic_cast<qdx::vfw::RiffAviFile*>(f.file)->indexSource(),
              AviIndex::Source::OpenDml);
    AVIFILEINFOW info;
    AVIFileInfoW(f.file, &info, sizeof info);
    EXPECT_EQ(info.dwLength, DWORD(frames));
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
    StreamHandle video(raw);
    const std::vector<QByteArray> read = readAllSamples(raw);
    ASSERT_EQ(read.size(), size_t(frames));
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t> expected = framePixels(64, 48, 24, i);
        ASSERT_EQ(read[size_t(i)], QByteArray(reinterpret_cast<const char*>(expected.data()),
                                              qsizetype(expected.size())))
            << i;
    }
}

// A recording flushes now and then; whenever the program dies, the film opens with what was
// flushed (in every reader) and with what reached the disk after it (in ours).
TEST_F(WrittenFilms, FlushedFilmOpensWhereverTheProgramStopped) {
    for (const bool extents : {false, true}) {
        SCOPED_TRACE(extents ? "in OpenDML extents" : "in the first RIFF");
        qdx::vfw::setOpenDmlThreshold(extents ? 256 * 1024 : 0);
        const QString path = dir.file(QStringLiteral("recording.avi"));
        const QString killed = dir.file(QStringLiteral("killed.avi"));
        FilmWriter w(path, 64, 48);
        int written = 0;
        for (; written < 100; ++written)
            w.frame(written);
        ASSERT_EQ(qdx::vfw::flushFile(w.file()), AVIERR_OK);
        QFile::remove(killed);
        ASSERT_TRUE(QFile::copy(path, killed));
        {
            const std::vector<ProbedPacket> packets = probePackets(killed);
            EXPECT_EQ(packets.size(), 100u);
            OpenedFile f(killed);
            ASSERT_EQ(f.result, AVIERR_OK);
            EXPECT_EQ(dynamic_cast<qdx::vfw::RiffAviFile*>(f.file)->indexSource(),
                      extents ? AviIndex::Source::OpenDml : AviIndex::Source::Idx1);
            AVIFILEINFOW info;
            AVIFileInfoW(f.file, &info, sizeof info);
            EXPECT_EQ(info.dwLength, 100u);
        }
        // More frames than the write buffer holds: some of them reach the disk unflushed.
        for (; written < 400; ++written)
            w.frame(written);
        QFile::remove(killed);
        ASSERT_TRUE(QFile::copy(path, killed));
        {
            OpenedFile f(killed);
            ASSERT_EQ(f.result, AVIERR_OK);
            PAVISTREAM raw = nullptr;
            ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
            StreamHandle video(raw);
            const std::vector<QByteArray> read = readAllSamples(raw);
            EXPECT_GT(read.size(), 300u);
            EXPECT_LE(read.size(), 400u);
            for (size_t i = 0; i < read.size(); ++i) {
                const std::vector<uint8_t> expected = framePixels(64, 48, 24, int(i));
                ASSERT_EQ(read[i], QByteArray(reinterpret_cast<const char*>(expected.data()),
                                              qsizetype(expected.size())))
                    << i;
            }
            EXPECT_GE(probePackets(killed).size(), 100u);
        }
        w.close();
        expectDecodes(path, 64, 48, 400, {});
    }
}

TEST_F(WrittenFilms, EightBitFramesKeepTheirColourTable) {
    const QString path = dir.file(QStringLiteral("grey.avi"));
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } format;
    format.header = frameFormat(kWidth, kHeight, 8);
    format.header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i)
        format.colours[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    {
        OpenedFile f(path, OF_CREATE | OF_WRITE);
        ASSERT_EQ(f.result, AVIERR_OK);
        const AVISTREAMINFO info = videoHeader(kWidth, kHeight, 10);
        PAVISTREAM raw = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f.file, &raw, &info), AVIERR_OK);
        StreamHandle video(raw);
        ASSERT_EQ(AVIStreamSetFormat(raw, 0, &format, sizeof format), AVIERR_OK);
        for (int i = 0; i < 5; ++i) {
            const std::vector<uint8_t> pixels = framePixels(kWidth, kHeight, 8, i);
            ASSERT_EQ(AVIStreamWrite(raw, i, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME,
                                     nullptr, nullptr),
                      AVIERR_OK);
        }
    }
    const QByteArray decoded =
        ffmpegOutput(path, {QStringLiteral("-f"), QStringLiteral("rawvideo"),
                            QStringLiteral("-pix_fmt"), QStringLiteral("rgb24")});
    QByteArray expected;
    for (int i = 0; i < 5; ++i) {
        const std::vector<uint8_t> pixels = framePixels(kWidth, kHeight, 8, i);
        for (int y = kHeight - 1; y >= 0; --y)
            for (int x = 0; x < kWidth; ++x)
                expected += QByteArray(3, char(pixels[size_t(y * kWidth + x)]));
    }
    EXPECT_TRUE(decoded == expected) << "decoded " << decoded.size() << " bytes";
}

// Sound files: what the layer writes, ffmpeg plays; what ffmpeg writes, the layer reads.
TEST_F(WrittenFilms, WaveFilesBothWays) {
    const QString path = dir.file(QStringLiteral("tone.wav"));
    QByteArray written;
    {
        OpenedFile f(path, OF_CREATE | OF_WRITE);
        ASSERT_EQ(f.result, AVIERR_OK);
        const AVISTREAMINFO info = pcmHeader(22050, 2);
        PAVISTREAM raw = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f.file, &raw, &info), AVIERR_OK);
        StreamHandle audio(raw);
        const WAVEFORMATEX wf = pcmFormat(22050, 2);
        ASSERT_EQ(AVIStreamSetFormat(raw, 0, &wf, sizeof wf), AVIERR_OK);
        for (int64_t at = 0; at < 22050; at += 5000) {
            const int64_t n = std::min<int64_t>(5000, 22050 - at);
            const std::vector<uint8_t> pcm = pcmSamples(at, n, 2);
            ASSERT_EQ(AVIStreamWrite(raw, LONG(at), LONG(n), pcm.data(), LONG(pcm.size()),
                                     AVIIF_KEYFRAME, nullptr, nullptr),
                      AVIERR_OK);
            written.append(reinterpret_cast<const char*>(pcm.data()), qsizetype(pcm.size()));
        }
        // A position past the end: the gap becomes silence.
        const std::vector<uint8_t> tail = pcmSamples(0, 100, 2);
        ASSERT_EQ(AVIStreamWrite(raw, 22050 + 50, 100, tail.data(), LONG(tail.size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        written += QByteArray(50 * 4, '\0');
        written.append(reinterpret_cast<const char*>(tail.data()), qsizetype(tail.size()));
        EXPECT_EQ(AVIStreamLength(raw), 22200);
    }
    QJsonObject format;
    const std::vector<QJsonObject> streams = probeStreams(path, &format);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0][QStringLiteral("codec_name")].toString(), QStringLiteral("pcm_s16le"));
    EXPECT_EQ(streams[0][QStringLiteral("sample_rate")].toString(), QStringLiteral("22050"));
    EXPECT_EQ(streams[0][QStringLiteral("channels")].toInt(), 2);
    EXPECT_NEAR(format[QStringLiteral("duration")].toString().toDouble(), 22200 / 22050.0, 0.001);
    EXPECT_TRUE(decodedSound(path) == written);

    // 8-bit mono with an odd number of samples: the data chunk is padded, the file still whole.
    const QString odd = dir.file(QStringLiteral("odd.wav"));
    {
        OpenedFile f(odd, OF_CREATE | OF_WRITE);
        AVISTREAMINFO info = pcmHeader(8000, 1);
        PAVISTREAM raw = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f.file, &raw, &info), AVIERR_OK);
        StreamHandle audio(raw);
        const WAVEFORMATEX wf = pcmFormat(8000, 1, 8);
        ASSERT_EQ(AVIStreamSetFormat(raw, 0, &wf, sizeof wf), AVIERR_OK);
        const QByteArray bytes(801, '\x90');
        ASSERT_EQ(AVIStreamWrite(raw, 0, 801, bytes.constData(), 801, 0, nullptr, nullptr),
                  AVIERR_OK);
    }
    EXPECT_EQ(QFileInfo(odd).size() % 2, 0);
    EXPECT_EQ(decodedSound(odd, "u8"), QByteArray(801, '\x90'));

    // ffmpeg's own WAVE file (it adds a LIST chunk) reads as ffmpeg decodes it.
    const QString theirs = dir.file(QStringLiteral("theirs.wav"));
    ASSERT_TRUE(ffmpegWrites({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                              QStringLiteral("sine=frequency=300:sample_rate=11025:duration=0.7"),
                              QStringLiteral("-ac"), QStringLiteral("2"), theirs}));
    const QByteArray expected = decodedSound(theirs);
    OpenedFile f(theirs);
    ASSERT_EQ(f.result, AVIERR_OK);
    AVIFILEINFOW info;
    AVIFileInfoW(f.file, &info, sizeof info);
    EXPECT_EQ(QString::fromUtf16(info.szFileType), QStringLiteral("Wave file"));
    EXPECT_EQ(info.dwStreams, 1u);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeAUDIO, 0), AVIERR_OK);
    StreamHandle audio(raw);
    EXPECT_EQ(AVIStreamLength(raw), expected.size() / 4);
    QByteArray all;
    for (const QByteArray& block : readAllSamples(raw, 1000))
        all += block;
    EXPECT_TRUE(all == expected);
    EXPECT_EQ(AVIStreamTimeToSample(raw, 500), 5513);
}

} // namespace
