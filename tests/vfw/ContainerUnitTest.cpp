// The RIFF AVI and WAVE files of the AVI layer, on files made by hand and by the layer itself.
#include "platform/avifile/RiffAviFile.h"
#include "platform/avifile/RiffAviWriter.h"
#include "tests/support/FilmMaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include <cstring>
#include <functional>

using namespace qdx::test;
using qdx::vfw::AviIndex;
using qdx::vfw::StreamHandle;

namespace {

QByteArray le32(uint32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le16(uint16_t v) {
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// Builds RIFF files by hand, for files that tools do not write.
class RiffBuilder {
public:
    // Starts a RIFF or LIST with the form type; end() closes the innermost.
    RiffBuilder& begin(const char* id, const char* type) {
        m_open.push_back(m_data.size());
        m_data.append(id, 4);
        m_data.append(le32(0));
        m_data.append(type, 4);
        return *this;
    }
    RiffBuilder& end() {
        const int64_t at = m_open.back();
        m_open.pop_back();
        qToLittleEndian(uint32_t(m_data.size() - at - 8), m_data.data() + at + 4);
        return *this;
    }
    // A chunk; returns the offset of its header.
    int64_t chunk(uint32_t id, const QByteArray& data) {
        const int64_t at = m_data.size();
        m_data.append(le32(id));
        m_data.append(le32(uint32_t(data.size())));
        m_data.append(data);
        if (data.size() & 1)
            m_data.append('\0');
        return at;
    }
    int64_t chunk(const char* id, const QByteArray& data) { return chunk(fourcc(id), data); }
    int64_t offset() const { return m_data.size(); }
    QByteArray& data() { return m_data; }

private:
    QByteArray m_data;
    std::vector<int64_t> m_open;
};

QByteArray streamHeader(const char* type, const char* handler, uint32_t scale, uint32_t rate,
                        uint32_t length, uint32_t sampleSize) {
    QByteArray h;
    h += QByteArray(type, 4);
    h += QByteArray(handler, 4);
    h += le32(0) + le32(0) + le32(0);               // flags, priority and language, initial frames
    h += le32(scale) + le32(rate) + le32(0);        // scale, rate, start
    h += le32(length) + le32(0) + le32(0xFFFFFFFF); // length, buffer size, quality
    h += le32(sampleSize);
    h += le16(0) + le16(0) + le16(4) + le16(2); // frame rectangle
    return h;
}

QByteArray videoFormat(int width, int height) {
    QByteArray f;
    f += le32(40) + le32(uint32_t(width)) + le32(uint32_t(height)) + le16(1) + le16(8);
    f += le32(0) + le32(uint32_t(width * height)) + le32(0) + le32(0) + le32(0) + le32(0);
    return f;
}

QByteArray pcmFormatBytes() {
    const WAVEFORMATEX f = pcmFormat(8000, 1);
    return QByteArray(reinterpret_cast<const char*>(&f), sizeof f);
}

QByteArray frame(int index, int size = 8) {
    return QByteArray(size, char('A' + index));
}

// A hand-made film: a video stream of 4x2 8-bit frames and an 8 kHz PCM stream. The movi list is
// filled by `fill`; the header's lengths say 99 (wrong on purpose).
QByteArray handMade(const std::function<void(RiffBuilder&, int64_t moviForm)>& fill,
                    const std::function<void(RiffBuilder&, int64_t moviForm)>& after = {}) {
    RiffBuilder b;
    b.begin("RIFF", "AVI ");
    b.begin("LIST", "hdrl");
    QByteArray avih = le32(40000) + le32(0) + le32(0) + le32(0x10) + le32(99) + le32(0) + le32(2) +
                      le32(0) + le32(4) + le32(2) + QByteArray(16, '\0');
    b.chunk("avih", avih);
    b.begin("LIST", "strl");
    b.chunk("strh", streamHeader("vids", "\0\0\0\0", 1, 25, 99, 0));
    b.chunk("strf", videoFormat(4, 2));
    b.chunk("strn", QByteArray("Pictures", 9));
    b.end();
    b.begin("LIST", "strl");
    b.chunk("strh", streamHeader("auds", "\0\0\0\0", 2, 16000, 99, 2));
    b.chunk("strf", pcmFormatBytes());
    b.end();
    b.end();
    b.begin("LIST", "movi");
    const int64_t moviForm = b.offset() - 4;
    fill(b, moviForm);
    b.end();
    if (after)
        after(b, moviForm);
    b.end();
    return b.data();
}

QByteArray idx1Entry(const char* id, uint32_t flags, uint32_t offset, uint32_t size) {
    return QByteArray(id, 4) + le32(flags) + le32(offset) + le32(size);
}

struct Reader {
    explicit Reader(const QString& path) : file(path) {
        if (file.file) {
            PAVISTREAM v = nullptr, a = nullptr;
            AVIFileGetStream(file.file, &v, streamtypeVIDEO, 0);
            AVIFileGetStream(file.file, &a, streamtypeAUDIO, 0);
            video.reset(v);
            audio.reset(a);
        }
    }
    AviIndex::Source source() const {
        return dynamic_cast<qdx::vfw::RiffAviFile*>(file.file)->indexSource();
    }
    OpenedFile file;
    StreamHandle video;
    StreamHandle audio;
};

class HandMadeFiles : public ::testing::Test {
protected:
    QString save(const QString& name, const QByteArray& data) {
        const QString path = dir.file(name);
        EXPECT_TRUE(writeAll(path, data));
        return path;
    }
    TempDir dir;
};

// Grouped "rec " lists, dropped (empty) frames and an idx1 with list entries: samples, sizes and
// key flags come from the index, lengths from what the file holds.
TEST_F(HandMadeFiles, RecListsEmptyChunksAndIdx1) {
    std::vector<int64_t> at;
    const QByteArray data = handMade(
        [&](RiffBuilder& b, int64_t) {
            b.begin("LIST", "rec ");
            at.push_back(b.chunk("00db", frame(0)));
            at.push_back(b.chunk("01wb", QByteArray(6, 'x')));
            b.end();
            b.begin("LIST", "rec ");
            at.push_back(b.chunk("00db", QByteArray()));
            at.push_back(b.chunk("01wb", QByteArray(4, 'y')));
            b.end();
            at.push_back(b.chunk("00dc", frame(2)));
        },
        [&](RiffBuilder& b, int64_t moviForm) {
            auto rel = [&](int64_t o) {
                return uint32_t(o - moviForm);
            };
            b.chunk("idx1", idx1Entry("rec ", AVIIF_LIST, rel(at[0] - 12), 30) +
                                idx1Entry("00db", AVIIF_KEYFRAME, rel(at[0]), 8) +
                                idx1Entry("01wb", AVIIF_KEYFRAME, rel(at[1]), 6) +
                                idx1Entry("00db", 0, rel(at[2]), 0) +
                                idx1Entry("01wb", AVIIF_KEYFRAME, rel(at[3]), 4) +
                                idx1Entry("00dc", 0, rel(at[4]), 8));
        });
    Reader r(save(QStringLiteral("rec.avi"), data));
    ASSERT_EQ(r.file.result, AVIERR_OK);
    EXPECT_EQ(r.source(), AviIndex::Source::Idx1);
    ASSERT_TRUE(r.video && r.audio);
    EXPECT_EQ(AVIStreamLength(r.video.get()), 3);
    EXPECT_EQ(AVIStreamLength(r.audio.get()), 5); // ten bytes of two-byte samples
    const std::vector<QByteArray> frames = readAllSamples(r.video.get());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], frame(0));
    EXPECT_TRUE(frames[1].isEmpty());
    EXPECT_EQ(frames[2], frame(2));
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 2, FIND_PREV | FIND_KEY), 0);
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 1, FIND_NEXT | FIND_ANY), 2);
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 1, FIND_PREV | FIND_ANY), 0);
    QByteArray sound(10, '\0');
    LONG bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(r.audio.get(), 0, 5, sound.data(), 10, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(sound, QByteArray("xxxxxxyyyy"));
    AVISTREAMINFO info;
    AVIStreamInfo(r.video.get(), &info, sizeof info);
    EXPECT_EQ(info.dwLength, 3u);
    EXPECT_STREQ(info.szName, "Pictures");
    AVIStreamInfo(r.audio.get(), &info, sizeof info);
    EXPECT_EQ(info.dwSampleSize, 2u);

    // The same file without its index: the scan finds the same samples.
    QByteArray unindexed = data;
    unindexed.replace(unindexed.lastIndexOf("idx1"), 4, "JUNK");
    Reader s(save(QStringLiteral("scan.avi"), unindexed));
    ASSERT_EQ(s.file.result, AVIERR_OK);
    EXPECT_EQ(s.source(), AviIndex::Source::Scan);
    EXPECT_EQ(readAllSamples(s.video.get()), frames);
    EXPECT_EQ(AVIStreamLength(s.audio.get()), 5);
    // Frames of uncompressed video found by scanning are all key frames.
    EXPECT_EQ(AVIStreamFindSample(s.video.get(), 2, FIND_PREV | FIND_KEY), 2);
}

