#pragma once

// The records and flags of AVI and WAVE files as the AVIFile calls hand them out: open modes,
// sample and search flags, the file and stream headers and the sound format.

#include "platform/core/VfwTypes.h"

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
