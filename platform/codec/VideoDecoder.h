#pragma once

// One FFmpeg decoder for a compressed video stream. Samples go in tagged with their position in
// the stream; pictures come out in display order carrying the tag of the sample that held them
// (AVFrame::pts), so the caller can tell which picture is which.

#include "platform/codec/FfmpegHandles.h"
#include "platform/codec/VideoFormat.h"

#include <deque>
#include <memory>
#include <span>

namespace qdx::vfw {

class VideoDecoder {
public:
    // The decoder for a compressed format, or nullptr with a message when FFmpeg has none or it
    // does not open. `threads` 0 lets FFmpeg choose.
    static std::unique_ptr<VideoDecoder> open(const VideoFormat& format, FOURCC handler,
                                              int threads, QString* error);

    // Feeds one sample. Returns the number of pictures this sample let out (0 while the decoder
    // fills its pipeline or when the sample holds no picture of its own). A sample the decoder
    // rejects counts as one that gave nothing; the decoder goes on with the next.
    int send(std::span<const uint8_t> data, int64_t tag, bool key);
    // Ends the stream: every picture still held comes out.
    int drain();
    // The oldest picture not yet taken, or nullptr. The decoder keeps it until the next call.
    AVFrame* take();
    // Pictures out of the decoder and not yet taken.
    int pending() const { return int(m_ready.size()); }
    // Forgets every sample and picture so that decoding can start again at a key sample.
    void reset();

    // Pictures the decoder holds back for reordering (B-frames).
    int reorderDelay() const { return m_context->has_b_frames; }
    AVCodecID codec() const { return m_context->codec_id; }

    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;
    ~VideoDecoder();

    struct PicturePool;

private:
    VideoDecoder();
    int collect();
    static int getPicture(AVCodecContext* c, AVFrame* frame, int flags);

    std::unique_ptr<PicturePool> m_pictures; // outlives the context, whose threads take from it
    CodecContextPtr m_context;
    PacketPtr m_packet;
    FramePtr m_taken;
    std::deque<FramePtr> m_ready;
    std::vector<uint8_t> m_buffer;   // sample bytes with FFmpeg's padding
    std::vector<uint32_t> m_palette; // ARGB palette of palettised codecs, sent after each reset
    bool m_sendPalette = false;
    bool m_draining = false;
};

} // namespace qdx::vfw
