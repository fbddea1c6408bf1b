#include "platform/vfw/Vfw.h"

#include "platform/avifile/RiffFiles.h"
#include "platform/vfw/VfwObjects.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<int> initCount{0};

template <typename F>
HRESULT guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (...) {
        return AVIERR_INTERNAL;
    }
}

} // namespace

QString aviErrorName(HRESULT code) {
    static const struct {
        HRESULT code;
        const char* name;
    } names[] = {
        {AVIERR_UNSUPPORTED, "AVIERR_UNSUPPORTED"},
        {AVIERR_BADFORMAT, "AVIERR_BADFORMAT"},
        {AVIERR_MEMORY, "AVIERR_MEMORY"},
        {AVIERR_INTERNAL, "AVIERR_INTERNAL"},
        {AVIERR_BADFLAGS, "AVIERR_BADFLAGS"},
        {AVIERR_BADPARAM, "AVIERR_BADPARAM"},
        {AVIERR_BADSIZE, "AVIERR_BADSIZE"},
        {AVIERR_BADHANDLE, "AVIERR_BADHANDLE"},
        {AVIERR_FILEREAD, "AVIERR_FILEREAD"},
        {AVIERR_FILEWRITE, "AVIERR_FILEWRITE"},
        {AVIERR_FILEOPEN, "AVIERR_FILEOPEN"},
        {AVIERR_COMPRESSOR, "AVIERR_COMPRESSOR"},
        {AVIERR_NOCOMPRESSOR, "AVIERR_NOCOMPRESSOR"},
        {AVIERR_READONLY, "AVIERR_READONLY"},
        {AVIERR_NODATA, "AVIERR_NODATA"},
        {AVIERR_BUFFERTOOSMALL, "AVIERR_BUFFERTOOSMALL"},
        {AVIERR_CANTCOMPRESS, "AVIERR_CANTCOMPRESS"},
        {AVIERR_USERABORT, "AVIERR_USERABORT"},
        {AVIERR_ERROR, "AVIERR_ERROR"},
    };
    for (const auto& n : names)
        if (n.code == code)
            return QString::fromLatin1(n.name);
    return {};
}

void AVIFileInit() {
    ++initCount;
}

void AVIFileExit() {
    int current = initCount.load();
    while (current > 0 && !initCount.compare_exchange_weak(current, current - 1)) {
    }
}

int aviFileInitCount() {
    return initCount.load();
}

HRESULT AVIFileOpen(PAVIFILE* file, const QString& path, UINT mode, const void*) {
    if (!file)
        return AVIERR_BADPARAM;
    *file = nullptr;
    if (path.isEmpty())
        return AVIERR_FILEOPEN;
    return guarded([&] {
        if (path.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive))
            return qdx::vfw::openWaveFile(path, mode, file);
        return qdx::vfw::openRiffAviFile(path, mode, file);
    });
}

ULONG AVIFileAddRef(PAVIFILE file) {
    return file ? file->addRef() : 0;
}

ULONG AVIFileRelease(PAVIFILE file) {
    return file ? file->release() : 0;
}

HRESULT AVIFileInfoW(PAVIFILE file, AVIFILEINFOW* info, LONG size) {
    if (!file)
        return AVIERR_BADHANDLE;
    if (!info || size <= 0)
        return AVIERR_BADPARAM;
    return guarded([&] {
        AVIFILEINFOW full;
        const HRESULT hr = file->info(full);
        if (hr == AVIERR_OK)
            std::memcpy(info, &full, std::min<size_t>(size_t(size), sizeof full));
        return hr;
    });
}

