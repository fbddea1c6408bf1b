#include "platform/codec/FourccMap.h"

extern "C" {
#include <libavformat/version.h>
#include <libavformat/version_major.h>
}

#include <array>
#include <cctype>
#include <dlfcn.h>
#include <mutex>

namespace qdx::vfw {

namespace {

FOURCC upper(FOURCC f) {
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i)
        out |= FOURCC(std::toupper(int((f >> (8 * i)) & 0xFF))) << (8 * i);
    return out;
}

struct Tag {
    FOURCC fourcc;
    AVCodecID codec;
};

constexpr FOURCC tag(const char (&c)[5]) {
    return FOURCC(uint8_t(c[0])) | FOURCC(uint8_t(c[1])) << 8 | FOURCC(uint8_t(c[2])) << 16 |
           FOURCC(uint8_t(c[3])) << 24;
}

// The FourCCs of nearly every AVI film met, and those our compressors write, with the codec
// libavformat's RIFF table gives them (a test holds the two together). Knowing them here spares
// every program the loading of libavformat and the many libraries behind it at start-up.
constexpr std::array kCommonTags = {
    Tag{tag("MJPG"), AV_CODEC_ID_MJPEG},     Tag{tag("mjpg"), AV_CODEC_ID_MJPEG},
    Tag{tag("XVID"), AV_CODEC_ID_MPEG4},     Tag{tag("xvid"), AV_CODEC_ID_MPEG4},
    Tag{tag("DIVX"), AV_CODEC_ID_MPEG4},     Tag{tag("divx"), AV_CODEC_ID_MPEG4},
    Tag{tag("DX50"), AV_CODEC_ID_MPEG4},     Tag{tag("dx50"), AV_CODEC_ID_MPEG4},
    Tag{tag("FMP4"), AV_CODEC_ID_MPEG4},     Tag{tag("fmp4"), AV_CODEC_ID_MPEG4},
    Tag{tag("MP4V"), AV_CODEC_ID_MPEG4},     Tag{tag("mp4v"), AV_CODEC_ID_MPEG4},
    Tag{tag("DIV3"), AV_CODEC_ID_MSMPEG4V3}, Tag{tag("div3"), AV_CODEC_ID_MSMPEG4V3},
    Tag{tag("MP43"), AV_CODEC_ID_MSMPEG4V3}, Tag{tag("MP42"), AV_CODEC_ID_MSMPEG4V2},
    Tag{tag("H264"), AV_CODEC_ID_H264},      Tag{tag("h264"), AV_CODEC_ID_H264},
    Tag{tag("X264"), AV_CODEC_ID_H264},      Tag{tag("x264"), AV_CODEC_ID_H264},
    Tag{tag("AVC1"), AV_CODEC_ID_H264},      Tag{tag("avc1"), AV_CODEC_ID_H264},
    Tag{tag("HFYU"), AV_CODEC_ID_HUFFYUV},   Tag{tag("FFVH"), AV_CODEC_ID_FFVHUFF},
    Tag{tag("FFV1"), AV_CODEC_ID_FFV1},      Tag{tag("MSVC"), AV_CODEC_ID_MSVIDEO1},
    Tag{tag("msvc"), AV_CODEC_ID_MSVIDEO1},  Tag{tag("CRAM"), AV_CODEC_ID_MSVIDEO1},
    Tag{tag("cram"), AV_CODEC_ID_MSVIDEO1},  Tag{tag("WHAM"), AV_CODEC_ID_MSVIDEO1},
    Tag{tag("CVID"), AV_CODEC_ID_CINEPAK},   Tag{tag("cvid"), AV_CODEC_ID_CINEPAK},
    Tag{tag("IV32"), AV_CODEC_ID_INDEO3},    Tag{tag("IV50"), AV_CODEC_ID_INDEO5},
    Tag{tag("mrle"), AV_CODEC_ID_MSRLE},     Tag{tag("MPG2"), AV_CODEC_ID_MPEG2VIDEO},
    Tag{tag("WMV1"), AV_CODEC_ID_WMV1},      Tag{tag("WMV2"), AV_CODEC_ID_WMV2},
    Tag{tag("WMV3"), AV_CODEC_ID_WMV3},      Tag{tag("VP80"), AV_CODEC_ID_VP8},
    Tag{tag("dvsd"), AV_CODEC_ID_DVVIDEO},   Tag{tag("ZMBV"), AV_CODEC_ID_ZMBV},
    Tag{tag("TSCC"), AV_CODEC_ID_TSCC},      Tag{tag("tscc"), AV_CODEC_ID_TSCC},
    Tag{tag("I420"), AV_CODEC_ID_RAWVIDEO},  Tag{tag("YV12"), AV_CODEC_ID_RAWVIDEO},
    Tag{tag("YUY2"), AV_CODEC_ID_RAWVIDEO},  Tag{tag("UYVY"), AV_CODEC_ID_RAWVIDEO},
};

// libavformat's RIFF table, loaded on the first FourCC the common ones do not hold.
class RiffTable {
public:
    static const RiffTable& get() {
        static const RiffTable table;
        return table;
    }