// An index whose entries point past the end of a cut file keeps what is there; an index that
// names chunks that are not there is not trusted at all.
TEST_F(HandMadeFiles, IndexesThatDoNotFitTheFile) {
    std::vector<int64_t> at;
    const QByteArray data = handMade(
        [&](RiffBuilder& b, int64_t) {
            for (int i = 0; i < 4; ++i)
                at.push_back(b.chunk("00db", frame(i)));
        },
        [&](RiffBuilder& b, int64_t moviForm) {
            QByteArray entries;
            for (int64_t o : at)
                entries += idx1Entry("00db", AVIIF_KEYFRAME, uint32_t(o - moviForm), 8);
            entries += idx1Entry("00db", AVIIF_KEYFRAME, 0x7FFFFFF0, 8); // beyond the file
            b.chunk("idx1", entries);
        });
    Reader r(save(QStringLiteral("beyond.avi"), data));
    ASSERT_EQ(r.file.result, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(r.video.get()), 4);

    QByteArray wrong = data;
    const qsizetype idx = wrong.lastIndexOf("idx1");
    qToLittleEndian<uint32_t>(3, wrong.data() + idx + 8 + 8); // first entry misses its chunk
    Reader w(save(QStringLiteral("wrong.avi"), wrong));
    ASSERT_EQ(w.file.result, AVIERR_OK);
    EXPECT_EQ(w.source(), AviIndex::Source::Scan);
    EXPECT_EQ(AVIStreamLength(w.video.get()), 4);
}

