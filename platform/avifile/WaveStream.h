#pragma once

// The audio stream of a WAVE file; holds a reference on its file.

#include "platform/avifile/AviObjects.h"

namespace qdx::vfw {

class WaveFile;

class WaveStream : public AviStream {
public:
    explicit WaveStream(WaveFile* file);

    HRESULT info(AVISTREAMINFO& out) override;
    LONG start() override { return 0; }
    LONG length() override;
    HRESULT readFormat(LONG position, void* format, LONG* size) override;
    HRESULT setFormat(LONG position, const void* format, LONG size) override;
    HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead) override;
    HRESULT write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override;
    LONG findSample(LONG position, LONG flags) override;

private:
    ~WaveStream() override;

    WaveFile* m_file;
};

} // namespace qdx::vfw
