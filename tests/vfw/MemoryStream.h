#pragma once

// An AviStream held in memory that can be written and read back, standing in for a stream of a
// file being written: samples at positions (gaps stay empty samples), their key flags, a format.

#include "platform/avifile/AviObjects.h"
#include "platform/vfw/Vfw.h"

#include <QByteArray>

#include <vector>

namespace qdx::vfw::test {

class MemoryStream final : public AviStream {
public:
    explicit MemoryStream(const AVISTREAMINFO& info) : m_info(info) {}

    HRESULT info(AVISTREAMINFO& out) override;
    LONG start() override { return 0; }
    LONG length() override { return LONG(m_samples.size()); }
    HRESULT readFormat(LONG position, void* format, LONG* size) override;
    HRESULT setFormat(LONG position, const void* format, LONG size) override;
    HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead) override;
    HRESULT write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override;
    LONG findSample(LONG position, LONG flags) override;

    const QByteArray& format() const { return m_format; }
    const std::vector<QByteArray>& samples() const { return m_samples; }
    const std::vector<bool>& keys() const { return m_keys; }
    // Makes every later write fail with this code (0: writes succeed again).
    void failWrites(HRESULT code) { m_failWrites = code; }

private:
    AVISTREAMINFO m_info;
    QByteArray m_format;
    std::vector<QByteArray> m_samples;
    std::vector<bool> m_keys;
    HRESULT m_failWrites = AVIERR_OK;
};

// Sample reads shared by the test streams: `samples` samples from `start` (one when convenient),
// sizes only without a buffer.
HRESULT readIn(const std::vector<QByteArray>& stored, LONG start, LONG samples, void* buffer,
               LONG bufferSize, LONG* bytesRead, LONG* samplesRead);

// Sample search shared by the test streams: FIND_PREV/FIND_NEXT/FIND_FROM_START over key or
// non-empty samples.
LONG findIn(const std::vector<bool>& keys, const std::vector<QByteArray>& samples, LONG position,
            LONG flags);

} // namespace qdx::vfw::test
