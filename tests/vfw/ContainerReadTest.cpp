// Films written by ffmpeg, read through the layer and compared with what ffprobe reports.
#include "platform/avifile/RiffAviFile.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>

using namespace qdx::test;

namespace {

class FfmpegFilms : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool(QStringLiteral("ffmpeg")) || !haveTool(QStringLiteral("ffprobe")))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }

    // A film of `seconds` at 25 frames per second, 32x24, with 44.1 kHz mono sound when asked.
    QString film(const QString& name, const QStringList& codec, bool sound, int seconds = 1) {
        const QString path = dir.file(name);
        QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("testsrc=size=32x24:rate=25:duration=%1").arg(seconds)};
        if (sound)
            args +=
                {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                 QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds)};
        args += codec;
        if (sound)
            args += {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")};
        args += path;
        return ffmpegWrites(args) ? path : QString();
    }

    // Every stream's samples equal ffprobe's packets: count, size, key flag and bytes for video,
    // the whole byte stream for PCM sound.
    void expectSameAsProbe(const QString& path) {
        const std::vector<ProbedPacket> packets = probePackets(path);
        const std::vector<QJsonObject> probed = probeStreams(path);
        OpenedFile f(path);
        ASSERT_EQ(f.result, AVIERR_OK);
        AVIFILEINFOW info;
        ASSERT_EQ(AVIFileInfoW(f.file, &info, sizeof info), AVIERR_OK);
        ASSERT_EQ(info.dwStreams, probed.size());
        for (int s = 0; s < int(probed.size()); ++s) {
            PAVISTREAM raw = nullptr;
            ASSERT_EQ(AVIFileGetStream(f.file, &raw, 0, s), AVIERR_OK);
            qdx::vfw::StreamHandle stream(raw);
            AVISTREAMINFO si;
            ASSERT_EQ(AVIStreamInfo(raw, &si, sizeof si), AVIERR_OK);
            std::vector<ProbedPacket> mine;
            for (const ProbedPacket& p : packets)
                if (p.stream == s)
                    mine.push_back(p);
            if (si.fccType == streamtypeVIDEO) {
                ASSERT_EQ(AVIStreamLength(raw), LONG(mine.size()));
                EXPECT_EQ(si.dwLength, mine.size());
                const std::vector<QByteArray> samples = readAllSamples(raw);
                ASSERT_EQ(samples.size(), mine.size());
                for (size_t i = 0; i < mine.size(); ++i) {
                    EXPECT_EQ(samples[i].size(), mine[i].size) << "frame " << i;
                    EXPECT_EQ(md5(samples[i]), mine[i].md5) << "frame " << i;
                    const bool key =
                        AVIStreamFindSample(raw, LONG(i), FIND_PREV | FIND_KEY) == LONG(i);
                    EXPECT_EQ(key, mine[i].key) << "frame " << i;
                }
            } else {
                const QByteArray expected =
                    ffmpegOutput(path, {QStringLiteral("-map"), QStringLiteral("0:%1").arg(s),
                                        QStringLiteral("-c"), QStringLiteral("copy"),
                                        QStringLiteral("-f"), QStringLiteral("s16le")});
                EXPECT_EQ(si.dwSampleSize, 2u); // as stored: nBlockAlign of mono 16-bit
                EXPECT_EQ(AVIStreamLength(raw), LONG(expected.size() / 2));
                QByteArray all;
                for (const QByteArray& block : readAllSamples(raw, 4410))
                    all += block;
                EXPECT_EQ(md5(all), md5(expected));
            }
        }
    }

    TempDir dir;
};

TEST_F(FfmpegFilms, SamplesSizesAndKeyFramesMatchFfprobe) {
    const QString raw = film(QStringLiteral("raw.avi"),
                             {QStringLiteral("-c:v"), QStringLiteral("rawvideo"),
                              QStringLiteral("-pix_fmt"), QStringLiteral("bgr24")},
                             false);
    const QString mjpeg =
        film(QStringLiteral("mjpeg.avi"), {QStringLiteral("-c:v"), QStringLiteral("mjpeg")}, true);
    const QString bframes =
        film(QStringLiteral("bframes.avi"),
             {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-bf"),
              QStringLiteral("2"), QStringLiteral("-g"), QStringLiteral("6")},
             true);
    const QString plain =
        film(QStringLiteral("mpeg4.avi"),
             {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-bf"),
              QStringLiteral("0"), QStringLiteral("-g"), QStringLiteral("5")},
             false);
    for (const QString& path : {raw, mjpeg, bframes, plain}) {
        ASSERT_FALSE(path.isEmpty());
        SCOPED_TRACE(path.toStdString());
        expectSameAsProbe(path);
    }
}