TEST_F(HandMadeFiles, OpenDmlIndexesInsideTheStreamHeader) {
    // A standard index kept as the stream's indx chunk, pointing at frames 0 and 2 only.
    std::vector<int64_t> at;
    RiffBuilder b;
    b.begin("RIFF", "AVI ");
    b.begin("LIST", "hdrl");
    b.chunk("avih", le32(40000) + QByteArray(52, '\0'));
    b.begin("LIST", "strl");
    b.chunk("strh", streamHeader("vids", "DIB ", 1, 25, 3, 0));
    b.chunk("strf", videoFormat(4, 2));
    const int64_t indx = b.chunk("indx", QByteArray(24 + 16, '\0'));
    b.end();
    b.end();
    b.begin("LIST", "movi");
    const int64_t base = b.offset() - 12;
    for (int i = 0; i < 3; ++i)
        at.push_back(b.chunk("00db", frame(i)));
    b.end();
    b.end();
    QByteArray& d = b.data();
    QByteArray index = le16(2) + QByteArray(1, '\0') + QByteArray(1, '\x01') + le32(2) +
                       QByteArray("00db", 4) + le32(uint32_t(base)) + le32(0) + le32(0) +
                       le32(uint32_t(at[0] + 8 - base)) + le32(8) +
                       le32(uint32_t(at[2] + 8 - base)) + le32(8 | 0x80000000u);
    d.replace(indx + 8, index.size(), index);
    Reader r(save(QStringLiteral("stdindex.avi"), d));
    ASSERT_EQ(r.file.result, AVIERR_OK);
    EXPECT_EQ(r.source(), AviIndex::Source::OpenDml);
    const std::vector<QByteArray> frames = readAllSamples(r.video.get());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], frame(2));
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 1, FIND_PREV | FIND_KEY), 0);
}

