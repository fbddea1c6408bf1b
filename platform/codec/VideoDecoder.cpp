#include "platform/codec/VideoDecoder.h"

#include "platform/codec/CodecThreads.h"
#include "platform/codec/DibBytes.h"
#include "platform/codec/FourccMap.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <atomic>
#include <cstring>

namespace qdx::vfw {

// Decoded pictures in memory of our own: each picture one block of whole huge pages (see
// DibBytes) from a pool, instead of FFmpeg's buffers per plane on 4 KiB pages. A decoder's
// pictures are touched for the first time as its pool fills, a page fault per 4 KiB otherwise:
// about a dozen 720p pictures, some 3 500 faults, tens of milliseconds on a virtual machine.
// The layout is FFmpeg's own (its dimensions and line alignment for the codec, each plane with
// its overread margin); small pictures, palettes and hardware frames keep FFmpeg's buffers.
struct VideoDecoder::PicturePool {
    std::mutex mutex; // frame threads ask for pictures at once
    AVBufferPool* pool = nullptr;
    bool own = false; // pictures of this layout come from `pool`
    int format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    int linesize[4] = {};
    size_t offset[4] = {};
    bool plane[4] = {};
    ~PicturePool() { av_buffer_pool_uninit(&pool); }
};

namespace {

constexpr size_t kPlaneAlign = 64;
constexpr size_t kOwnPicturesFrom = size_t(1) << 20;

void freePicture(void* bytes, uint8_t* data) {
    freeDibMemory(data, size_t(reinterpret_cast<uintptr_t>(bytes)));
}

AVBufferRef* allocatePicture(void*, size_t size) {
    void* memory;
    try {
        memory = allocateDibMemory(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    AVBufferRef* ref = av_buffer_create(static_cast<uint8_t*>(memory), size, freePicture,
                                        reinterpret_cast<void*>(uintptr_t(size)), 0);
    if (!ref)
        freeDibMemory(memory, size);
    return ref;
}

} // namespace

int VideoDecoder::getPicture(AVCodecContext* c, AVFrame* frame, int flags) {
    auto* pictures = static_cast<PicturePool*>(c->opaque);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!pictures || !desc || !(c->codec->capabilities & AV_CODEC_CAP_DR1) ||
        (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)))
        return avcodec_default_get_buffer2(c, frame, flags);
    std::lock_guard lock(pictures->mutex);
    PicturePool& p = *pictures;
    if (p.format != frame->format || p.width != frame->width || p.height != frame->height) {
        av_buffer_pool_uninit(&p.pool);
        p.own = false;
        p.format = frame->format;
        p.width = frame->width;
        p.height = frame->height;
        // As FFmpeg lays a picture out: the codec's dimensions, and the width raised until every
        // line meets the codec's alignment.
        int w = frame->width;
        int h = frame->height;
        int align[AV_NUM_DATA_POINTERS];
        avcodec_align_dimensions2(c, &w, &h, align);
        int linesize[4];
        bool unaligned;
        do {
            if (av_image_fill_linesizes(linesize, AVPixelFormat(frame->format), w) < 0)
                return avcodec_default_get_buffer2(c, frame, flags);
            w += w & ~(w - 1);
            unaligned = false;
            for (int i = 0; i < 4; ++i)
                unaligned |= align[i] > 0 && linesize[i] % align[i] != 0;
        } while (unaligned);
        const ptrdiff_t lines[4] = {linesize[0], linesize[1], linesize[2], linesize[3]};
        size_t sizes[4];
        if (av_image_fill_plane_sizes(sizes, AVPixelFormat(frame->format), h, lines) < 0)
            return avcodec_default_get_buffer2(c, frame, flags);
        size_t total = 0;
        for (int i = 0; i < 4; ++i) {
            p.linesize[i] = linesize[i];
            p.plane[i] = sizes[i] > 0;
            p.offset[i] = total;
            if (p.plane[i])
                total +=
                    (sizes[i] + 16 + kPlaneAlign - 1 + kPlaneAlign - 1) / kPlaneAlign * kPlaneAlign;
        }
        if (total >= kOwnPicturesFrom) {
            p.pool = av_buffer_pool_init2(total, nullptr, allocatePicture, nullptr);
            p.own = p.pool != nullptr;
        }
    }
    if (!p.own)
        return avcodec_default_get_buffer2(c, frame, flags);
    frame->buf[0] = av_buffer_pool_get(p.pool);
    if (!frame->buf[0])
        return AVERROR(ENOMEM);
    for (int i = 0; i < 4; ++i) {
        frame->data[i] = p.plane[i] ? frame->buf[0]->data + p.offset[i] : nullptr;
        frame->linesize[i] = p.plane[i] ? p.linesize[i] : 0;
    }
    frame->extended_data = frame->data;
    return 0;
}

VideoDecoder::VideoDecoder() : m_pictures(std::make_unique<PicturePool>()) {}

VideoDecoder::~VideoDecoder() = default;

std::unique_ptr<VideoDecoder> VideoDecoder::open(const VideoFormat& format, FOURCC handler,
                                                 int threads, QString* error) {
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return std::unique_ptr<VideoDecoder>();
    };
    FOURCC tag = format.compression();
    AVCodecID id = FourccMap::codecOf(tag);
    if (id == AV_CODEC_ID_NONE && !FourccMap::isUncompressedHandler(handler)) {
        // Some writers leave the compression field empty and name the codec in the handler.
        id = FourccMap::codecOf(handler);
        tag = handler;
    }
    if (id == AV_CODEC_ID_NONE)
        return fail(QStringLiteral("No decoder knows the compression %1.")
                        .arg(FourccMap::text(format.compression())));
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec)
        return fail(QStringLiteral("No decoder is available for %1.")
                        .arg(QString::fromUtf8(avcodec_get_name(id))));

    quietFfmpegLog();
    std::unique_ptr<VideoDecoder> d(new VideoDecoder);
    d->m_context.reset(avcodec_alloc_context3(codec));
    if (!d->m_context)
        throw std::bad_alloc();
    AVCodecContext* c = d->m_context.get();
    c->width = format.width();
    c->height = format.height();
    c->codec_tag = tag;
    c->bits_per_coded_sample = format.bitCount();
    c->thread_count = contextThreads(threads);
    c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    c->opaque = d->m_pictures.get();
    c->get_buffer2 = getPicture;
    // Pictures are numbered by the sample that held them; FFmpeg's own guesses are not needed.
    c->pkt_timebase = AVRational{1, 1};
    const QByteArray& extra = format.extraData();
    if (!extra.isEmpty()) {
        c->extradata =
            static_cast<uint8_t*>(av_mallocz(size_t(extra.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!c->extradata)
            throw std::bad_alloc();
        std::memcpy(c->extradata, extra.constData(), size_t(extra.size()));
        c->extradata_size = int(extra.size());
    }
    if (!format.colours().empty()) {
        for (const RGBQUAD& q : format.colours())
            d->m_palette.push_back(0xFF000000u | (uint32_t(q.rgbRed) << 16) |
                                   (uint32_t(q.rgbGreen) << 8) | q.rgbBlue);
        d->m_palette.resize(AVPALETTE_COUNT, 0xFF000000u);
        d->m_sendPalette = true;
    }
    const int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0)
        return fail(QStringLiteral("The %1 decoder does not open: %2")
                        .arg(QString::fromUtf8(codec->name), ffmpegError(rc)));
    d->m_packet = makePacket();
    d->m_taken = makeFrame();
    return d;
}

