#pragma once

// Helpers of the RIFF AVI and WAVE tests: films made and probed by ffmpeg, films written through
// the layer, and a small RIFF builder for hand-made files that tools do not write.

#include "platform/vfw/Vfw.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace qdx::test {

// Runs ffmpeg -v error -y with the arguments; the output path is the last argument.
bool ffmpegMake(const QStringList& arguments);
// What ffmpeg writes to standard output for `-i path <outputArguments> -`.
QByteArray ffmpegOutput(const QString& path, const QStringList& outputArguments);

struct ProbedPacket {
    int stream = 0;
    int64_t size = 0;
    int64_t pts = 0;
    bool key = false;
    QString md5;
};
std::vector<ProbedPacket> probePackets(const QString& path);
// Stream records with counted packets ("nb_read_packets") and the container's "format" record.
std::vector<QJsonObject> probeStreams(const QString& path, QJsonObject* format = nullptr);

QString md5(const QByteArray& data);

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

// A 24-bit (or other depth) DIB picture of frame `index`: a pattern that differs per frame.
std::vector<uint8_t> framePixels(int width, int height, int bits, int index);
BITMAPINFOHEADER frameFormat(int width, int height, int bits);
AVISTREAMINFO videoHeader(int width, int height, DWORD rate, DWORD scale = 1);
// 16-bit PCM: the header and format of a sound stream, and samples of a tone.
AVISTREAMINFO pcmHeader(int rate, int channels);
WAVEFORMATEX pcmFormat(int rate, int channels, int bits = 16);
std::vector<uint8_t> pcmSamples(int64_t first, int64_t count, int channels);

// Builds RIFF files by hand.
class RiffBuilder {
public:
    // Starts a RIFF or LIST with the form type; end() closes the innermost.
    RiffBuilder& begin(const char* id, const char* type);
    RiffBuilder& end();
    // A chunk; returns the offset of its header.
    int64_t chunk(const char* id, const QByteArray& data);
    int64_t chunk(uint32_t id, const QByteArray& data);
    int64_t offset() const { return m_data.size(); }
    QByteArray& data() { return m_data; }

private:
    QByteArray m_data;
    std::vector<int64_t> m_open;
};

QByteArray le32(uint32_t v);
QByteArray le16(uint16_t v);
uint32_t fourcc(const char* s);

} // namespace qdx::test