// Header fields that cannot be right are corrected or kept within range: a start so late that
// the last sample would not be a number, a scale so large that times overflow.
TEST_F(HandMadeFiles, HeadersThatLie) {
    QByteArray data = handMade([](RiffBuilder& b, int64_t) {
        for (int i = 0; i < 3; ++i)
            b.chunk("00db", frame(i));
    });
    const qsizetype strh = data.indexOf("strh") + 8;
    qToLittleEndian<uint32_t>(0xFFFFFFF0u, data.data() + strh + 20); // scale
    qToLittleEndian<uint32_t>(0x7FFFFFFEu, data.data() + strh + 28); // start
    Reader r(save(QStringLiteral("lies.avi"), data));
    ASSERT_EQ(r.file.result, AVIERR_OK);
    const LONG start = AVIStreamStart(r.video.get());
    EXPECT_EQ(start, INT32_MAX - 3);
    EXPECT_EQ(AVIStreamLength(r.video.get()), 3);
    AVISTREAMINFO info;
    AVIStreamInfo(r.video.get(), &info, sizeof info);
    EXPECT_EQ(info.dwStart, DWORD(start));
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), start + 2, FIND_PREV | FIND_KEY), start + 2);
    EXPECT_EQ(AVIStreamSampleToTime(r.video.get(), start), INT32_MAX);
    EXPECT_EQ(AVIStreamTimeToSample(r.video.get(), INT32_MAX), 0);
    LONG bytes = 0;
    EXPECT_EQ(AVIStreamRead(r.video.get(), start - 1, 1, nullptr, 0, &bytes, nullptr),
              AVIERR_NODATA);
    ASSERT_EQ(AVIStreamRead(r.video.get(), start + 2, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    EXPECT_EQ(bytes, 8);
}

// Files that are not films, or not there: the codes the engine turns into its messages.
TEST_F(HandMadeFiles, OpenErrors) {
    AVIFileInit();
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpen(&file, dir.file(QStringLiteral("missing.avi")), OF_READ),
              AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(AVIFileOpen(&file, dir.file(QStringLiteral("no/folder.avi")), OF_CREATE | OF_WRITE),
              AVIERR_FILEOPEN);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.avi")));
    EXPECT_EQ(AVIFileOpen(&file, dir.file(QStringLiteral("folder.avi")), OF_READ), AVIERR_FILEOPEN);
    EXPECT_EQ(AVIFileOpen(&file, save(QStringLiteral("empty.avi"), {}), OF_READ), AVIERR_BADFORMAT);
    EXPECT_EQ(
        AVIFileOpen(&file, save(QStringLiteral("text.avi"), "just some text, no film"), OF_READ),
        AVIERR_BADFORMAT);
    const QByteArray film = handMade([](RiffBuilder& b, int64_t) { b.chunk("00db", frame(0)); });
    // A film named .wav is read as a sound file, and is not one.
    EXPECT_EQ(AVIFileOpen(&file, save(QStringLiteral("film.wav"), film), OF_READ),
              AVIERR_BADFORMAT);
    // Cut inside its header list.
    EXPECT_EQ(AVIFileOpen(&file, save(QStringLiteral("cut.avi"), film.left(100)), OF_READ),
              AVIERR_BADFORMAT);
    // A RIFF of another form.
    QByteArray other = film;
    other.replace(8, 4, "CDXA");
    EXPECT_EQ(AVIFileOpen(&file, save(QStringLiteral("other.avi"), other), OF_READ),
              AVIERR_BADFORMAT);
    EXPECT_EQ(file, nullptr);
    AVIFileExit();
}

TEST_F(HandMadeFiles, ReleaseCountsStreamsThatHoldTheFile) {
    const QString path = save(QStringLiteral("counted.avi"),
                              handMade([](RiffBuilder& b, int64_t) { b.chunk("00db", frame(0)); }));
    AVIFileInit();
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    PAVISTREAM video = nullptr, audio = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &audio, 0, 1), AVIERR_OK);
    EXPECT_EQ(AVIFileAddRef(file), 4u);
    EXPECT_EQ(AVIFileRelease(file), 3u);
    EXPECT_EQ(AVIFileRelease(file), 2u); // the streams still hold it
    EXPECT_EQ(AVIStreamLength(video), 1);
    EXPECT_EQ(AVIStreamRelease(video), 0u);
    EXPECT_EQ(AVIStreamLength(audio), 0);
    EXPECT_EQ(AVIStreamRelease(audio), 0u); // the last reference: the file closes
    AVIFileExit();
    EXPECT_EQ(aviFileInitCount(), 0);
}

