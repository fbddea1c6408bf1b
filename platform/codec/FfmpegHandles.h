#pragma once

// Owning holders for FFmpeg's C objects: each frees its object with the matching FFmpeg call.
// Copies are impossible (unique_ptr); moves hand the object on.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <QString>

#include <memory>
#include <mutex>

namespace qdx::vfw {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct BsfFree {
    void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFree>;

inline FramePtr makeFrame() {
    FramePtr f(av_frame_alloc());
    if (!f)
        throw std::bad_alloc();
    return f;
}

inline PacketPtr makePacket() {
    PacketPtr p(av_packet_alloc());
    if (!p)
        throw std::bad_alloc();
    return p;
}

// FFmpeg reports only errors on standard error (its notes on every encoder's statistics and on
// odd but readable streams are of no use to the user). Called before the first codec opens.
inline void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (qEnvironmentVariableIsEmpty("QDX_FFMPEG_LOG"))
            av_log_set_level(AV_LOG_ERROR);
    });
}

// FFmpeg's text for an error code.
inline QString ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace qdx::vfw
