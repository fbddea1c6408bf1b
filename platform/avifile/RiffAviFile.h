#pragma once

// A RIFF AVI file behind the layer's file handle. Opened for reading (OF_READ, or OF_READWRITE
// and OF_WRITE on an existing file, which need write access to the file but only read it: editing
// a stored film in place is not offered, so writes give AVIERR_READONLY), or created for writing
// (OF_CREATE, truncating an existing file; with OF_SHARE_EXCLUSIVE no other exclusive writer may
// hold it). A file being written can also be read back. Used by one thread at a time.

#include "platform/avifile/AviHeaders.h"
#include "platform/avifile/AviIndex.h"
#include "platform/avifile/AviObjects.h"
#include "platform/avifile/AviStreamData.h"
#include "platform/avifile/PosixFile.h"

#include <memory>
#include <vector>

namespace qdx::vfw {

class RiffAviWriter;

class RiffAviFile : public AviFile {
public:
    static HRESULT open(const QString& path, UINT mode, AviFile** file);

    HRESULT info(AVIFILEINFOW& out) override;
    HRESULT getStream(AviStream** stream, DWORD type, LONG index) override;
    HRESULT createStream(AviStream** stream, const AVISTREAMINFO& info) override;
    HRESULT flush() override;
    HRESULT finish() override;

    // The calls of the stream handles, by stream number.
    HRESULT streamInfo(size_t stream, AVISTREAMINFO& out);
    LONG streamStart(size_t stream);
    LONG streamLength(size_t stream);
    HRESULT readFormat(size_t stream, LONG position, void* format, LONG* size);
    HRESULT setFormat(size_t stream, LONG position, const void* format, LONG size);
    HRESULT read(size_t stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                 LONG* bytesRead, LONG* samplesRead);
    HRESULT write(size_t stream, LONG start, LONG samples, const void* buffer, LONG bufferSize,
                  DWORD flags, LONG* samplesWritten, LONG* bytesWritten);
    LONG findSample(size_t stream, LONG position, LONG flags);

    // Where the sample tables came from (tests look at it).
    AviIndex::Source indexSource() const { return m_source; }

private:
    RiffAviFile();
    ~RiffAviFile() override;

    HRESULT load();
    HRESULT loadHeaderList(const class RiffReader& reader, int64_t begin, int64_t end);

    PosixFile m_file;
    std::unique_ptr<RiffAviWriter> m_writer;
    std::vector<AviStreamData> m_streams;
    avi::MainHeader m_main;
    AviIndex::Source m_source = AviIndex::Source::None;
};

} // namespace qdx::vfw
