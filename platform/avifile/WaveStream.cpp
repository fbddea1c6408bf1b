#include "platform/avifile/WaveStream.h"

#include "platform/avifile/WaveFile.h"

namespace qdx::vfw {

WaveStream::WaveStream(WaveFile* file) : m_file(file) {
    m_file->addRef();
}

WaveStream::~WaveStream() {
    m_file->release();
}

HRESULT WaveStream::info(AVISTREAMINFO& out) {
    return m_file->streamInfo(out);
}

LONG WaveStream::length() {
    return m_file->streamLength();
}

HRESULT WaveStream::readFormat(LONG, void* format, LONG* size) {
    return m_file->readFormat(format, size);
}

HRESULT WaveStream::setFormat(LONG, const void* format, LONG size) {
    return m_file->setFormat(format, size);
}

HRESULT WaveStream::read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                         LONG* samplesRead) {
    return m_file->read(start, samples, buffer, bufferSize, bytesRead, samplesRead);
}

HRESULT WaveStream::write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD,
                          LONG* samplesWritten, LONG* bytesWritten) {
    return m_file->write(start, samples, buffer, bufferSize, samplesWritten, bytesWritten);
}

LONG WaveStream::findSample(LONG position, LONG flags) {
    return m_file->findSample(position, flags);
}

} // namespace qdx::vfw