    AVCodecID codecOf(FOURCC fourcc) const {
        if (!m_codecOf)
            return AV_CODEC_ID_NONE;
        const void* const tables[] = {m_tags, nullptr};
        return m_codecOf(tables, unsigned(fourcc));
    }

    FOURCC fourccOf(AVCodecID codec) const {
        if (!m_fourccOf)
            return 0;
        const void* const tables[] = {m_tags, nullptr};
        return FOURCC(m_fourccOf(tables, codec));
    }

private:
    using Tags = const void* (*)();
    using CodecOf = AVCodecID (*)(const void* const*, unsigned);
    using FourccOf = unsigned (*)(const void* const*, AVCodecID);

    RiffTable() {
        // The libavformat of the version the program was built with.
        m_library = dlopen("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
                           RTLD_LAZY | RTLD_LOCAL);
        if (!m_library)
            return;
        const auto tags = reinterpret_cast<Tags>(dlsym(m_library, "avformat_get_riff_video_tags"));
        m_codecOf = reinterpret_cast<CodecOf>(dlsym(m_library, "av_codec_get_id"));
        m_fourccOf = reinterpret_cast<FourccOf>(dlsym(m_library, "av_codec_get_tag"));
        m_tags = tags ? tags() : nullptr;
        if (!m_tags) {
            m_codecOf = nullptr;
            m_fourccOf = nullptr;
        }
    }
    // The library stays loaded for the life of the program.

    void* m_library = nullptr;
    const void* m_tags = nullptr;
    CodecOf m_codecOf = nullptr;
    FourccOf m_fourccOf = nullptr;
};

AVCodecID lookUpCommon(FOURCC fourcc) {
    for (const Tag& t : kCommonTags)
        if (t.fourcc == fourcc)
            return t.codec;
    return AV_CODEC_ID_NONE;
}

} // namespace

AVCodecID FourccMap::codecOf(FOURCC fourcc) {
    AVCodecID id = lookUpCommon(fourcc);
    if (id == AV_CODEC_ID_NONE)
        id = lookUpCommon(upper(fourcc));
    if (id != AV_CODEC_ID_NONE || fourcc == 0)
        return id;
    const RiffTable& riff = RiffTable::get();
    id = riff.codecOf(fourcc);
    if (id == AV_CODEC_ID_NONE)
        id = riff.codecOf(upper(fourcc));
    return id;
}

AVCodecID FourccMap::commonCodecOf(FOURCC fourcc) {
    return lookUpCommon(fourcc);
}

AVCodecID FourccMap::riffCodecOf(FOURCC fourcc) {
    return RiffTable::get().codecOf(fourcc);
}

std::vector<FOURCC> FourccMap::commonFourccs() {
    std::vector<FOURCC> all;
    for (const Tag& t : kCommonTags)
        all.push_back(t.fourcc);
    return all;
}

FOURCC FourccMap::fourccOf(AVCodecID codec) {
    return RiffTable::get().fourccOf(codec);
}

bool FourccMap::isUncompressedHandler(FOURCC fourcc) {
    const FOURCC u = upper(fourcc);
    return u == 0 || u == mmioFOURCC('D', 'I', 'B', ' ') || u == mmioFOURCC('R', 'G', 'B', ' ') ||
           u == mmioFOURCC('R', 'A', 'W', ' ');
}

bool FourccMap::sameCompressor(FOURCC a, FOURCC b) {
    if (isUncompressedHandler(a) || isUncompressedHandler(b))
        return isUncompressedHandler(a) && isUncompressedHandler(b);
    if (upper(a) == upper(b))
        return true;
    const AVCodecID ca = codecOf(a);
    return ca != AV_CODEC_ID_NONE && ca == codecOf(b);
}

QString FourccMap::text(FOURCC fourcc) {
    QString s;
    for (int i = 0; i < 4; ++i) {
        const char c = char((fourcc >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
    }
    return s;
}

} // namespace qdx::vfw
