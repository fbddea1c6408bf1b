#pragma once

// What the RIFF AVI and WAVE fuzz targets share: the input as a file the reader opens by name, and
// a walk over every stream, format and sample of what opened.
#include "platform/avifile/RiffFiles.h"
#include "platform/vfw/Vfw.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace qdx::fuzz {

// The input as a file that the reader opens by name, kept in memory.
inline QString inputFile(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("fuzz_film", 0);
    if (fd < 0)
        std::abort();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        std::abort();
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

inline void walkStream(PAVISTREAM stream) {
    AVISTREAMINFO info;
    if (AVIStreamInfo(stream, &info, sizeof info) != AVIERR_OK)
        std::abort();
    const LONG start = AVIStreamStart(stream);
    const LONG length = AVIStreamLength(stream);
    if (length < 0 || LONG(info.dwLength) != length)
        std::abort();
    LONG formatSize = 0;
    if (AVIStreamReadFormat(stream, 0, nullptr, &formatSize) == AVIERR_OK && formatSize > 0) {
        std::vector<uint8_t> format(static_cast<size_t>(formatSize));
        AVIStreamReadFormat(stream, 0, format.data(), &formatSize);
    }
    std::vector<uint8_t> buffer;
    const LONG perRead = info.dwSampleSize > 0 ? 997 : 1;
    int reads = 0;
    for (LONG at = start; at < start + length && reads < 4000; ++reads) {
        LONG bytes = 0;
        LONG samples = 0;
        if (AVIStreamRead(stream, at, perRead, nullptr, 0, &bytes, &samples) != AVIERR_OK)
            std::abort();
        if (bytes < 0 || samples <= 0)
            std::abort();
        buffer.resize(static_cast<size_t>(bytes) + 1);
        LONG got = 0;
        const HRESULT hr =
            AVIStreamRead(stream, at, perRead, buffer.data(), bytes + 1, &bytes, &got);
        if (hr != AVIERR_OK || got <= 0)
            std::abort();
        at += got;
        if (reads % 7 == 0)
            AVIStreamRead(stream, at, AVISTREAMREAD_CONVENIENT, buffer.data(), bytes + 1, &bytes,
                          &got);
    }
    for (LONG position :
         {start - 1, start, start + length / 2, start + length - 1, start + length}) {
        for (LONG flags : {FIND_PREV | FIND_KEY, FIND_NEXT | FIND_KEY, FIND_PREV | FIND_ANY,
                           FIND_NEXT | FIND_ANY, FIND_FROM_START | FIND_KEY, FIND_FORMAT}) {
            const LONG found = AVIStreamFindSample(stream, position, flags);
            if (found != -1 && (found < start || found >= start + length))
                std::abort();
        }
        AVIStreamSampleToTime(stream, position);
        AVIStreamTimeToSample(stream, position);
    }
}

// Opens the input with `open`, walks every stream, and checks that the references balance.
inline int walkFilmFile(const uint8_t* data, size_t size,
                        HRESULT (*open)(const QString&, UINT, qdx::vfw::AviFile**)) {
    const QString path = inputFile(data, size);
    PAVIFILE file = nullptr;
    if (open(path, OF_READ, &file) != AVIERR_OK) {
        if (file)
            std::abort();
        return 0;
    }
    AVIFILEINFOW info;
    if (AVIFileInfoW(file, &info, sizeof info) != AVIERR_OK)
        std::abort();
    for (LONG i = 0; i < LONG(info.dwStreams) && i < 8; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, i) != AVIERR_OK)
            std::abort();
        walkStream(stream);
        AVIStreamRelease(stream);
    }
    if (AVIFileRelease(file) != 0)
        std::abort();
    return 0;
}

} // namespace qdx::fuzz