TEST_F(HandMadeFiles, OpenedForReadWriteIsReadOnly) {
    const QString path = save(QStringLiteral("rw.avi"),
                              handMade([](RiffBuilder& b, int64_t) { b.chunk("00db", frame(0)); }));
    OpenedFile f(path, OF_READWRITE);
    ASSERT_EQ(f.result, AVIERR_OK);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIFileGetStream(f.file, &raw, streamtypeVIDEO, 0), AVIERR_OK);
    StreamHandle video(raw);
    const QByteArray data = frame(1);
    EXPECT_EQ(AVIStreamWrite(raw, 1, 1, data.constData(), data.size(), 0, nullptr, nullptr),
              AVIERR_READONLY);
    const BITMAPINFOHEADER h = frameFormat(4, 2, 8);
    EXPECT_EQ(AVIStreamSetFormat(raw, 0, &h, sizeof h), AVIERR_READONLY);
    PAVISTREAM created = nullptr;
    const AVISTREAMINFO info = videoHeader(4, 2, 25);
    EXPECT_EQ(AVIFileCreateStream(f.file, &created, &info), AVIERR_READONLY);
    EXPECT_EQ(readAllSamples(raw).size(), 1u);
    EXPECT_EQ(QFileInfo(path).size(),
              qint64(handMade([](RiffBuilder& b, int64_t) { b.chunk("00db", frame(0)); }).size()));
}

// Films written through the layer, read back by the layer.
class WrittenByLayer : public HandMadeFiles {
protected:
    void TearDown() override { qdx::vfw::setOpenDmlThreshold(0); }

    static QByteArray bytes(const std::vector<uint8_t>& v) {
        return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
    }
};

TEST_F(WrittenByLayer, SamplesAtTheirPositionsWhileAndAfterWriting) {
    const QString path = dir.file(QStringLiteral("film.avi"));
    {
        OpenedFile f(path, OF_CREATE | OF_WRITE);
        ASSERT_EQ(f.result, AVIERR_OK);
        const AVISTREAMINFO vi = videoHeader(8, 4, 25);
        const AVISTREAMINFO ai = pcmHeader(44100, 1);
        PAVISTREAM v = nullptr, a = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f.file, &v, &vi), AVIERR_OK);
        ASSERT_EQ(AVIFileCreateStream(f.file, &a, &ai), AVIERR_OK);
        StreamHandle video(v), audio(a);
        const BITMAPINFOHEADER bih = frameFormat(8, 4, 24);
        const WAVEFORMATEX wf = pcmFormat(44100, 1);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(a, 0, &wf, sizeof wf), AVIERR_OK);
        // The engine's sound copy: frames 0 to 24 at 25 fps end at the sample at 960 ms.
        EXPECT_EQ(AVIStreamTimeToSample(a, 960), 42336);
        EXPECT_EQ(AVIStreamSampleToTime(a, 42336), 960);

        for (int i : {0, 1, 3}) {
            const std::vector<uint8_t> px = framePixels(8, 4, 24, i);
            LONG samples = 0, written = 0;
            ASSERT_EQ(AVIStreamWrite(v, i, 1, px.data(), LONG(px.size()), AVIIF_KEYFRAME, &samples,
                                     &written),
                      AVIERR_OK);
            EXPECT_EQ(samples, 1);
            EXPECT_EQ(written, LONG(px.size()));
        }
        // Written samples stay: a position already written is refused.
        const std::vector<uint8_t> again = framePixels(8, 4, 24, 9);
        EXPECT_EQ(AVIStreamWrite(v, 1, 1, again.data(), LONG(again.size()), 0, nullptr, nullptr),
                  AVIERR_BADPARAM);
        // Sound: 100 samples, a gap of 50, then 20; a buffer larger than its count stores only
        // the samples counted.
        const std::vector<uint8_t> first = pcmSamples(0, 100, 1);
        ASSERT_EQ(AVIStreamWrite(a, 0, 100, first.data(), LONG(first.size()), 0, nullptr, nullptr),
                  AVIERR_OK);
        const std::vector<uint8_t> second = pcmSamples(150, 40, 1);
        LONG samples = 0;
        ASSERT_EQ(
            AVIStreamWrite(a, 150, 20, second.data(), LONG(second.size()), 0, &samples, nullptr),
            AVIERR_OK);
        EXPECT_EQ(samples, 20);

        // While the file is written, it reads back.
        EXPECT_EQ(AVIStreamLength(v), 4);
        EXPECT_EQ(AVIStreamLength(a), 170);
        const std::vector<QByteArray> frames = readAllSamples(v);
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_EQ(frames[3], bytes(framePixels(8, 4, 24, 3)));
        EXPECT_TRUE(frames[2].isEmpty());
        AVIFILEINFOW info;
        ASSERT_EQ(AVIFileInfoW(f.file, &info, sizeof info), AVIERR_OK);
        EXPECT_EQ(info.dwLength, 4u);
        EXPECT_TRUE(info.dwCaps & AVIFILECAPS_CANWRITE);
    }
    Reader r(path);
    ASSERT_EQ(r.file.result, AVIERR_OK);
    EXPECT_EQ(r.source(), AviIndex::Source::Idx1);
    AVIFILEINFOW info;
    ASSERT_EQ(AVIFileInfoW(r.file.file, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwLength, 4u);
    EXPECT_EQ(info.dwRate, 1000000u);
    EXPECT_EQ(info.dwScale, 40000u);
    EXPECT_EQ(info.dwWidth, 8u);
    EXPECT_EQ(info.dwHeight, 4u);
    EXPECT_GT(info.dwMaxBytesPerSec, 0u);
    AVISTREAMINFO si;
    ASSERT_EQ(AVIStreamInfo(r.video.get(), &si, sizeof si), AVIERR_OK);
    EXPECT_EQ(si.dwLength, 4u);
    EXPECT_EQ(si.dwSuggestedBufferSize, 96u);
    EXPECT_STREQ(si.szName, "Video");
    EXPECT_EQ(si.rcFrame.right, 8);
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 2, FIND_PREV | FIND_KEY), 1);
    QByteArray sound(170 * 2, '\0');
    LONG got = 0;
    ASSERT_EQ(AVIStreamRead(r.audio.get(), 0, 170, sound.data(), LONG(sound.size()), nullptr, &got),
              AVIERR_OK);
    EXPECT_EQ(got, 170);
    EXPECT_EQ(sound.left(200), bytes(pcmSamples(0, 100, 1)));
    EXPECT_EQ(sound.mid(200, 100), QByteArray(100, '\0')); // silence in the gap
    EXPECT_EQ(sound.mid(300), bytes(pcmSamples(150, 20, 1)));
}

