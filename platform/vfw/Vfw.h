#pragma once

// The AVI file layer and the video compression manager: the calls, records and result codes the
// engine relies on, with the same argument meanings and results. Paths are QStrings; files are
// RIFF AVI (ours, AVI 1.0 and OpenDML) or RIFF WAVE, chosen by the name's extension; codecs are
// FFmpeg's.
//
// Handles are reference-counted objects: every Open/Get/Create/Make gives the caller one reference
// that it returns with the matching Release. The RAII holders at the end of this header do that.

#include "platform/avifile/AviRecords.h"
#include "platform/core/Dib.h"
#include "platform/core/VfwTypes.h"

#include <QString>

#include <cstdint>
#include <memory>

// The name of a result code ("AVIERR_BADFORMAT"), empty for codes outside the AVI family.
QString aviErrorName(HRESULT code);

// Compressor dialog flags (AVISaveOptions).
constexpr UINT ICMF_CHOOSE_KEYFRAME = 0x0001;
constexpr UINT ICMF_CHOOSE_DATARATE = 0x0002;
constexpr UINT ICMF_CHOOSE_PREVIEW = 0x0004;
constexpr UINT ICMF_CHOOSE_ALLCOMPRESSORS = 0x0008;

namespace qdx::vfw {
class AviFile;
class AviStream;
class FrameGetter;
} // namespace qdx::vfw

using PAVIFILE = qdx::vfw::AviFile*;
using PAVISTREAM = qdx::vfw::AviStream*;
using PGETFRAME = qdx::vfw::FrameGetter*;

// The save callback: receives the percentage done, returns non-zero to cancel the save.
using AVISAVECALLBACK = BOOL (*)(int percent);

// Library initialisation, counted: every AVIFileInit is balanced by one AVIFileExit.
void AVIFileInit();
void AVIFileExit();
// How many AVIFileInit calls are not yet balanced (tests check that operations balance them).
int aviFileInitCount();

// Opens or creates a file. The handler follows the extension: ".wav" is a RIFF WAVE file with one
// audio stream, anything else a RIFF AVI. `handler` is accepted for symmetry and ignored.
// Errors: AVIERR_FILEOPEN (missing, no rights), AVIERR_BADFORMAT (not a file of that kind),
// AVIERR_FILEREAD (read error), AVIERR_MEMORY.
HRESULT AVIFileOpen(PAVIFILE* file, const QString& path, UINT mode, const void* handler = nullptr);
ULONG AVIFileAddRef(PAVIFILE file);
// Returns the references left; at 0 the file is closed (a written file is finished on disk).
ULONG AVIFileRelease(PAVIFILE file);
HRESULT AVIFileInfoW(PAVIFILE file, AVIFILEINFOW* info, LONG size);
HRESULT AVIFileInfoA(PAVIFILE file, AVIFILEINFOA* info, LONG size);
inline HRESULT AVIFileInfo(PAVIFILE file, AVIFILEINFOW* info, LONG size) {
    return AVIFileInfoW(file, info, size);
}
// The index-th stream of the type (0: any type). AVIERR_NODATA when there is none.
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD type, LONG index);
// A new stream in a file opened for writing, with this header (length and start are ignored).
HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO* info);

ULONG AVIStreamAddRef(PAVISTREAM stream);
ULONG AVIStreamRelease(PAVISTREAM stream);
HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, LONG size);
// First sample number and sample count; -1 on a bad handle.
LONG AVIStreamStart(PAVISTREAM stream);
LONG AVIStreamLength(PAVISTREAM stream);
// With format == nullptr, *formatSize receives the size; otherwise up to *formatSize bytes are
// copied and *formatSize receives the size copied.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG position, void* format, LONG* formatSize);
HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, const void* format, LONG formatSize);
// Reads `samples` samples from `start` (AVISTREAMREAD_CONVENIENT: what is convenient). With
// buffer == nullptr only the sizes are returned. Video: one frame per sample. Audio: blocks of
// dwSampleSize bytes, or one chunk per sample when dwSampleSize is 0.
HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                      LONG* bytesRead, LONG* samplesRead);
// Writes samples at `start`. Positions skipped since the last write stay empty samples (dropped
// frames). `flags` may carry AVIIF_KEYFRAME.
HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer,
                       LONG bufferSize, DWORD flags, LONG* samplesWritten, LONG* bytesWritten);
