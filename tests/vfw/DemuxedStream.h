#pragma once

// A read-only AviStream over FFmpeg's demuxer, for testing the codec bridge on films that ffmpeg
// made: the stream's samples are the demuxer's packets in file order, with their key flags, and
// its format is a BITMAPINFOHEADER with the codec's extra data (or a WAVEFORMATEX for sound).

#include "platform/avifile/AviObjects.h"
#include "platform/vfw/Vfw.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace qdx::vfw::test {

class DemuxedStream final : public AviStream {
public:
    // The first stream of the type in the file, or nullptr.
    static DemuxedStream* open(const QString& path, DWORD type = streamtypeVIDEO);

    HRESULT info(AVISTREAMINFO& out) override;
    LONG start() override { return 0; }
    LONG length() override { return LONG(m_samples.size()); }
    HRESULT readFormat(LONG position, void* format, LONG* size) override;
    HRESULT setFormat(LONG, const void*, LONG) override { return AVIERR_READONLY; }
    HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead) override;
    HRESULT write(LONG, LONG, const void*, LONG, DWORD, LONG*, LONG*) override {
        return AVIERR_READONLY;
    }
    LONG findSample(LONG position, LONG flags) override;

    // Reads of samples so far (tests check how much a jump decodes).
    int reads() const { return m_reads; }

private:
    DemuxedStream() = default;

    AVISTREAMINFO m_info;
    QByteArray m_format;
    std::vector<QByteArray> m_samples;
    std::vector<bool> m_keys;
    int m_reads = 0;
};

} // namespace qdx::vfw::test