TEST_F(WrittenByLayer, HeaderIsFixedOnceSamplesAreWritten) {
    OpenedFile f(dir.file(QStringLiteral("fixed.avi")), OF_CREATE | OF_WRITE);
    const AVISTREAMINFO vi = videoHeader(8, 4, 25);
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileCreateStream(f.file, &v, &vi), AVIERR_OK);
    StreamHandle video(v);
    const BITMAPINFOHEADER bih = frameFormat(8, 4, 24);
    ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
    const std::vector<uint8_t> px = framePixels(8, 4, 24, 0);
    ASSERT_EQ(AVIStreamWrite(v, 0, 1, px.data(), LONG(px.size()), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK); // the same format again
    const BITMAPINFOHEADER other = frameFormat(16, 4, 24);
    EXPECT_EQ(AVIStreamSetFormat(v, 0, &other, sizeof other), AVIERR_UNSUPPORTED);
    PAVISTREAM late = nullptr;
    EXPECT_EQ(AVIFileCreateStream(f.file, &late, &vi), AVIERR_UNSUPPORTED);
    EXPECT_EQ(late, nullptr);
}

// A target released before any sample (a cancelled compressor choice, an empty range) is still a
// film that opens, with its streams and formats.
TEST_F(WrittenByLayer, FilmsWithoutSamples) {
    const QString formatted = dir.file(QStringLiteral("formatted.avi"));
    const QString bare = dir.file(QStringLiteral("bare.avi"));
    const QString nothing = dir.file(QStringLiteral("nothing.avi"));
    const BITMAPINFOHEADER bih = frameFormat(8, 4, 24);
    {
        OpenedFile a(formatted, OF_CREATE | OF_WRITE);
        OpenedFile b(bare, OF_CREATE | OF_SHARE_EXCLUSIVE | OF_WRITE);
        OpenedFile c(nothing, OF_CREATE | OF_WRITE);
        const AVISTREAMINFO vi = videoHeader(8, 4, 25);
        PAVISTREAM v = nullptr, w = nullptr;
        ASSERT_EQ(AVIFileCreateStream(a.file, &v, &vi), AVIERR_OK);
        ASSERT_EQ(AVIFileCreateStream(b.file, &w, &vi), AVIERR_OK);
        StreamHandle video(v), other(w);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
    }
    Reader a(formatted);
    ASSERT_EQ(a.file.result, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(a.video.get()), 0);
    LONG size = 0;
    ASSERT_EQ(AVIStreamReadFormat(a.video.get(), 0, nullptr, &size), AVIERR_OK);
    EXPECT_EQ(size, 40);
    Reader b(bare);
    ASSERT_EQ(b.file.result, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(b.video.get()), 0);
    Reader c(nothing);
    ASSERT_EQ(c.file.result, AVIERR_OK);
    AVIFILEINFOW info;
    AVIFileInfoW(c.file.file, &info, sizeof info);
    EXPECT_EQ(info.dwStreams, 0u);
}

