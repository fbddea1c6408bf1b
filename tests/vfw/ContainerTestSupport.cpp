#include "tests/vfw/ContainerTestSupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace qdx::test {

bool ffmpegMake(const QStringList& arguments) {
    const ProcessResult r =
        run(QStringLiteral("ffmpeg"),
            QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} +
                arguments);
    if (r.exitCode != 0)
        ADD_FAILURE() << "ffmpeg failed: " << r.err.toStdString();
    return r.exitCode == 0;
}

QByteArray ffmpegOutput(const QString& path, const QStringList& outputArguments) {
    const ProcessResult r =
        run(QStringLiteral("ffmpeg"),
            QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path} +
                outputArguments + QStringList{QStringLiteral("-")});
    if (r.exitCode != 0)
        ADD_FAILURE() << "ffmpeg failed on " << path.toStdString() << ": " << r.err.toStdString();
    return r.out;
}

std::vector<ProbedPacket> probePackets(const QString& path) {
    const ProcessResult r =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
             QStringLiteral("packet=stream_index,pts,size,flags,data_hash"),
             QStringLiteral("-show_data_hash"), QStringLiteral("MD5"), QStringLiteral("-of"),
             QStringLiteral("json"), path});
    std::vector<ProbedPacket> packets;
    if (r.exitCode != 0) {
        ADD_FAILURE() << "ffprobe failed: " << r.err.toStdString();
        return packets;
    }
    const QJsonArray list =
        QJsonDocument::fromJson(r.out).object()[QStringLiteral("packets")].toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        ProbedPacket p;
        p.stream = o[QStringLiteral("stream_index")].toInt();
        p.size = o[QStringLiteral("size")].toString().toLongLong();
        p.pts = o[QStringLiteral("pts")].toVariant().toLongLong();
        p.key = o[QStringLiteral("flags")].toString().startsWith(QLatin1Char('K'));
        p.md5 = o[QStringLiteral("data_hash")].toString().section(QLatin1Char(':'), 1);
        packets.push_back(p);
    }
    return packets;
}

std::vector<QJsonObject> probeStreams(const QString& path, QJsonObject* format) {
    const ProcessResult r =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_packets"),
             QStringLiteral("-show_streams"), QStringLiteral("-show_format"), QStringLiteral("-of"),
             QStringLiteral("json"), path});
    std::vector<QJsonObject> streams;
    if (r.exitCode != 0) {
        ADD_FAILURE() << "ffprobe failed: " << r.err.toStdString();
        return streams;
    }
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    for (const QJsonValue& v : root[QStringLiteral("streams")].toArray())
        streams.push_back(v.toObject());
    if (format)
        *format = root[QStringLiteral("format")].toObject();
    return streams;
}

QString md5(const QByteArray& data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

OpenedFile::OpenedFile(const QString& path, UINT mode) {
    AVIFileInit();
    result = AVIFileOpen(&file, path, mode);
}

OpenedFile::~OpenedFile() {
    if (file)
        AVIFileRelease(file);
    AVIFileExit();
}

std::vector<QByteArray> readAllSamples(PAVISTREAM stream, LONG perRead) {
    std::vector<QByteArray> samples;
    const LONG start = AVIStreamStart(stream);
    const LONG end = start + AVIStreamLength(stream);
    for (LONG at = start; at < end;) {
        LONG bytes = 0;
        LONG count = 0;
        if (AVIStreamRead(stream, at, perRead, nullptr, 0, &bytes, &count) != AVIERR_OK) {
            ADD_FAILURE() << "size of sample " << at;
            break;
        }
        if (bytes == 0) {
            // An empty sample (a dropped frame): nothing to read.
            samples.emplace_back();
            at += std::max<LONG>(count, 1);
            continue;
        }
        QByteArray data(bytes, '\0');
        LONG got = 0;
        const HRESULT hr = AVIStreamRead(stream, at, perRead, data.data(), bytes, &bytes, &got);
        if (hr != AVIERR_OK || got <= 0) {
            ADD_FAILURE() << "reading sample " << at << ": " << aviErrorName(hr).toStdString();
            break;
        }
        data.resize(bytes);
        samples.push_back(data);
        at += got;
    }
    return samples;
}

std::vector<uint8_t> framePixels(int width, int height, int bits, int index) {
    const int stride = ((width * bits + 31) / 32) * 4;
    std::vector<uint8_t> pixels(size_t(stride) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < stride; ++x)
            pixels[size_t(y) * stride + x] = uint8_t(x * 7 + y * 13 + index * 29);
    return pixels;
}

BITMAPINFOHEADER frameFormat(int width, int height, int bits) {
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = uint16_t(bits);
    h.biSizeImage = uint32_t(((width * bits + 31) / 32) * 4 * height);
    return h;
}

AVISTREAMINFO videoHeader(int width, int height, DWORD rate, DWORD scale) {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwRate = rate;
    info.dwScale = scale;
    info.rcFrame = {0, 0, width, height};
    std::strcpy(info.szName, "Video");
    return info;
}

AVISTREAMINFO pcmHeader(int rate, int channels) {
    AVISTREAMINFO info;
    info.fccType = streamtypeAUDIO;
    info.dwScale = DWORD(2 * channels);
    info.dwRate = DWORD(rate * 2 * channels);
    info.dwSampleSize = DWORD(2 * channels);
    return info;
}

WAVEFORMATEX pcmFormat(int rate, int channels, int bits) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = WORD(channels);
    f.nSamplesPerSec = DWORD(rate);
    f.nBlockAlign = WORD(channels * bits / 8);
    f.nAvgBytesPerSec = DWORD(rate) * f.nBlockAlign;
    f.wBitsPerSample = WORD(bits);
    return f;
}

std::vector<uint8_t> pcmSamples(int64_t first, int64_t count, int channels) {
    std::vector<uint8_t> out(size_t(count * channels * 2));
    for (int64_t i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c) {
            const auto v =
                int16_t(std::lround(8000 * std::sin(double(first + i) * (0.05 + c * 0.01))));
            out[size_t((i * channels + c) * 2)] = uint8_t(v & 0xFF);
            out[size_t((i * channels + c) * 2 + 1)] = uint8_t((v >> 8) & 0xFF);
        }
    return out;
}

QByteArray le32(uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

QByteArray le16(uint16_t v) {
    QByteArray b(2, '\0');
    b[0] = char(v & 0xFF);
    b[1] = char(v >> 8);
    return b;
}

uint32_t fourcc(const char* s) {
    return mmioFOURCC(s[0], s[1], s[2], s[3]);
}

RiffBuilder& RiffBuilder::begin(const char* id, const char* type) {
    m_open.push_back(m_data.size());
    m_data.append(id, 4);
    m_data.append(le32(0));
    m_data.append(type, 4);
    return *this;
}

RiffBuilder& RiffBuilder::end() {
    const int64_t at = m_open.back();
    m_open.pop_back();
    const QByteArray size = le32(uint32_t(m_data.size() - at - 8));
    std::memcpy(m_data.data() + at + 4, size.constData(), 4);
    return *this;
}

int64_t RiffBuilder::chunk(uint32_t id, const QByteArray& data) {
    const int64_t at = m_data.size();
    m_data.append(le32(id));
    m_data.append(le32(uint32_t(data.size())));
    m_data.append(data);
    if (data.size() & 1)
        m_data.append('\0');
    return at;
}

int64_t RiffBuilder::chunk(const char* id, const QByteArray& data) {
    return chunk(fourcc(id), data);
}

} // namespace qdx::test
