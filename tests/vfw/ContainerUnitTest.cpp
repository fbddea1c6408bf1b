// The RIFF AVI and WAVE files of the AVI layer, on files made by hand and by the layer itself.
#include "platform/vfw/RiffAviFile.h"
#include "tests/vfw/ContainerTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace qdx::test;
using qdx::vfw::AviIndex;
using qdx::vfw::StreamHandle;

namespace {

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

} // namespace