TEST_F(WrittenByLayer, ExclusiveTargetsRefuseASecondWriter) {
    const QString path = dir.file(QStringLiteral("locked.avi"));
    OpenedFile first(path, OF_CREATE | OF_SHARE_EXCLUSIVE | OF_WRITE);
    ASSERT_EQ(first.result, AVIERR_OK);
    OpenedFile second(path, OF_CREATE | OF_SHARE_EXCLUSIVE | OF_WRITE);
    EXPECT_EQ(second.result, AVIERR_FILEOPEN);
}

// A full disk (here: a file size limit) is reported by the write that meets it and by every
// later call, never swallowed.
TEST_F(WrittenByLayer, WriteErrorsAreReported) {
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    HRESULT failure = AVIERR_OK;
    HRESULT flushed = AVIERR_OK;
    {
        OpenedFile f(dir.file(QStringLiteral("full.avi")), OF_CREATE | OF_WRITE);
        const AVISTREAMINFO vi = videoHeader(64, 48, 25);
        PAVISTREAM v = nullptr;
        AVIFileCreateStream(f.file, &v, &vi);
        StreamHandle video(v);
        const BITMAPINFOHEADER bih = frameFormat(64, 48, 24);
        AVIStreamSetFormat(v, 0, &bih, sizeof bih);
        const std::vector<uint8_t> px = framePixels(64, 48, 24, 0);
        for (int i = 0; i < 200 && failure == AVIERR_OK; ++i)
            failure = AVIStreamWrite(v, i, 1, px.data(), LONG(px.size()), AVIIF_KEYFRAME, nullptr,
                                     nullptr);
        flushed = qdx::vfw::flushFile(f.file);
        EXPECT_EQ(AVIStreamWrite(v, 1000, 1, px.data(), LONG(px.size()), 0, nullptr, nullptr),
                  AVIERR_FILEWRITE);
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failure, AVIERR_FILEWRITE);
    EXPECT_EQ(flushed, AVIERR_FILEWRITE);
}

// Half the super index serves extents of the threshold's size; then the parts grow towards the
// RIFF limit, so the index never runs out before the film does.
TEST_F(WrittenByLayer, ExtentsOutgrowingTheSuperIndex) {
    qdx::vfw::setOpenDmlThreshold(4096);
    const QString path = dir.file(QStringLiteral("many.avi"));
    constexpr int frames = 8000; // 14 frames per extent: 512 extents take 7168
    {
        OpenedFile f(path, OF_CREATE | OF_WRITE);
        const AVISTREAMINFO vi = videoHeader(16, 16, 25);
        PAVISTREAM v = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f.file, &v, &vi), AVIERR_OK);
        StreamHandle video(v);
        const BITMAPINFOHEADER bih = frameFormat(16, 16, 8);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
        for (int i = 0; i < frames; ++i) {
            const std::vector<uint8_t> px = framePixels(16, 16, 8, i);
            ASSERT_EQ(AVIStreamWrite(v, i, 1, px.data(), LONG(px.size()),
                                     i % 10 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                      AVIERR_OK);
        }
    }
    const QByteArray data = readAll(path);
    const int parts = int(data.count("AVIX"));
    EXPECT_GE(parts, 505);
    EXPECT_LE(parts, 515);
    Reader r(path);
    ASSERT_EQ(r.file.result, AVIERR_OK);
    EXPECT_EQ(r.source(), AviIndex::Source::OpenDml);
    const std::vector<QByteArray> read = readAllSamples(r.video.get());
    ASSERT_EQ(read.size(), size_t(frames));
    for (int i = 0; i < frames; i += 397)
        EXPECT_EQ(read[size_t(i)], bytes(framePixels(16, 16, 8, i))) << i;
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 1234, FIND_PREV | FIND_KEY), 1230);
    EXPECT_EQ(AVIStreamFindSample(r.video.get(), 7999, FIND_PREV | FIND_KEY), 7990);
}

