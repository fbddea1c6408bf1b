#pragma once

// Films for the tests, made in the process: pictures drawn here, encoded with libavcodec through
// the codec bridge (VideoEncoder) and written with our own RIFF writer, a tone as the sound. No
// program is started, so the engine's threaded tests run whole under ThreadSanitizer. What the
// films hold is checked by the peers (FilmPeers.h), never by our own reader alone.
//
// Also the small pieces the container and codec tests build films and frames from: stream
// headers, sound formats and samples, DIB frames, and pictures compared by PSNR.

#include "platform/vfw/Vfw.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <ostream>
#include <vector>

namespace qdx::vfw {

struct Compressor;
// A compressor as GoogleTest prints a test parameter: its name and FourCC, not its bytes.
void PrintTo(const Compressor& compressor, std::ostream* out);

} // namespace qdx::vfw

namespace qdx::test {

struct FilmRecipe {
    int width = 64;
    int height = 48;
    int frames = 10;
    int rate = 25;
    int scale = 1; // frames per second: rate / scale (30000 / 1001 for NTSC's 29.97)
    // FFmpeg's encoder, or "rawvideo" for uncompressed DIB frames.
    QString codec = QStringLiteral("rawvideo");
    // rawvideo: "bgr24", "bgr0" (32 bits), "rgb555le", "rgb565le" (16 bits) or "pal8"; an
    // encoder: its coded layout ("yuvj422p"; empty: the encoder's usual one).
    QString pixelFormat = QStringLiteral("bgr24");
    int keyFrameEvery = 12; // 0: the first frame only
    int bFrames = 0;
    int quantiser = 0;        // a constant quantiser for the MPEG-video encoders (0: none)
    QString fourcc;           // the FourCC the format carries ("XVID"); empty: the encoder's
    QStringList options;      // further FFmpeg options, "name=value" ("crf=20", "flags=+qpel")
    std::vector<int> dropped; // frames written as empty samples (dropped while recording)
    bool sound = false;       // a 440 Hz tone, 16-bit mono, exactly as long as the picture
    int soundRate = 44100;
};

// Writes the film; an empty string when it worked, else the reason.
QString writeFilm(const QString& path, const FilmRecipe& recipe);
// The film written in `dir`; fails the test when it cannot be made.
QString makeFilm(const TempDir& dir, const QString& name, const FilmRecipe& recipe);

// The picture of frame `index` of every film: colour bars, a ramp and a square that moves.
QImage filmPicture(int width, int height, int index);
// The film's sound samples first..first+count (16-bit mono, little-endian).
QByteArray filmSound(int rate, int64_t first, int64_t count);

// Opens a file and releases it at the end of the scope.
struct OpenedFile {
    explicit OpenedFile(const QString& path, UINT mode = OF_READ);
    ~OpenedFile();
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    HRESULT result = AVIERR_OK;
    PAVIFILE file = nullptr;
};

// Every sample of a stream, one entry per sample (video) or per read of `perRead` samples.
std::vector<QByteArray> readAllSamples(PAVISTREAM stream, LONG perRead = 1);

// A DIB picture of frame `index` at `bits` bits: bytes that differ per frame, padding included.
std::vector<uint8_t> framePixels(int width, int height, int bits, int index);
BITMAPINFOHEADER frameFormat(int width, int height, int bits);
AVISTREAMINFO videoHeader(int width, int height, DWORD rate, DWORD scale = 1);
// 16-bit PCM: the header and format of a sound stream, and samples of a tone per channel.
AVISTREAMINFO pcmHeader(int rate, int channels);
WAVEFORMATEX pcmFormat(int rate, int channels, int bits = 16);
std::vector<uint8_t> pcmSamples(int64_t first, int64_t count, int channels);

// The bytes of the packed DIB starting at `dib` (header, masks, colours, pixels).
size_t packedDibSize(const void* dib);
// A packed DIB as top-down BGR24 rows; empty when it does not decode.
QByteArray dibToBgr24(const void* dib);
// A picture as top-down BGR24 rows.
QByteArray imageToBgr24(const QImage& image);
// Peak signal-to-noise ratio of two pictures of the same size, in dB (1000 when equal).
double psnr(const QByteArray& a, const QByteArray& b);
QString md5(const QByteArray& data);

uint32_t fourcc(const char* s);

} // namespace qdx::test