HRESULT AVIFileInfoA(PAVIFILE file, AVIFILEINFOA* info, LONG size) {
    if (!file)
        return AVIERR_BADHANDLE;
    if (!info || size <= 0)
        return AVIERR_BADPARAM;
    return guarded([&] {
        AVIFILEINFOW wide;
        const HRESULT hr = file->info(wide);
        if (hr != AVIERR_OK)
            return hr;
        AVIFILEINFOA narrow;
        narrow.dwMaxBytesPerSec = wide.dwMaxBytesPerSec;
        narrow.dwFlags = wide.dwFlags;
        narrow.dwCaps = wide.dwCaps;
        narrow.dwStreams = wide.dwStreams;
        narrow.dwSuggestedBufferSize = wide.dwSuggestedBufferSize;
        narrow.dwWidth = wide.dwWidth;
        narrow.dwHeight = wide.dwHeight;
        narrow.dwScale = wide.dwScale;
        narrow.dwRate = wide.dwRate;
        narrow.dwLength = wide.dwLength;
        narrow.dwEditCount = wide.dwEditCount;
        const QByteArray type =
            QString::fromUtf16(wide.szFileType).toUtf8().left(sizeof narrow.szFileType - 1);
        std::memcpy(narrow.szFileType, type.constData(), size_t(type.size()));
        std::memcpy(info, &narrow, std::min<size_t>(size_t(size), sizeof narrow));
        return hr;
    });
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD type, LONG index) {
    if (!stream)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!file)
        return AVIERR_BADHANDLE;
    return guarded([&] { return file->getStream(stream, type, index); });
}

HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO* info) {
    if (!stream)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!file)
        return AVIERR_BADHANDLE;
    if (!info)
        return AVIERR_BADPARAM;
    return guarded([&] { return file->createStream(stream, *info); });
}

ULONG AVIStreamAddRef(PAVISTREAM stream) {
    return stream ? stream->addRef() : 0;
}

ULONG AVIStreamRelease(PAVISTREAM stream) {
    return stream ? stream->release() : 0;
}

HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, LONG size) {
    if (!stream)
        return AVIERR_BADHANDLE;
    if (!info || size <= 0)
        return AVIERR_BADPARAM;
    return guarded([&] {
        AVISTREAMINFO full;
        const HRESULT hr = stream->info(full);
        if (hr == AVIERR_OK)
            std::memcpy(info, &full, std::min<size_t>(size_t(size), sizeof full));
        return hr;
    });
}

LONG AVIStreamStart(PAVISTREAM stream) {
    if (!stream)
        return -1;
    try {
        return stream->start();
    } catch (...) {
        return -1;
    }
}

LONG AVIStreamLength(PAVISTREAM stream) {
    if (!stream)
        return -1;
    try {
        return stream->length();
    } catch (...) {
        return -1;
    }
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG position, void* format, LONG* formatSize) {
    if (!stream)
        return AVIERR_BADHANDLE;
    if (!formatSize)
        return AVIERR_BADPARAM;
    return guarded([&] { return stream->readFormat(position, format, formatSize); });
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, const void* format, LONG formatSize) {
    if (!stream)
        return AVIERR_BADHANDLE;
    if (!format || formatSize <= 0)
        return AVIERR_BADPARAM;
    return guarded([&] { return stream->setFormat(position, format, formatSize); });
}

HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                      LONG* bytesRead, LONG* samplesRead) {
    if (bytesRead)
        *bytesRead = 0;
    if (samplesRead)
        *samplesRead = 0;
    if (!stream)
        return AVIERR_BADHANDLE;
    if (bufferSize < 0 || (buffer && bufferSize == 0 && samples > 0))
        return AVIERR_BADPARAM;
    return guarded(
        [&] { return stream->read(start, samples, buffer, bufferSize, bytesRead, samplesRead); });
}

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer,
                       LONG bufferSize, DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream)
        return AVIERR_BADHANDLE;
    if (bufferSize < 0 || (!buffer && bufferSize > 0) || samples < 0)
        return AVIERR_BADPARAM;
    return guarded([&] {
        return stream->write(start, samples, buffer, bufferSize, flags, samplesWritten,
                             bytesWritten);
    });
}

LONG AVIStreamFindSample(PAVISTREAM stream, LONG position, LONG flags) {
    if (!stream)
        return -1;
    try {
        return stream->findSample(position, flags);
    } catch (...) {
        return -1;
    }
}

LONG AVIStreamSampleToTime(PAVISTREAM stream, LONG sample) {
    AVISTREAMINFO info;
    if (AVIStreamInfo(stream, &info, sizeof info) != AVIERR_OK)
        return -1;
    return qdx::vfw::sampleToTime(info, sample);
}