int VideoDecoder::collect() {
    int got = 0;
    for (;;) {
        FramePtr f = makeFrame();
        const int rc = avcodec_receive_frame(m_context.get(), f.get());
        if (rc < 0)
            break;
        m_ready.push_back(std::move(f));
        ++got;
    }
    return got;
}

int VideoDecoder::send(std::span<const uint8_t> data, int64_t tag, bool key) {
    if (m_draining)
        return 0;
    m_buffer.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!data.empty())
        std::memcpy(m_buffer.data(), data.data(), data.size());
    std::memset(m_buffer.data() + data.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    AVPacket* p = m_packet.get();
    av_packet_unref(p);
    p->data = m_buffer.data();
    p->size = int(data.size());
    p->pts = tag;
    p->dts = AV_NOPTS_VALUE;
    p->flags = key ? AV_PKT_FLAG_KEY : 0;
    if (m_sendPalette) {
        uint8_t* side = av_packet_new_side_data(p, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (side)
            std::memcpy(side, m_palette.data(), AVPALETTE_SIZE);
        m_sendPalette = false;
    }
    int got = 0;
    for (;;) {
        const int rc = avcodec_send_packet(m_context.get(), p);
        if (rc == AVERROR(EAGAIN)) {
            // The decoder wants its pictures taken before it accepts more.
            const int n = collect();
            got += n;
            if (n == 0)
                break;
            continue;
        }
        break;
    }
    av_packet_free_side_data(p);
    p->data = nullptr;
    p->size = 0;
    return got + collect();
}

int VideoDecoder::drain() {
    if (m_draining)
        return collect();
    m_draining = true;
    avcodec_send_packet(m_context.get(), nullptr);
    return collect();
}

AVFrame* VideoDecoder::take() {
    av_frame_unref(m_taken.get());
    if (m_ready.empty())
        return nullptr;
    av_frame_move_ref(m_taken.get(), m_ready.front().get());
    m_ready.pop_front();
    return m_taken.get();
}

void VideoDecoder::reset() {
    avcodec_flush_buffers(m_context.get());
    m_ready.clear();
    av_frame_unref(m_taken.get());
    m_draining = false;
    m_sendPalette = !m_palette.empty();
}

} // namespace qdx::vfw
