// AVISaveV: writes streams into a new AVI file through the layer's own calls. Video whose options
// name another compressor than the stream carries is read through a compressed stream; everything
// else is copied sample by sample with its key flags. The streams are interleaved in steps of one
// second of film, and the callback hears the percentage after every step.
//
// The file is written under a temporary name beside the target and renamed over it only when it
// is complete, so a cancelled or failed save leaves no partial film and keeps any file that was
// there before. A target without write permission is refused before anything is read
// (AVIERR_READONLY); a replaced file keeps its permissions, and a target that is a symbolic link
// stays one: the file it names is replaced.

#include "platform/codec/FourccMap.h"
#include "platform/codec/VideoFormat.h"
#include "platform/core/PartialFile.h"
#include "platform/core/ReplaceableFile.h"
#include "platform/vfw/CompressorChooser.h"
#include "platform/vfw/StreamCopy.h"
#include "platform/vfw/StreamFormat.h"
#include "platform/vfw/VfwObjects.h"

#include <vector>

namespace qdx::vfw {

namespace {

constexpr LONG kStepMs = 1000;

struct Track {
    StreamHandle source; // the stream read (the caller's, or a compressed stream over it)
    StreamHandle target;
    AVISTREAMINFO info;
    LONG next = 0;
    LONG end = 0;
    bool video = false;
    std::vector<uint8_t> buffer;
};

// The compressor a video stream's samples are in, as a FourCC (comptypeDIB when uncompressed).
FOURCC carriedCompressor(AviStream* stream) {
    QString error;
    const std::optional<VideoFormat> format = videoFormatOf(stream, &error);
    if (!format)
        return 0;
    return format->uncompressed() ? comptypeDIB : format->compression();
}

// Copies the samples of a track that start before `until` (milliseconds).
HRESULT copyUntil(Track& t, LONG until, bool all) {
    const LONG first = AVIStreamStart(t.source.get());
    while (t.next < t.end) {
        const LONG time = AVIStreamSampleToTime(t.source.get(), t.next);
        if (!all && time >= 0 && time >= until)
            break;
        LONG count = 1;
        if (!t.video && t.info.dwSampleSize > 0) {
            // Sound: everything up to the step in one read and one write.
            LONG last = all ? t.end : AVIStreamTimeToSample(t.source.get(), until);
            if (last < 0 || last > t.end)
                last = t.end;
            count = std::max<LONG>(1, last - t.next);
        }
        LONG bytes = 0;
        LONG samples = 0;
        HRESULT hr = AVIStreamRead(t.source.get(), t.next, count, nullptr, 0, &bytes, &samples);
        if (hr != AVIERR_OK)
            return hr;
        if (bytes < 0)
            return AVIERR_FILEREAD;
        t.buffer.resize(size_t(bytes) + 1);
        // An empty sample (a dropped frame) has nothing to read; it is written empty, keeping
        // its position.
        if (bytes > 0) {
            hr = AVIStreamRead(t.source.get(), t.next, count, t.buffer.data(), bytes, &bytes,
                               &samples);
            if (hr != AVIERR_OK)
                return hr;
        }
        if (samples <= 0)
            samples = count;
        DWORD flags = AVIIF_KEYFRAME;
        if (t.video && AVIStreamFindSample(t.source.get(), t.next, FIND_PREV | FIND_KEY) != t.next)
            flags = 0;
        hr = AVIStreamWrite(t.target.get(), t.next - first, samples, t.buffer.data(), bytes, flags,
                            nullptr, nullptr);
        if (hr != AVIERR_OK)
            return hr;
        t.next += samples;
    }
    return AVIERR_OK;
}

} // namespace

HRESULT saveStreams(const QString& path, AVISAVECALLBACK callback, int streamCount,
                    AviStream** streams, AVICOMPRESSOPTIONS** options) {
    if (path.isEmpty())
        return AVIERR_FILEOPEN;
    const QString replaced = replacedFilePath(path);
    if (!mayReplaceFile(replaced))
        return AVIERR_READONLY;
    LibraryScope library;
    std::vector<Track> tracks(static_cast<size_t>(streamCount));
    for (int i = 0; i < streamCount; ++i) {
        Track& t = tracks[size_t(i)];
        HRESULT hr = AVIStreamInfo(streams[i], &t.info, sizeof t.info);
        if (hr != AVIERR_OK)
            return hr;
        t.video = t.info.fccType == streamtypeVIDEO;
        const AVICOMPRESSOPTIONS* o = options ? options[i] : nullptr;
        // Direct stream copy takes the samples as they are, like a matching compressor.
        if (t.video && o && !isStreamCopy(o->fccHandler) &&
            !FourccMap::sameCompressor(o->fccHandler, carriedCompressor(streams[i]))) {
            if (!findCompressor(o->fccHandler))
                return AVIERR_NOCOMPRESSOR;
            PAVISTREAM compressed = nullptr;
            hr = AVIMakeCompressedStream(&compressed, streams[i], o);
            if (hr != AVIERR_OK)
                return hr;
            t.source.reset(compressed);
            hr = AVIStreamInfo(compressed, &t.info, sizeof t.info);
            if (hr != AVIERR_OK)
                return hr;
        } else {
            AVIStreamAddRef(streams[i]);
            t.source.reset(streams[i]);
        }
        t.next = AVIStreamStart(t.source.get());
        const LONG length = AVIStreamLength(t.source.get());
        if (t.next < 0 || length < 0)
            return AVIERR_BADHANDLE;
        t.end = t.next + length;
    }
    LONG duration = 0;
    for (Track& t : tracks)
        duration = std::max(duration, AVIStreamSampleToTime(t.source.get(), t.end));

    PartialFile temporary(replaced);
    if (!temporary.held())
        return AVIERR_FILEOPEN;
    HRESULT result = AVIERR_OK;
    {
        PAVIFILE created = nullptr;
        result = AVIFileOpen(&created, temporary.path(), OF_CREATE | OF_WRITE);
        if (result != AVIERR_OK)
            return result;
        FileHandle file(created);
        for (Track& t : tracks) {
            PAVISTREAM target = nullptr;
            AVISTREAMINFO header = t.info;
            header.dwStart = 0;
            header.dwLength = 0;
            result = AVIFileCreateStream(file.get(), &target, &header);
            if (result != AVIERR_OK)
                break;
            t.target.reset(target);
            LONG size = 0;
            const LONG first = AVIStreamStart(t.source.get());
            result = AVIStreamReadFormat(t.source.get(), first, nullptr, &size);
            if (result != AVIERR_OK)
                break;
            if (size <= 0 || size > (1 << 20)) {
                result = AVIERR_BADFORMAT;
                break;
            }
            std::vector<uint8_t> format(size_t(size), 0);
            result = AVIStreamReadFormat(t.source.get(), first, format.data(), &size);
            if (result == AVIERR_OK)
                result = AVIStreamSetFormat(t.target.get(), 0, format.data(), size);
            if (result != AVIERR_OK)
                break;
        }
        // One second of every stream at a time; streams without a time base go in one piece.
        for (LONG until = kStepMs; result == AVIERR_OK; until += kStepMs) {
            bool more = false;
            for (Track& t : tracks) {
                result = copyUntil(t, until, duration <= 0);
                if (result != AVIERR_OK)
                    break;
                more = more || t.next < t.end;
            }
            if (result != AVIERR_OK)
                break;
            const int percent =
                more ? int(std::clamp<int64_t>(int64_t(until) * 100 / std::max(duration, 1), 0, 99))
                     : 100;
            if (callback && callback(percent) != 0) {
                result = AVIERR_USERABORT;
                break;
            }
            if (!more)
                break;
        }
        for (Track& t : tracks) {
            t.target.reset();
            t.source.reset();
        }
        if (result == AVIERR_OK)
            result = finishFile(file.get());
    }
    // A work file of this process keeps its lock across the rename; an uncommitted partial file
    // goes with `temporary`.
    if (result == AVIERR_OK && !temporary.commit(replaced))
        result = AVIERR_FILEWRITE;
    return result;
}

} // namespace qdx::vfw