TEST_F(FfmpegFilms, FileAndStreamInformation) {
    const QString path = film(QStringLiteral("info.avi"),
                              {QStringLiteral("-c:v"), QStringLiteral("mjpeg")}, true, 2);
    ASSERT_FALSE(path.isEmpty());
    OpenedFile f(path);
    ASSERT_EQ(f.result, AVIERR_OK);
    AVIFILEINFOW info;
    ASSERT_EQ(AVIFileInfoW(f.file, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwStreams, 2u);
    EXPECT_EQ(info.dwLength, 50u);
    EXPECT_EQ(info.dwWidth, 32u);
    EXPECT_EQ(info.dwHeight, 24u);
    EXPECT_EQ(info.dwRate, 1000000u);
    EXPECT_EQ(info.dwScale, 40000u);
    EXPECT_EQ(QString::fromUtf16(info.szFileType), QStringLiteral("AVI file"));
    EXPECT_TRUE(info.dwCaps & AVIFILECAPS_CANREAD);
    EXPECT_FALSE(info.dwCaps & AVIFILECAPS_CANWRITE);

    PAVISTREAM video = nullptr;
    PAVISTREAM audio = nullptr;
    PAVISTREAM none = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(f.file, &audio, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(AVIFileGetStream(f.file, &none, streamtypeAUDIO, 1), AVIERR_NODATA);
    EXPECT_EQ(none, nullptr);
    qdx::vfw::StreamHandle v(video), a(audio);
    AVISTREAMINFO vi, ai;
    ASSERT_EQ(AVIStreamInfo(video, &vi, sizeof vi), AVIERR_OK);
    ASSERT_EQ(AVIStreamInfo(audio, &ai, sizeof ai), AVIERR_OK);
    EXPECT_EQ(vi.fccHandler, mmioFOURCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(vi.dwRate / vi.dwScale, 25u);
    EXPECT_EQ(vi.rcFrame.right, 32);
    EXPECT_EQ(ai.dwRate / ai.dwScale, 44100u);
    EXPECT_EQ(AVIStreamStart(video), 0);
    EXPECT_EQ(AVIStreamLength(video), 50);
    EXPECT_EQ(AVIStreamLength(audio), 88200);

    LONG size = 0;
    ASSERT_EQ(AVIStreamReadFormat(video, 0, nullptr, &size), AVIERR_OK);
    ASSERT_GE(size, 40);
    std::vector<uint8_t> format(static_cast<size_t>(size));
    ASSERT_EQ(AVIStreamReadFormat(video, 0, format.data(), &size), AVIERR_OK);
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, format.data(), sizeof bih);
    EXPECT_EQ(bih.biWidth, 32);
    EXPECT_EQ(bih.biCompression, mmioFOURCC('M', 'J', 'P', 'G'));
    size = 0;
    ASSERT_EQ(AVIStreamReadFormat(audio, 0, nullptr, &size), AVIERR_OK);
    WAVEFORMATEX wf;
    ASSERT_GE(size, 16);
    LONG got = sizeof wf;
    ASSERT_EQ(AVIStreamReadFormat(audio, 0, &wf, &got), AVIERR_OK);
    EXPECT_EQ(wf.nSamplesPerSec, 44100u);
    EXPECT_EQ(wf.nBlockAlign, 2);

    // The engine's sound copy: frames 0 to 24 at 25 frames per second end at sample 42336,
    // the sample at 960 ms.
    EXPECT_EQ(AVIStreamTimeToSample(audio, 960), 42336);
    EXPECT_EQ(AVIStreamSampleToTime(audio, 42336), 960);
    EXPECT_EQ(AVIStreamSampleToTime(video, 25), 1000);
    EXPECT_EQ(AVIStreamTimeToSample(video, 999), 24);
}

TEST_F(FfmpegFilms, SoundReadsCrossChunksAndReportSizes) {
    const QString path =
        film(QStringLiteral("sound.avi"), {QStringLiteral("-c:v"), QStringLiteral("mjpeg")}, true);
    ASSERT_FALSE(path.isEmpty());
    const QByteArray pcm =
        ffmpegOutput(path, {QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-c"),
                            QStringLiteral("copy"), QStringLiteral("-f"), QStringLiteral("s16le")});
    OpenedFile f(path);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeAUDIO, 0), AVIERR_OK);
    qdx::vfw::StreamHandle audio(raw);

    // ffmpeg stores 1024 samples per chunk: 3000 samples from 1000 span four chunks.
    QByteArray buffer(6000, '\0');
    LONG bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(raw, 1000, 3000, buffer.data(), buffer.size(), &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 3000);
    EXPECT_EQ(bytes, 6000);
    EXPECT_EQ(buffer, pcm.mid(2000, 6000));

    // Sizes only.
    ASSERT_EQ(AVIStreamRead(raw, 0, 500, nullptr, 0, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 1000);
    EXPECT_EQ(samples, 500);
    // What is convenient: the rest of the chunk the sample lies in.
    ASSERT_EQ(AVIStreamRead(raw, 1000, AVISTREAMREAD_CONVENIENT, buffer.data(), buffer.size(),
                            &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 24);
    // A buffer for 10 samples gets 10; one too small for a sample gets nothing.
    ASSERT_EQ(AVIStreamRead(raw, 0, 100, buffer.data(), 20, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 10);
    EXPECT_EQ(AVIStreamRead(raw, 0, 100, buffer.data(), 1, &bytes, &samples),
              AVIERR_BUFFERTOOSMALL);
    // At the end there is nothing more to read; reading stops there.
    const LONG length = AVIStreamLength(raw);
    ASSERT_EQ(AVIStreamRead(raw, length - 10, 100, buffer.data(), buffer.size(), &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 10);
    ASSERT_EQ(AVIStreamRead(raw, length, 100, buffer.data(), buffer.size(), &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 0);

    PAVISTREAM rawVideo = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &rawVideo, streamtypeVIDEO, 0), AVIERR_OK);
    qdx::vfw::StreamHandle video(rawVideo);
    LONG frameBytes = 0;
    ASSERT_EQ(AVIStreamRead(rawVideo, 3, 1, nullptr, 0, &frameBytes, nullptr), AVIERR_OK);
    ASSERT_GT(frameBytes, 1);
    LONG needed = 0;
    EXPECT_EQ(AVIStreamRead(rawVideo, 3, 1, buffer.data(), frameBytes - 1, &needed, &samples),
              AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(needed, frameBytes);
    EXPECT_EQ(samples, 0);
}

TEST_F(FfmpegFilms, KeyFramesAreFoundBothWays) {
    const QString path =
        film(QStringLiteral("gop.avi"),
             {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-bf"),
              QStringLiteral("0"), QStringLiteral("-g"), QStringLiteral("6")},
             false);
    ASSERT_FALSE(path.isEmpty());
    std::vector<int> keys;
    int index = 0;
    for (const ProbedPacket& p : probePackets(path))
        if (p.stream == 0 && (p.key ? keys.push_back(index), true : true))
            ++index;
    ASSERT_GE(keys.size(), 3u);
    OpenedFile f(path);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
    qdx::vfw::StreamHandle video(raw);
    for (int i = 0; i < index; ++i) {
        int prev = -1, next = -1;
        for (int k : keys) {
            if (k <= i)
                prev = k;
            if (k >= i && next < 0)
                next = k;
        }
        EXPECT_EQ(AVIStreamFindSample(raw, i, FIND_PREV | FIND_KEY), prev) << i;
        EXPECT_EQ(AVIStreamFindSample(raw, i, FIND_NEXT | FIND_KEY), next) << i;
    }
    EXPECT_EQ(AVIStreamFindSample(raw, index, FIND_PREV | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(raw, -1, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(raw, index - 1, FIND_FROM_START | FIND_KEY), 0);
}

// A film cut in the middle of its movi list (a recording that was killed) opens with the frames
// before the cut; so does one whose index is gone, or counts from the file start.
TEST_F(FfmpegFilms, DamagedAndUnusualIndexesStillOpen) {
    const QString path = film(QStringLiteral("base.avi"),
                              {QStringLiteral("-c:v"), QStringLiteral("rawvideo"),
                               QStringLiteral("-pix_fmt"), QStringLiteral("bgr24")},
                              true);
    ASSERT_FALSE(path.isEmpty());
    const QByteArray whole = readAll(path);
    std::vector<QByteArray> frames;
    {
        OpenedFile f(path);
        PAVISTREAM raw = nullptr;
        ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
        qdx::vfw::StreamHandle video(raw);
        frames = readAllSamples(raw);
        ASSERT_EQ(frames.size(), 25u);
        EXPECT_EQ(dynamic_cast<qdx::vfw::RiffAviFile*>(f.file)->indexSource(),
                  qdx::vfw::AviIndex::Source::Idx1);
    }
    const qsizetype movi = whole.indexOf("movi");
    const qsizetype idx1 = whole.lastIndexOf("idx1");
    ASSERT_GT(movi, 0);
    ASSERT_GT(idx1, movi);

    auto expectFrames = [&](const QString& name, const QByteArray& data, size_t count,
                            qdx::vfw::AviIndex::Source source) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(writeAll(dir.file(name), data));
        OpenedFile f(dir.file(name));
        ASSERT_EQ(f.result, AVIERR_OK);
        EXPECT_EQ(dynamic_cast<qdx::vfw::RiffAviFile*>(f.file)->indexSource(), source);
        AVIFILEINFOW info;
        ASSERT_EQ(AVIFileInfoW(f.file, &info, sizeof info), AVIERR_OK);
        EXPECT_EQ(info.dwLength, count);
        PAVISTREAM raw = nullptr;
        ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
        qdx::vfw::StreamHandle video(raw);
        AVISTREAMINFO si;
        AVIStreamInfo(raw, &si, sizeof si);
        EXPECT_EQ(si.dwLength, count); // the header's 25 is corrected to what the file holds
        const std::vector<QByteArray> read = readAllSamples(raw);
        ASSERT_EQ(read.size(), count);
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(read[i], frames[i]) << i;
            EXPECT_EQ(AVIStreamFindSample(raw, LONG(i), FIND_PREV | FIND_KEY), LONG(i));
        }
    };

    // Cut in the middle of the movi list: every whole frame before the cut.
    const qsizetype cut = movi + (idx1 - movi) * 6 / 10;
    const QByteArray head = whole.left(cut);
    size_t before = 0;
    for (qsizetype at = head.indexOf("00dc", movi); at >= 0; at = head.indexOf("00dc", at + 4))
        if (at + 8 + 32 * 24 * 3 <= cut)
            ++before;
    ASSERT_GT(before, 5u);
    expectFrames(QStringLiteral("cut.avi"), head, before, qdx::vfw::AviIndex::Source::Scan);

    // Cut inside idx1: the entries left, then the rest by scanning.
    expectFrames(QStringLiteral("cutindex.avi"), whole.left(idx1 + 8 + 16 * 10), 25,
                 qdx::vfw::AviIndex::Source::Idx1);

    // No index at all.
    QByteArray noIndex = whole;
    noIndex.replace(idx1, 4, "JUNK");
    expectFrames(QStringLiteral("noindex.avi"), noIndex, 25, qdx::vfw::AviIndex::Source::Scan);

    // idx1 offsets counted from the start of the file instead of the movi list.
    QByteArray absolute = whole;
    const uint32_t count = qFromLittleEndian<uint32_t>(absolute.constData() + idx1 + 4) / 16;
    for (uint32_t i = 0; i < count; ++i) {
        char* offset = absolute.data() + idx1 + 8 + i * 16 + 8;
        qToLittleEndian<uint32_t>(qFromLittleEndian<uint32_t>(offset) + uint32_t(movi), offset);
    }
    expectFrames(QStringLiteral("absolute.avi"), absolute, 25, qdx::vfw::AviIndex::Source::Idx1);
}

} // namespace
