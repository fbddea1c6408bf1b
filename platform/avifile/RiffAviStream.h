#pragma once

// A stream handle of a RIFF AVI file: one stream number of its file, whose reference it holds.

#include "platform/avifile/AviObjects.h"

namespace qdx::vfw {

class RiffAviFile;

class RiffAviStream : public AviStream {
public:
    RiffAviStream(RiffAviFile* file, size_t stream);

    HRESULT info(AVISTREAMINFO& out) override;
    LONG start() override;
    LONG length() override;
    HRESULT readFormat(LONG position, void* format, LONG* size) override;
    HRESULT setFormat(LONG position, const void* format, LONG size) override;
    HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead) override;
    HRESULT write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override;
    LONG findSample(LONG position, LONG flags) override;

private:
    ~RiffAviStream() override;

    RiffAviFile* m_file;
    size_t m_stream;
};

} // namespace qdx::vfw
