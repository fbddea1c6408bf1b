#pragma once

// The AVI file layer and the video compression manager: the calls, records and result codes the
// engine relies on, with the same argument meanings and results. Paths are QStrings; files are
// RIFF AVI (ours, AVI 1.0 and OpenDML) or RIFF WAVE, chosen by the name's extension; codecs are
// FFmpeg's.
//
// Handles are reference-counted objects: every Open/Get/Create/Make gives the caller one reference
// that it returns with the matching Release. The RAII holders at the end of this header do that.

#include "platform/core/Dib.h"

#include <QString>

#include <cstdint>
#include <memory>

using HRESULT = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using UINT = uint32_t;
using BOOL = int;
using FOURCC = uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
constexpr FOURCC streamtypeMIDI = mmioFOURCC('m', 'i', 'd', 's');
constexpr FOURCC streamtypeTEXT = mmioFOURCC('t', 'x', 't', 's');
// The handler code of uncompressed frames ("DIB "); 0 means the same.
constexpr FOURCC comptypeDIB = mmioFOURCC('D', 'I', 'B', ' ');

// Result codes: MAKE_AVIERR(n) is the severity-error, interface-facility code 0x4000 + n.
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT MAKE_AVIERR(int error) {
    return HRESULT(0x80040000u | uint32_t(0x4000 + error));
}
constexpr HRESULT AVIERR_UNSUPPORTED = MAKE_AVIERR(101);
constexpr HRESULT AVIERR_BADFORMAT = MAKE_AVIERR(102);
constexpr HRESULT AVIERR_MEMORY = MAKE_AVIERR(103);
constexpr HRESULT AVIERR_INTERNAL = MAKE_AVIERR(104);
constexpr HRESULT AVIERR_BADFLAGS = MAKE_AVIERR(105);
constexpr HRESULT AVIERR_BADPARAM = MAKE_AVIERR(106);
constexpr HRESULT AVIERR_BADSIZE = MAKE_AVIERR(107);
constexpr HRESULT AVIERR_BADHANDLE = MAKE_AVIERR(108);
constexpr HRESULT AVIERR_FILEREAD = MAKE_AVIERR(109);
constexpr HRESULT AVIERR_FILEWRITE = MAKE_AVIERR(110);
constexpr HRESULT AVIERR_FILEOPEN = MAKE_AVIERR(111);
constexpr HRESULT AVIERR_COMPRESSOR = MAKE_AVIERR(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MAKE_AVIERR(113);
constexpr HRESULT AVIERR_READONLY = MAKE_AVIERR(114);
constexpr HRESULT AVIERR_NODATA = MAKE_AVIERR(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MAKE_AVIERR(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MAKE_AVIERR(117);
constexpr HRESULT AVIERR_USERABORT = MAKE_AVIERR(198);
constexpr HRESULT AVIERR_ERROR = MAKE_AVIERR(199);

// The name of a result code ("AVIERR_BADFORMAT"), empty for codes outside the AVI family.
QString aviErrorName(HRESULT code);

// Open modes (combinable).
constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_READWRITE = 0x0002;
constexpr UINT OF_SHARE_EXCLUSIVE = 0x0010;
constexpr UINT OF_CREATE = 0x1000;

// Sample flags.
constexpr DWORD AVIIF_LIST = 0x00000001;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr DWORD AVIIF_NOTIME = 0x00000100;

// AVIStreamFindSample flags.
constexpr LONG FIND_DIR = 0x0000000F;
constexpr LONG FIND_NEXT = 0x00000001;
constexpr LONG FIND_PREV = 0x00000004;
constexpr LONG FIND_FROM_START = 0x00000008;
constexpr LONG FIND_TYPE = 0x000000F0;
constexpr LONG FIND_KEY = 0x00000010;
constexpr LONG FIND_ANY = 0x00000020;
constexpr LONG FIND_FORMAT = 0x00000040;

// AVIStreamRead: read as many samples as convenient.
constexpr LONG AVISTREAMREAD_CONVENIENT = -1;

// Compressor dialog flags (AVISaveOptions) and option flags.
constexpr UINT ICMF_CHOOSE_KEYFRAME = 0x0001;
constexpr UINT ICMF_CHOOSE_DATARATE = 0x0002;
constexpr UINT ICMF_CHOOSE_PREVIEW = 0x0004;
constexpr UINT ICMF_CHOOSE_ALLCOMPRESSORS = 0x0008;
constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x00000001;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x00000002;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x00000004;
constexpr DWORD AVICOMPRESSF_VALID = 0x00000008;

// File capabilities and flags (AVIFILEINFO).
constexpr DWORD AVIFILECAPS_CANREAD = 0x00000001;
constexpr DWORD AVIFILECAPS_CANWRITE = 0x00000002;
constexpr DWORD AVIFILEINFO_HASINDEX = 0x00000010;
constexpr DWORD AVIFILEINFO_ISINTERLEAVED = 0x00000100;

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

// File information. dwRate / dwScale is the film's frame rate (dwRate 1000000, dwScale the
// microseconds per frame of the main header); dwLength the frame count of the first video stream.
struct AVIFILEINFOW {
    DWORD dwMaxBytesPerSec = 0;
    DWORD dwFlags = 0;
    DWORD dwCaps = 0;
    DWORD dwStreams = 0;
    DWORD dwSuggestedBufferSize = 0;
    DWORD dwWidth = 0;
    DWORD dwHeight = 0;
    DWORD dwScale = 0;
    DWORD dwRate = 0;
    DWORD dwLength = 0;
    DWORD dwEditCount = 0;
    char16_t szFileType[64] = {};
};
static_assert(sizeof(AVIFILEINFOW) == 172);

struct AVIFILEINFOA {
    DWORD dwMaxBytesPerSec = 0;
    DWORD dwFlags = 0;
    DWORD dwCaps = 0;
    DWORD dwStreams = 0;
    DWORD dwSuggestedBufferSize = 0;
    DWORD dwWidth = 0;
    DWORD dwHeight = 0;
    DWORD dwScale = 0;
    DWORD dwRate = 0;
    DWORD dwLength = 0;
    DWORD dwEditCount = 0;
    char szFileType[64] = {};
};

// Stream header (140 bytes). szName is UTF-8.
struct AVISTREAMINFO {
    DWORD fccType = 0;
    DWORD fccHandler = 0;
    DWORD dwFlags = 0;
    DWORD dwCaps = 0;
    WORD wPriority = 0;
    WORD wLanguage = 0;
    DWORD dwScale = 0;
    DWORD dwRate = 0;
    DWORD dwStart = 0;
    DWORD dwLength = 0;
    DWORD dwInitialFrames = 0;
    DWORD dwSuggestedBufferSize = 0;
    DWORD dwQuality = 0;
    DWORD dwSampleSize = 0;
    RECT rcFrame;
    DWORD dwEditCount = 0;
    DWORD dwFormatChangeCount = 0;
    char szName[64] = {};
};
static_assert(sizeof(AVISTREAMINFO) == 140);
using AVISTREAMINFOA = AVISTREAMINFO;

// Compressor options. lpFormat and lpParms are owned by the block once a chooser filled it, and
// freed by AVISaveOptionsFree.
struct AVICOMPRESSOPTIONS {
    DWORD fccType = 0;          // streamtypeVIDEO
    DWORD fccHandler = 0;       // the compressor's FourCC; 0 or comptypeDIB: uncompressed
    DWORD dwKeyFrameEvery = 0;  // with AVICOMPRESSF_KEYFRAMES
    DWORD dwQuality = 0;        // 0..10000
    DWORD dwBytesPerSecond = 0; // with AVICOMPRESSF_DATARATE
    DWORD dwFlags = 0;
    void* lpFormat = nullptr;
    DWORD cbFormat = 0;
    void* lpParms = nullptr;
    DWORD cbParms = 0;
    DWORD dwInterleaveEvery = 0;
};
using LPAVICOMPRESSOPTIONS = AVICOMPRESSOPTIONS*;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
constexpr WORD WAVE_FORMAT_PCM = 1;

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

// A hidden name beside `path` for a file written in its place: ".<name>.partial-<32 hex digits>"
// and the same extension (the extension picks the file handler). Never the name of a work file.
QString partialPathFor(const QString& path);

// Threads every decoder and encoder opened from now on uses; 0 (the default) lets FFmpeg take one
// per core. Benchmarks set it to compare with other tools at the same thread count.
void setCodecThreads(int threads);

// Held (on the opening thread) while the frame pipeline opens the codecs of a recompression, which
// decode and encode on two threads of their own (RecompressPipeline): the decoders opened
// meanwhile, and FFmpeg's MPEG-video encoders (Motion JPEG, MPEG-4), get half the threads set
// (one at least; 0, FFmpeg's choice, stays), since their frame and slice threads otherwise
// compete with the pipeline's threads for the same cores. With two threads, a 720p MPEG-4
// recompression took 0.86 s with two threads in each codec, 0.72 s so; H.264 1.65 s and 1.54 s.
// libx264 keeps the threads set: its own threading pays.
class PipelineCoding {
public:
    PipelineCoding();
    ~PipelineCoding();
    PipelineCoding(const PipelineCoding&) = delete;
    PipelineCoding& operator=(const PipelineCoding&) = delete;

private:
    bool m_previous;
};
// The threads a codec so opened gets of the `threads` set.
int pipelineCodingThreads(int threads);

// The size past which a written AVI continues in OpenDML "AVIX" extents (about 1 GiB). Tests set a
// small value to exercise the extents; 0 restores the default.
void setOpenDmlThreshold(int64_t bytes);
int64_t openDmlThreshold();

} // namespace qdx::vfw
