#pragma once

// One compressor at work: takes uncompressed DIB frames (the layout set as the stream's format)
// or decoded pictures and gives the samples to write, each with its position and key flag, and
// the format the target stream carries: a BITMAPINFOHEADER naming the compressor's FourCC,
// followed by the encoder's extra data. "Full Frames (Uncompressed)" passes the DIBs through as
// they are.
//
// Every picture given becomes exactly one sample. A compressor chosen by its options never uses
// B-frames, so its samples come in order, each at its own position; what an encoder holds back
// (frame threads, look-ahead) comes out later or at finish(). An encoder opened with B-frames
// (EncoderSettings) gives its samples in coding order, each with the position of its picture.

#include "platform/codec/Compressors.h"
#include "platform/codec/FfmpegHandles.h"
#include "platform/codec/VideoFormat.h"

#include <QByteArray>
#include <QImage>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace qdx::vfw {

// An encoder set up field by field rather than from a compressor's options: the stream copier's
// re-encoded frames, which must look like the source's (its picture layout and colours, its
// reordering), and the test films.
struct EncoderSettings {
    QByteArray encoder; // FFmpeg's encoder ("mpeg4", "libx264", "mjpeg", ...)
    FOURCC fourcc = 0;  // the format's FourCC; 0: the compressor's of the encoder, else FFmpeg's
    int width = 0;      // the frame size; with `like`, the picture's
    int height = 0;
    QByteArray pixelFormat; // the coded layout by FFmpeg's name; empty: the encoder's usual one
    // A picture whose size, layout, colour properties and aspect the encoder takes: frames then
    // go to encodeAsIs without conversion (a decoder's own pictures).
    const AVFrame* like = nullptr;
    DWORD scale = 1; // seconds per frame: scale / rate
    DWORD rate = 25;
    int keyFrameEvery = 0; // 0: the first frame only
    int bFrames = 0;
    int quantiser = 0; // a constant quantiser 1..31 for the MPEG-video encoders (0: none)
    int threads = -1;  // -1: the encoder threads set (encoderThreads())
    // Further options of the codec context or the encoder, by FFmpeg's names, set last:
    // {"preset", "ultrafast"}, {"crf", "10"}, {"flags", "+qpel"}, {"x264-params", "open-gop=1"}.
    std::vector<std::pair<QByteArray, QByteArray>> options;
};

class VideoEncoder {
public:
    struct Sample {
        LONG position = 0;
        QByteArray data; // for an encoded sample, a view of `packet`'s bytes
        bool key = false;
        PacketPtr packet;
    };

    // The compressor the options name, for frames of the `input` layout at `scale`/`rate` frames
    // per second. nullptr with `code` AVIERR_NOCOMPRESSOR for an unknown compressor,
    // AVIERR_BADFORMAT for frames it cannot take, AVIERR_COMPRESSOR when FFmpeg refuses.
    static std::unique_ptr<VideoEncoder> open(const AVICOMPRESSOPTIONS& options,
                                              const VideoFormat& input, DWORD scale, DWORD rate,
                                              HRESULT* code, QString* error = nullptr);
    // An encoder set up by the settings (nullptr with the reason when FFmpeg lacks or refuses
    // it). Without `like`, it takes 24-bit bottom-up DIBs of the frame size (encode, encodeImage).
    static std::unique_ptr<VideoEncoder> open(const EncoderSettings& settings, QString* error);

    // The target stream's format.
    const QByteArray& format() const { return m_format; }
    FOURCC fourcc() const { return m_fourcc ? m_fourcc : m_compressor->fourcc; }
    const Compressor& compressor() const { return *m_compressor; }

    // Encodes the pixels of one frame (the input layout's bytes) for a position. False when the
    // frame is too short or the encoder fails.
    bool encode(const uint8_t* bits, size_t size, LONG position);
    // True when a decoded picture can go to encodePicture: the input's size (no padding), 8-bit
    // 4:2:0 or 4:2:2 with the BT.601 matrix DIBs are converted with (or none named), and for the
    // YUV encoders (Motion JPEG, MPEG-4, H.264) the encoder's range, so that the picture goes on
    // in YUV and its colours stay those the source has.
    bool takesPicture(const AVFrame* picture) const; // thread-safe
    // The picture in the encoder's layout, without the round trip through a DIB: the picture
    // itself when its layout is the encoder's, its chroma turned into 4:2:0 for 4:2:2 pictures,
    // or converted once into the layout of an RGB encoder (HuffYUV, FFV1); nullptr when
    // takesPicture refuses it. Thread-safe: decoding threads prepare pictures while this encoder
    // codes others.
    FramePtr preparePicture(const AVFrame* picture) const;
    // Encodes a prepared picture for a position. False when it is not in the encoder's layout or
    // the encoder fails.
    bool encodePicture(AVFrame* prepared, LONG position);
    // Encodes a picture of the layout the encoder was opened `like`, as it is, for a position;
    // `key` makes it a key frame. The decoder's notes on the picture (its type, side data) are
    // not taken as orders.
    bool encodeAsIs(const AVFrame* picture, LONG position, bool key);
    // Encodes a picture, scaled to the frame size (the compressor dialog's preview).
    bool encodeImage(const QImage& picture, LONG position);
    // Lets out whatever the encoder still holds. No frame may follow.
    bool finish();
    // The oldest sample ready, if any.
    bool take(Sample& sample);
    bool finished() const { return m_finished; }

    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;
    ~VideoEncoder();

private:
    VideoEncoder() = default;
    // Opens the codec of the settings for frames of m_input's layout.
    bool openCodec(const EncoderSettings& settings, const AVCodec* codec, QString* error);
    bool send(AVFrame* frame);
    // Hands the packet just received on as a sample, without copying its bytes.
    void keepPacket();
    bool fillFrame(const uint8_t* bits, AVPixelFormat source, int stride, const uint32_t* palette);

    const Compressor* m_compressor = nullptr;
    std::unique_ptr<Compressor> m_ownCompressor; // an encoder the compressor list does not offer
    FOURCC m_fourcc = 0;                         // the format's FourCC when not the compressor's
    VideoFormat m_input;
    QByteArray m_format;
    CodecContextPtr m_context;
    AVPixelFormat m_coded = AV_PIX_FMT_NONE; // the layout the encoder codes
    FramePtr m_frame;
    FramePtr m_asIs; // refers to the picture encodeAsIs sends
    struct PoolFree {
        void operator()(AVBufferPool* pool) const { av_buffer_pool_uninit(&pool); }
    };
    // Memory of prepared pictures (thread-safe; it goes when the last picture is let go).
    std::unique_ptr<AVBufferPool, PoolFree> m_pictures;
    PacketPtr m_packet;
    SwsPtr m_sws;
    int m_width = 0; // frame size of the encoder (padded where the codec needs it)
    int m_height = 0;
    std::deque<Sample> m_ready;
    std::vector<uint8_t> m_scratch;
    bool m_finished = false;
};

} // namespace qdx::vfw