LONG AVIStreamTimeToSample(PAVISTREAM stream, LONG time) {
    AVISTREAMINFO info;
    if (AVIStreamInfo(stream, &info, sizeof info) != AVIERR_OK)
        return -1;
    return qdx::vfw::timeToSample(info, time);
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted) {
    if (!stream)
        return nullptr;
    try {
        return qdx::vfw::createFrameGetter(stream, wanted);
    } catch (...) {
        return nullptr;
    }
}

void* AVIStreamGetFrame(PGETFRAME getter, LONG position) {
    if (!getter)
        return nullptr;
    try {
        return getter->frame(position);
    } catch (...) {
        return nullptr;
    }
}

HRESULT AVIStreamGetFrameClose(PGETFRAME getter) {
    if (!getter)
        return AVIERR_BADHANDLE;
    delete getter;
    return AVIERR_OK;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void*) {
    if (!compressed)
        return AVIERR_BADPARAM;
    *compressed = nullptr;
    if (!source)
        return AVIERR_BADHANDLE;
    if (!options)
        return AVIERR_BADPARAM;
    return guarded([&] { return qdx::vfw::createCompressedStream(source, *options, compressed); });
}

BOOL AVISaveOptions(void*, UINT flags, int streamCount, PAVISTREAM* streams,
                    LPAVICOMPRESSOPTIONS* options) {
    if (streamCount <= 0 || !streams || !options)
        return 0;
    try {
        return qdx::vfw::chooseCompressorOptions(flags, streamCount, streams, options);
    } catch (...) {
        return 0;
    }
}

HRESULT AVISaveOptionsFree(int streamCount, LPAVICOMPRESSOPTIONS* options) {
    if (streamCount < 0 || (streamCount > 0 && !options))
        return AVIERR_BADPARAM;
    for (int i = 0; i < streamCount; ++i) {
        AVICOMPRESSOPTIONS* o = options[i];
        if (!o)
            continue;
        std::free(o->lpFormat);
        std::free(o->lpParms);
        o->lpFormat = nullptr;
        o->cbFormat = 0;
        o->lpParms = nullptr;
        o->cbParms = 0;
    }
    return AVIERR_OK;
}

HRESULT AVISaveV(const QString& path, const void*, AVISAVECALLBACK callback, int streamCount,
                 PAVISTREAM* streams, LPAVICOMPRESSOPTIONS* options) {
    if (streamCount <= 0 || !streams)
        return AVIERR_BADPARAM;
    for (int i = 0; i < streamCount; ++i)
        if (!streams[i])
            return AVIERR_BADHANDLE;
    return guarded(
        [&] { return qdx::vfw::saveStreams(path, callback, streamCount, streams, options); });
}

namespace qdx::vfw {

HRESULT flushFile(PAVIFILE file) {
    if (!file)
        return AVIERR_BADHANDLE;
    return guarded([&] { return file->flush(); });
}

HRESULT finishFile(PAVIFILE file) {
    if (!file)
        return AVIERR_BADHANDLE;
    return guarded([&] { return file->finish(); });
}

LONG sampleToTime(const AVISTREAMINFO& info, LONG sample) {
    if (info.dwRate == 0 || info.dwScale == 0)
        return -1;
    // 128 bits: a sample number, a 32-bit scale and 1000 overflow 64 bits.
    const __int128 numerator = __int128(sample) * info.dwScale * 1000;
    const __int128 rate = info.dwRate;
    __int128 time;
    if (info.dwRate / info.dwScale < 1000)
        time = numerator / rate;
    else
        time = (numerator + rate - 1) / rate;
    return LONG(std::clamp<__int128>(time, INT32_MIN, INT32_MAX));
}

LONG timeToSample(const AVISTREAMINFO& info, LONG time) {
    if (info.dwRate == 0 || info.dwScale == 0)
        return -1;
    const __int128 numerator = __int128(info.dwRate) * time;
    const __int128 denominator = __int128(info.dwScale) * 1000;
    __int128 sample;
    if (info.dwRate / info.dwScale < 1000)
        sample = numerator / denominator;
    else
        sample = (numerator + denominator - 1) / denominator;
    return LONG(std::clamp<__int128>(sample, INT32_MIN, INT32_MAX));
}

} // namespace qdx::vfw