// Sound files by hand: a short "fmt " record, other chunks first, a data size that runs past the
// end of a cut file.
TEST_F(HandMadeFiles, WaveFilesAsOthersWriteThem) {
    RiffBuilder b;
    b.begin("RIFF", "WAVE");
    b.begin("LIST", "INFO");
    b.chunk("ISFT", QByteArray("someone", 8));
    b.end();
    b.chunk("fmt ", pcmFormatBytes().left(16));
    const int64_t data = b.chunk("data", QByteArray(1000, 'z'));
    b.end();
    QByteArray file = b.data();
    file.truncate(data + 8 + 501); // cut: 250 whole samples and a half
    Reader r(save(QStringLiteral("cut.wav"), file));
    ASSERT_EQ(r.file.result, AVIERR_OK);
    ASSERT_TRUE(r.audio);
    EXPECT_FALSE(r.video);
    EXPECT_EQ(AVIStreamLength(r.audio.get()), 250);
    LONG size = 0;
    ASSERT_EQ(AVIStreamReadFormat(r.audio.get(), 0, nullptr, &size), AVIERR_OK);
    EXPECT_EQ(size, 18); // given a cbSize of 0
    AVISTREAMINFO info;
    AVIStreamInfo(r.audio.get(), &info, sizeof info);
    EXPECT_EQ(info.dwRate / info.dwScale, 8000u);
    EXPECT_EQ(info.dwSampleSize, 2u);
    EXPECT_EQ(AVIStreamTimeToSample(r.audio.get(), 1000), 8000);
    PAVISTREAM none = nullptr;
    EXPECT_EQ(AVIFileGetStream(r.file.file, &none, streamtypeVIDEO, 0), AVIERR_NODATA);
    QByteArray all(500, '\0');
    LONG got = 0;
    ASSERT_EQ(AVIStreamRead(r.audio.get(), 0, 250, all.data(), 500, nullptr, &got), AVIERR_OK);
    EXPECT_EQ(got, 250);
    EXPECT_EQ(all, QByteArray(500, 'z'));

    // Without a format the file is not a sound file.
    RiffBuilder n;
    n.begin("RIFF", "WAVE");
    n.chunk("data", QByteArray(10, 'z'));
    n.end();
    AVIFileInit();
    PAVIFILE bad = nullptr;
    EXPECT_EQ(AVIFileOpen(&bad, save(QStringLiteral("noformat.wav"), n.data()), OF_READ),
              AVIERR_BADFORMAT);
    AVIFileExit();
}

TEST_F(WrittenByLayer, WaveFilesHoldOneSoundStream) {
    const QString path = dir.file(QStringLiteral("one.wav"));
    const QString snapshot = dir.file(QStringLiteral("snapshot.wav"));
    OpenedFile f(path, OF_CREATE | OF_WRITE);
    ASSERT_EQ(f.result, AVIERR_OK);
    const AVISTREAMINFO vi = videoHeader(8, 4, 25);
    PAVISTREAM s = nullptr;
    EXPECT_EQ(AVIFileCreateStream(f.file, &s, &vi), AVIERR_UNSUPPORTED);
    const AVISTREAMINFO ai = pcmHeader(8000, 1);
    ASSERT_EQ(AVIFileCreateStream(f.file, &s, &ai), AVIERR_OK);
    StreamHandle audio(s);
    PAVISTREAM second = nullptr;
    EXPECT_EQ(AVIFileCreateStream(f.file, &second, &ai), AVIERR_UNSUPPORTED);
    const std::vector<uint8_t> pcm = pcmSamples(0, 800, 1);
    EXPECT_EQ(AVIStreamWrite(s, 0, 800, pcm.data(), LONG(pcm.size()), 0, nullptr, nullptr),
              AVIERR_BADFORMAT); // no format yet: the block size is unknown
    const WAVEFORMATEX wf = pcmFormat(8000, 1);
    ASSERT_EQ(AVIStreamSetFormat(s, 0, &wf, sizeof wf), AVIERR_OK);
    ASSERT_EQ(AVIStreamWrite(s, 0, 800, pcm.data(), LONG(pcm.size()), 0, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamWrite(s, 10, 1, pcm.data(), 2, 0, nullptr, nullptr), AVIERR_BADPARAM);
    // Flushed, the file as it stands is a whole sound file.
    ASSERT_EQ(qdx::vfw::flushFile(f.file), AVIERR_OK);
    ASSERT_TRUE(QFile::copy(path, snapshot));
    Reader r(snapshot);
    ASSERT_EQ(r.file.result, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(r.audio.get()), 800);
    AVIFILEINFOW info;
    AVIFileInfoW(r.file.file, &info, sizeof info);
    EXPECT_EQ(info.dwLength, 800u);
    EXPECT_EQ(QString::fromUtf16(info.szFileType), QStringLiteral("Wave file"));
}

} // namespace
