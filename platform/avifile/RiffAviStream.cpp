#include "platform/avifile/RiffAviStream.h"

#include "platform/avifile/RiffAviFile.h"

namespace qdx::vfw {

RiffAviStream::RiffAviStream(RiffAviFile* file, size_t stream) : m_file(file), m_stream(stream) {
    m_file->addRef();
}

RiffAviStream::~RiffAviStream() {
    m_file->release();
}

HRESULT RiffAviStream::info(AVISTREAMINFO& out) {
    return m_file->streamInfo(m_stream, out);
}

LONG RiffAviStream::start() {
    return m_file->streamStart(m_stream);
}

LONG RiffAviStream::length() {
    return m_file->streamLength(m_stream);
}

HRESULT RiffAviStream::readFormat(LONG position, void* format, LONG* size) {
    return m_file->readFormat(m_stream, position, format, size);
}

HRESULT RiffAviStream::setFormat(LONG position, const void* format, LONG size) {
    return m_file->setFormat(m_stream, position, format, size);
}

HRESULT RiffAviStream::read(LONG start, LONG samples, void* buffer, LONG bufferSize,
                            LONG* bytesRead, LONG* samplesRead) {
    return m_file->read(m_stream, start, samples, buffer, bufferSize, bytesRead, samplesRead);
}

HRESULT RiffAviStream::write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                             DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    return m_file->write(m_stream, start, samples, buffer, bufferSize, flags, samplesWritten,
                         bytesWritten);
}

LONG RiffAviStream::findSample(LONG position, LONG flags) {
    return m_file->findSample(m_stream, position, flags);
}

} // namespace qdx::vfw