// The sample found from `position` in the direction and of the type the flags ask; -1 when none.
LONG AVIStreamFindSample(PAVISTREAM stream, LONG position, LONG flags);
// Time in milliseconds of a sample and sample at a time, rounded as the Windows layer rounds:
// truncated for streams of fewer than 1000 samples per second, rounded up otherwise.
LONG AVIStreamSampleToTime(PAVISTREAM stream, LONG sample);
LONG AVIStreamTimeToSample(PAVISTREAM stream, LONG time);

// A frame getter decompresses a video stream's frames. `wanted` nullptr: the default format, a
// 24-bit bottom-up DIB for compressed films and the stored format for uncompressed ones (with
// their colour table). AVIStreamGetFrame returns a packed DIB (header, colour table, pixels) owned
// by the getter until the next call, or nullptr for a position outside the stream or a frame that
// cannot be decoded. Frame i is the i-th picture in display order.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted);
void* AVIStreamGetFrame(PGETFRAME getter, LONG position);
HRESULT AVIStreamGetFrameClose(PGETFRAME getter);

// A stream that compresses with the options. Over a stream being written, every DIB written to the
// compressed stream is encoded and written to the source stream (the format set is the
// uncompressed DIB format). Over a readable video stream, reading gives the source's frames
// re-encoded. AVIERR_NOCOMPRESSOR for an unknown compressor.
HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void* handler = nullptr);

// Asks the installed compressor chooser (qdx::vfw::setCompressorChooser) for the options of each
// stream. `window` is accepted for symmetry. FALSE when the user cancels.
BOOL AVISaveOptions(void* window, UINT flags, int streamCount, PAVISTREAM* streams,
                    LPAVICOMPRESSOPTIONS* options);
HRESULT AVISaveOptionsFree(int streamCount, LPAVICOMPRESSOPTIONS* options);

// Writes the streams into a new AVI file: video re-encoded when its options name another
// compressor than the stream carries, other streams copied as they are, interleaved about once a
// second. The callback gets percentages; a non-zero answer stops with AVIERR_USERABORT.
HRESULT AVISaveV(const QString& path, const void* handler, AVISAVECALLBACK callback,
                 int streamCount, PAVISTREAM* streams, LPAVICOMPRESSOPTIONS* options);

namespace qdx::vfw {

// RAII holders that return their reference when they go.
struct FileReleaser {
    void operator()(AviFile* f) const { AVIFileRelease(f); }
};
struct StreamReleaser {
    void operator()(AviStream* s) const { AVIStreamRelease(s); }
};
struct GetterCloser {
    void operator()(FrameGetter* g) const { AVIStreamGetFrameClose(g); }
};
using FileHandle = std::unique_ptr<AviFile, FileReleaser>;
using StreamHandle = std::unique_ptr<AviStream, StreamReleaser>;
using GetterHandle = std::unique_ptr<FrameGetter, GetterCloser>;

// Holds one AVIFileInit for its lifetime.
class LibraryScope {
public:
    LibraryScope() { AVIFileInit(); }
    ~LibraryScope() { AVIFileExit(); }
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
};

// Brings a file being written up to date on disk: its indexes and headers describe every sample
// written so far, so that the file opens whole even if the program is killed afterwards. Does
// nothing for files opened for reading.
HRESULT flushFile(PAVIFILE file);

// Finishes a file being written (indexes, headers, sizes: everything its last release would
// write) and reports whether all of it, and every sample before, reached the disk. Write errors
// met earlier come out here too. Afterwards the file takes no more samples; its handles are still
// released as usual. Release every compressed stream writing into the file first, since releasing
// one writes the frames its encoder still holds. AVIERR_OK for files opened for reading.
HRESULT finishFile(PAVIFILE file);

} // namespace qdx::vfw
