#pragma once

// The scalar types, FourCC codes, result codes and compressor options that the AVI file layer
// and the codec bridge share with the AVIFile calls (platform/vfw/Vfw.h): the Windows records, so
// that the container and the codecs speak the same values without depending on each other.

#include <cstdint>

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

// Compressor options (AVICOMPRESSOPTIONS.dwFlags).
constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x00000001;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x00000002;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x00000004;
constexpr DWORD AVICOMPRESSF_VALID = 0x00000008;

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
