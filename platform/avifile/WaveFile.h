#pragma once

// A RIFF WAVE file behind the layer's file handle: one audio stream whose samples are blocks of
// nBlockAlign bytes. Any format with a WAVEFORMATEX is read ("fmt " chunks of 16 bytes are given
// a cbSize of 0); a "data" size that runs past the file (a writer that was stopped) is cut to
// what the file holds. Written files get their sizes patched, and an odd data size padded, when
// they are closed or flushed. Open modes as for AVI files.

#include "platform/avifile/AppendWriter.h"
#include "platform/avifile/AviObjects.h"
#include "platform/avifile/AviStreamData.h"
#include "platform/avifile/PosixFile.h"

#include <memory>

namespace qdx::vfw {

class WaveFile : public AviFile {
public:
    static HRESULT open(const QString& path, UINT mode, AviFile** file);

    HRESULT info(AVIFILEINFOW& out) override;
    HRESULT getStream(AviStream** stream, DWORD type, LONG index) override;
    HRESULT createStream(AviStream** stream, const AVISTREAMINFO& info) override;
    HRESULT flush() override;

    HRESULT streamInfo(AVISTREAMINFO& out);
    LONG streamLength() { return LONG(m_stream.samples.length()); }
    HRESULT readFormat(void* format, LONG* size);
    HRESULT setFormat(const void* format, LONG size);
    HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead);
    HRESULT write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                  LONG* samplesWritten, LONG* bytesWritten);
    LONG findSample(LONG position, LONG flags);

private:
    WaveFile();
    ~WaveFile() override;

    HRESULT load();
    uint32_t blockAlign() const;
    bool writeHeader();
    bool patchSizes();
    HRESULT finish();
    HRESULT fail();

    PosixFile m_file;
    std::unique_ptr<AppendWriter> m_out; // set when writing
    AviStreamData m_stream;
    bool m_haveStream = false;
    bool m_headerWritten = false;
    bool m_finished = false;
    HRESULT m_error = AVIERR_OK;
    int64_t m_dataOffset = 0; // the "data" chunk header
};

} // namespace qdx::vfw
