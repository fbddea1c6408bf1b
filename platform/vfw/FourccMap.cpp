#include "platform/vfw/FourccMap.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cctype>

namespace qdx::vfw {

namespace {

FOURCC upper(FOURCC f) {
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i)
        out |= FOURCC(std::toupper(int((f >> (8 * i)) & 0xFF))) << (8 * i);
    return out;
}

} // namespace

AVCodecID FourccMap::codecOf(FOURCC fourcc) {
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    AVCodecID id = av_codec_get_id(tables, fourcc);
    if (id == AV_CODEC_ID_NONE)
        id = av_codec_get_id(tables, upper(fourcc));
    return id;
}

FOURCC FourccMap::fourccOf(AVCodecID codec) {
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, codec);
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
