#pragma once

// The objects behind the AVI layer's file and stream handles. The C-style calls of Vfw.h check
// their arguments and dispatch to these; the RIFF AVI and WAVE files implement them, and the
// compressed streams of the AVIFile layer too.

#include "platform/avifile/AviRecords.h"

#include <atomic>

namespace qdx::vfw {

// A reference count as the layer's handles have it: created with one reference, deleted when the
// last one is released. Thread-safe.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    ULONG addRef() { return ++m_refs; }
    ULONG release() {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<ULONG> m_refs{1};
};

class AviStream : public RefCounted {
public:
    virtual HRESULT info(AVISTREAMINFO& out) = 0;
    virtual LONG start() = 0;
    virtual LONG length() = 0;
    virtual HRESULT readFormat(LONG position, void* format, LONG* size) = 0;
    virtual HRESULT setFormat(LONG position, const void* format, LONG size) = 0;
    virtual HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                         LONG* samplesRead) = 0;
    virtual HRESULT write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                          DWORD flags, LONG* samplesWritten, LONG* bytesWritten) = 0;
    virtual LONG findSample(LONG position, LONG flags) = 0;
};

// A file holds its streams; every stream handed out holds a reference on its file, so a file is
// closed (and, when written, finished on disk) only after its last stream is released.
class AviFile : public RefCounted {
public:
    virtual HRESULT info(AVIFILEINFOW& out) = 0;
    virtual HRESULT getStream(AviStream** stream, DWORD type, LONG index) = 0;
    virtual HRESULT createStream(AviStream** stream, const AVISTREAMINFO& info) = 0;
    // Writes the indexes and headers of a file being written (see qdx::vfw::flushFile).
    virtual HRESULT flush() { return AVIERR_OK; }
    // Finishes a file being written as its last release would, and reports the outcome (see
    // qdx::vfw::finishFile).
    virtual HRESULT finish() { return flush(); }
};

} // namespace qdx::vfw
