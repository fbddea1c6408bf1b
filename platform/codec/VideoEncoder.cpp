#include "platform/codec/VideoEncoder.h"

#include "platform/codec/CodecThreads.h"

#include "platform/codec/RgbToYuv.h"
#include "platform/codec/YuvPictures.h"

#include "platform/codec/FourccMap.h"
#include "platform/codec/FrameConverter.h"

#include <atomic>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstring>

namespace qdx::vfw {

namespace {

// What each encoder is fed and how its frame size must be aligned.
struct EncoderSetup {
    AVPixelFormat pixels;
    int align;
    uint16_t bitCount; // biBitCount of the compressed format
};

EncoderSetup setupOf(const char* encoder) {
    const QByteArray name(encoder);
    if (name == "mjpeg")
        return {AV_PIX_FMT_YUVJ420P, 2, 24};
    if (name == "mpeg4" || name == "libx264")
        return {AV_PIX_FMT_YUV420P, 2, 24};
    if (name == "ffv1")
        return {AV_PIX_FMT_BGR0, 1, 32};
    if (name == "huffyuv")
        return {AV_PIX_FMT_RGB24, 1, 24};
    if (name == "msvideo1")
        return {AV_PIX_FMT_RGB555LE, 4, 16};
    return {AV_PIX_FMT_YUV420P, 2, 24};
}

constexpr size_t kReadSlack = 64;

int roundUp(int value, int align) {
    return (value + align - 1) / align * align;
}

// dwQuality 0..10000 (anything above: the compressor's default) onto a quantiser 31..1.
int quantiserOf(DWORD quality) {
    return std::clamp(int(std::lround(1.0 + 30.0 * (10000.0 - quality) / 10000.0)), 1, 31);
}

// dwQuality onto x264's constant rate factor 51..0.
double rateFactorOf(DWORD quality) {
    return 51.0 * (10000.0 - quality) / 10000.0;
}

// The source layout of DIB pixels as libswscale names it; AV_PIX_FMT_NONE for layouts that go
// through the picture routines instead.
AVPixelFormat sourceFormatOf(const VideoFormat& f) {
    const uint32_t* m = f.masks();
    switch (f.bitCount()) {
    case 32:
        if (!f.bitfields() || (m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF))
            return AV_PIX_FMT_BGR0;
        return AV_PIX_FMT_NONE;
    case 24:
        return AV_PIX_FMT_BGR24;
    case 16:
        if (!f.bitfields() || (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F))
            return AV_PIX_FMT_RGB555LE;
        if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F)
            return AV_PIX_FMT_RGB565LE;
        return AV_PIX_FMT_NONE;
    case 8:
        return AV_PIX_FMT_PAL8;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// Repeats the last column and row of the picture into the padding an aligned frame size adds.
void padEdges(AVFrame* frame, int width, int height) {
    if (width == frame->width && height == frame->height)
        return;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!d)
        return;
    const int planes = av_pix_fmt_count_planes(AVPixelFormat(frame->format));
    for (int p = 0; p < planes; ++p) {
        const bool chroma = (p == 1 || p == 2) && !(d->flags & AV_PIX_FMT_FLAG_RGB);
        const int sw = chroma ? d->log2_chroma_w : 0;
        const int sh = chroma ? d->log2_chroma_h : 0;
        const int used = -((-width) >> sw);
        const int usedRows = -((-height) >> sh);
        const int full = -((-frame->width) >> sw);
        const int fullRows = -((-frame->height) >> sh);
        int step = 1;
        for (int c = 0; c < d->nb_components; ++c)
            if (d->comp[c].plane == p)
                step = std::max(step, d->comp[c].step);
        uint8_t* base = frame->data[p];
        const int stride = frame->linesize[p];
        for (int y = 0; y < usedRows; ++y) {
            uint8_t* row = base + size_t(y) * size_t(stride);
            for (int x = used; x < full; ++x)
                std::memcpy(row + size_t(x) * size_t(step), row + size_t(used - 1) * size_t(step),
                            size_t(step));
        }
        for (int y = usedRows; y < fullRows; ++y)
            std::memcpy(base + size_t(y) * size_t(stride),
                        base + size_t(usedRows - 1) * size_t(stride), size_t(full * step));
    }
}

} // namespace

VideoEncoder::~VideoEncoder() = default;

std::unique_ptr<VideoEncoder> VideoEncoder::open(const AVICOMPRESSOPTIONS& options,
                                                 const VideoFormat& input, DWORD scale, DWORD rate,
                                                 HRESULT* code, QString* error) {
    auto fail = [&](HRESULT hr, const QString& text) {
        if (code)
            *code = hr;
        if (error)
            *error = text;
        return std::unique_ptr<VideoEncoder>();
    };
    const Compressor* compressor = findCompressor(options.fccHandler);
    if (!compressor)
        return fail(
            AVIERR_NOCOMPRESSOR,
            QStringLiteral("There is no compressor %1.").arg(FourccMap::text(options.fccHandler)));
    if (!input.uncompressed())
        return fail(AVIERR_BADFORMAT,
                    QStringLiteral("Only uncompressed frames can be compressed."));
    std::unique_ptr<VideoEncoder> e(new VideoEncoder);
    e->m_compressor = compressor;
    e->m_input = input;
    if (!compressor->encoder) {
        const std::vector<uint8_t> header = input.packedHeader();
        e->m_format =
            QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size()));
        return e;
    }

    const AVCodec* codec = avcodec_find_encoder_by_name(compressor->encoder);
    if (!codec)
        return fail(AVIERR_NOCOMPRESSOR, QStringLiteral("The %1 encoder is missing.")
                                             .arg(QString::fromLatin1(compressor->encoder)));
    EncoderSettings settings;
    settings.encoder = compressor->encoder;
    settings.fourcc = compressor->fourcc;
    settings.width = input.width();
    settings.height = input.height();
    settings.scale = scale;
    settings.rate = rate;
    const bool keyFrames = (options.dwFlags & AVICOMPRESSF_KEYFRAMES) && options.dwKeyFrameEvery;
    settings.keyFrameEvery = int(std::min<DWORD>(
        keyFrames ? options.dwKeyFrameEvery : compressor->defaultKeyFrameEvery, 100000));
    settings.keyFrameEvery = std::max(settings.keyFrameEvery, 1);
    const bool dataRate = compressor->hasDataRate && (options.dwFlags & AVICOMPRESSF_DATARATE) &&
                          options.dwBytesPerSecond > 0;
    const DWORD quality =
        options.dwQuality <= 10000 ? options.dwQuality : compressor->defaultQuality;
    const QByteArray& name = settings.encoder;
    settings.threads = name == "mjpeg" || name == "mpeg4" ? pipelineCodingThreads(encoderThreads())
                                                          : encoderThreads();
    if (dataRate)
        settings.options.emplace_back("b",
                                      QByteArray::number(qint64(options.dwBytesPerSecond) * 8));
    if (name == "mjpeg" || name == "mpeg4") {
        settings.options.emplace_back("qmin", "1");
        settings.options.emplace_back("qmax", "31");
        if (!dataRate)
            settings.quantiser = quantiserOf(quality);
    } else if (name == "libx264") {
        settings.options.emplace_back("preset", "veryfast");
        if (realTimeCoding())
            settings.options.emplace_back("tune", "zerolatency");
        if (!dataRate)
            settings.options.emplace_back("crf",
                                          QByteArray::number(rateFactorOf(quality), 'g', 17));
    } else if (name == "ffv1") {
        settings.options.emplace_back("level", "3");
    }
    if (!e->openCodec(settings, codec, error)) {
        if (code)
            *code = AVIERR_COMPRESSOR;
        return nullptr;
    }
    return e;
}

std::unique_ptr<VideoEncoder> VideoEncoder::open(const EncoderSettings& settings, QString* error) {
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return std::unique_ptr<VideoEncoder>();
    };
    const AVCodec* codec = avcodec_find_encoder_by_name(settings.encoder.constData());
    if (!codec)
        return fail(QStringLiteral("The %1 encoder is missing.")
                        .arg(QString::fromLatin1(settings.encoder)));
    const int width = settings.like ? settings.like->width : settings.width;
    const int height = settings.like ? settings.like->height : settings.height;
    if (width <= 0 || height <= 0 || width > VideoFormat::kMaxSide ||
        height > VideoFormat::kMaxSide)
        return fail(QStringLiteral("A frame of %1x%2 cannot be encoded.").arg(width).arg(height));
    std::unique_ptr<VideoEncoder> e(new VideoEncoder);
    // The compressor of the encoder, when the list has one (its FourCC and defaults), else an
    // entry of the encoder's own.
    for (const Compressor& c : compressors())
        if (c.encoder && settings.encoder == c.encoder)
            e->m_compressor = &c;
    if (!e->m_compressor) {
        e->m_ownCompressor = std::make_unique<Compressor>();
        e->m_ownCompressor->encoder = codec->name;
        e->m_ownCompressor->name =
            QString::fromUtf8(codec->long_name ? codec->long_name : codec->name);
        e->m_ownCompressor->fourcc = FourccMap::fourccOf(codec->id);
        e->m_compressor = e->m_ownCompressor.get();
    }
    BITMAPINFOHEADER input;
    input.biWidth = width;
    input.biHeight = height;
    input.biBitCount = 24;
    input.biSizeImage = uint32_t(qdx::dibStride(width, 24) * height);
    QString why;
    const std::optional<VideoFormat> layout =
        VideoFormat::parse(std::span(reinterpret_cast<const uint8_t*>(&input), sizeof input), &why);
    if (!layout)
        return fail(why);
    e->m_input = *layout;
    if (!e->openCodec(settings, codec, error))
        return nullptr;
    return e;
}

bool VideoEncoder::openCodec(const EncoderSettings& settings, const AVCodec* codec,
                             QString* error) {
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    quietFfmpegLog();
    const AVFrame* like = settings.like;
    const EncoderSetup setup = setupOf(settings.encoder.constData());
    AVPixelFormat pixels = setup.pixels;
    if (like) {
        pixels = AVPixelFormat(like->format);
    } else if (!settings.pixelFormat.isEmpty()) {
        pixels = av_get_pix_fmt(settings.pixelFormat.constData());
        if (pixels == AV_PIX_FMT_NONE)
            return fail(QStringLiteral("There is no picture layout %1.")
                            .arg(QString::fromLatin1(settings.pixelFormat)));
    }
    m_context.reset(avcodec_alloc_context3(codec));
    if (!m_context)
        throw std::bad_alloc();
    AVCodecContext* c = m_context.get();
    // A decoder's own pictures keep their size; frames converted here are padded to what the
    // codec needs.
    m_width = like ? like->width : roundUp(m_input.width(), setup.align);
    m_height = like ? like->height : roundUp(m_input.height(), setup.align);
    c->width = m_width;
    c->height = m_height;
    c->pix_fmt = pixels;
    m_coded = pixels;
    if (like) {
        c->color_range = like->color_range;
        c->colorspace = like->colorspace;
        c->color_primaries = like->color_primaries;
        c->color_trc = like->color_trc;
    }
    c->sample_aspect_ratio =
        like && like->sample_aspect_ratio.num > 0 ? like->sample_aspect_ratio : AVRational{1, 1};
    AVRational frameTime{int(settings.scale), int(settings.rate)};
    if (settings.scale == 0 || settings.rate == 0 || settings.scale > INT32_MAX ||
        settings.rate > INT32_MAX)
        frameTime = AVRational{1, 25};
    av_reduce(&frameTime.num, &frameTime.den, frameTime.num, frameTime.den, INT32_MAX);
    c->time_base = frameTime;
    c->framerate = av_inv_q(frameTime);
    m_fourcc = settings.fourcc;
    const FOURCC tag = fourcc();
    // A decoder's pictures re-encoded to stand between its samples keep the encoder's own tag:
    // the FourCC is the source's, in the source's format.
    if (!like)
        c->codec_tag = tag;
    c->max_b_frames = std::max(settings.bFrames, 0);
    if (settings.keyFrameEvery > 0) {
        c->gop_size = settings.keyFrameEvery;
        c->keyint_min = settings.keyFrameEvery;
    } else {
        c->gop_size = 100000; // one key frame, the first
    }
    c->thread_count = contextThreads(settings.threads >= 0 ? settings.threads : encoderThreads());
    if (settings.quantiser > 0) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = std::clamp(settings.quantiser, 1, 31) * FF_QP2LAMBDA;
    }
    for (const auto& [key, value] : settings.options) {
        const int set = av_opt_set(c, key.constData(), value.constData(), AV_OPT_SEARCH_CHILDREN);
        if (set < 0)
            return fail(QStringLiteral("The %1 encoder takes no %2=%3: %4")
                            .arg(QString::fromLatin1(settings.encoder), QString::fromLatin1(key),
                                 QString::fromLatin1(value), ffmpegError(set)));
    }

    const int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0)
        return fail(QStringLiteral("The %1 encoder does not open: %2")
                        .arg(QString::fromLatin1(settings.encoder), ffmpegError(rc)));

    BITMAPINFOHEADER h;
    h.biWidth = m_width;
    h.biHeight = m_height;
    // The depth a reader expects of the coded layout: packed RGB's own (with its padding), 24 for
    // the rest.
    h.biBitCount = setup.bitCount;
    if (like || !settings.pixelFormat.isEmpty()) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(pixels);
        h.biBitCount = d && (d->flags & AV_PIX_FMT_FLAG_RGB) && d->nb_components >= 3 &&
                               av_pix_fmt_count_planes(pixels) == 1
                           ? uint16_t(av_get_padded_bits_per_pixel(d))
                           : 24;
    }
    h.biCompression = tag;
    h.biSizeImage = uint32_t(int64_t(m_width) * m_height * h.biBitCount / 8);
    h.biSize = uint32_t(40 + std::max(c->extradata_size, 0));
    m_format = QByteArray(reinterpret_cast<const char*>(&h), sizeof h);
    if (c->extradata_size > 0)
        m_format.append(reinterpret_cast<const char*>(c->extradata), c->extradata_size);

    m_frame = makeFrame();
    m_frame->format = pixels;
    m_frame->width = m_width;
    m_frame->height = m_height;
    if (av_frame_get_buffer(m_frame.get(), 0) < 0)
        throw std::bad_alloc();
    m_packet = makePacket();
    // Pictures prepared in the encoder's layout take their memory from a pool: a fresh buffer of
    // megabytes for every frame would cost a page fault for every page written.
    const int pictureBytes = av_image_get_buffer_size(pixels, m_width, m_height, 64);
    if (pictureBytes > 0 && !like)
        m_pictures.reset(av_buffer_pool_init(size_t(pictureBytes) + 64, av_buffer_alloc));
    return true;
}

bool VideoEncoder::fillFrame(const uint8_t* bits, AVPixelFormat source, int stride,
                             const uint32_t* palette) {
    if (av_frame_make_writable(m_frame.get()) < 0)
        return false;
    const int width = m_input.width();
    const int height = m_input.height();
    m_sws.reset(sws_getCachedContext(m_sws.release(), width, height, source, width, height,
                                     AVPixelFormat(m_frame->format), SWS_BICUBIC, nullptr, nullptr,
                                     nullptr));
    if (!m_sws)
        return false;
    const bool fullRange = fullRangePicture(m_frame.get());
    const int* table = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(m_sws.get(), table, 1, table, fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    const uint8_t* src[4] = {bits, reinterpret_cast<const uint8_t*>(palette), nullptr, nullptr};
    const int srcStride[4] = {stride, 0, 0, 0};
    if (sws_scale(m_sws.get(), src, srcStride, 0, height, m_frame->data, m_frame->linesize) <= 0)
        return false;
    padEdges(m_frame.get(), width, height);
    return true;
}

bool VideoEncoder::encode(const uint8_t* bits, size_t size, LONG position) {
    if (m_finished)
        return false;
    const int64_t imageSize = m_input.imageSize();
    if (!bits || int64_t(size) < imageSize)
        return false;
    if (!m_context) {
        m_ready.push_back(Sample{
            position, QByteArray(reinterpret_cast<const char*>(bits), imageSize), true, nullptr});
        return true;
    }
    const AVPixelFormat source = sourceFormatOf(m_input);
    bool filled;
    if (source == AV_PIX_FMT_NONE) {
        // Rare layouts (1 and 4 bits, unusual masks) go through the picture routines.
        QString error;
        const TBitmap picture = qdx::decodeDib(m_input.header(), m_input.colours(), m_input.masks(),
                                               std::span(bits, size_t(imageSize)), &error);
        if (picture.Empty())
            return false;
        const QImage rgb = picture.Image().convertToFormat(QImage::Format_RGB32);
        const size_t bytes = size_t(rgb.sizeInBytes());
        m_scratch.resize(bytes + kReadSlack);
        std::memcpy(m_scratch.data(), rgb.constBits(), bytes);
        filled = fillFrame(m_scratch.data(), AV_PIX_FMT_BGR0, int(rgb.bytesPerLine()), nullptr);
    } else if ((source == AV_PIX_FMT_BGR0 || source == AV_PIX_FMT_BGR24) &&
               (m_frame->format == AV_PIX_FMT_YUV420P || m_frame->format == AV_PIX_FMT_YUVJ420P) &&
               m_input.width() == m_width && m_input.height() == m_height) {
        // The common case, true-colour DIBs into 4:2:0: converted straight from the caller's rows.
        if (av_frame_make_writable(m_frame.get()) < 0)
            return false;
        const ptrdiff_t stride = ptrdiff_t(qdx::dibStride(m_input.width(), m_input.bitCount()));
        const uint8_t* first =
            m_input.topDown() ? bits : bits + ptrdiff_t(m_input.height() - 1) * stride;
        const YuvPlanes planes{m_frame->data[0],     m_frame->data[1],     m_frame->data[2],
                               m_frame->linesize[0], m_frame->linesize[1], m_frame->linesize[2]};
        rgbToYuv420(first, m_input.topDown() ? stride : -stride, source == AV_PIX_FMT_BGR0 ? 4 : 3,
                    m_width, m_height, planes, m_frame->format == AV_PIX_FMT_YUVJ420P);
        filled = true;
    } else {
        uint32_t palette[256] = {};
        for (size_t i = 0; i < m_input.colours().size() && i < 256; ++i) {
            const RGBQUAD& q = m_input.colours()[i];
            palette[i] =
                0xFF000000u | (uint32_t(q.rgbRed) << 16) | (uint32_t(q.rgbGreen) << 8) | q.rgbBlue;
        }
        const int stride = int(qdx::dibStride(m_input.width(), m_input.bitCount()));
        // libswscale's SIMD readers may load a few bytes past a row's end: the frame is read from
        // a copy with slack behind it rather than from the caller's buffer, which ends at the
        // last row.
        m_scratch.resize(size_t(imageSize) + kReadSlack);
        std::memcpy(m_scratch.data(), bits, size_t(imageSize));
        bits = m_scratch.data();
        // DIB rows are stored bottom-up unless the height is negative.
        const uint8_t* first =
            m_input.topDown() ? bits : bits + size_t(m_input.height() - 1) * size_t(stride);
        filled = fillFrame(first, source, m_input.topDown() ? stride : -stride, palette);
    }
    if (!filled)
        return false;
    m_frame->pts = position;
    // Constant-quantiser encoders take the quantiser from each picture.
    if (m_context->flags & AV_CODEC_FLAG_QSCALE)
        m_frame->quality = m_context->global_quality;
    return send(m_frame.get());
}

namespace {

// Encoders that code packed RGB: decoded pictures are converted straight into their layout.
bool codesRgb(AVPixelFormat format) {
    return format == AV_PIX_FMT_RGB24 || format == AV_PIX_FMT_BGR0;
}

} // namespace

bool VideoEncoder::takesPicture(const AVFrame* picture) const {
    if (!m_context || !picture || picture->width != m_input.width() ||
        picture->height != m_input.height() || m_width != m_input.width() ||
        m_height != m_input.height())
        return false;
    const AVPixelFormat coded = m_coded;
    if (codesRgb(coded))
        return directRgbPicture(picture);
    if (plainYuvLayout(coded) != AV_PIX_FMT_YUV420P)
        return false;
    const AVPixelFormat given = plainYuvLayout(AVPixelFormat(picture->format));
    if (given != AV_PIX_FMT_YUV420P && given != AV_PIX_FMT_YUV422P)
        return false;
    return fullRangePicture(picture) == (coded == AV_PIX_FMT_YUVJ420P) && bt601Picture(picture);
}

FramePtr VideoEncoder::preparePicture(const AVFrame* picture) const {
    if (!takesPicture(picture))
        return nullptr;
    const AVPixelFormat coded = m_coded;
    FramePtr frame = makeFrame();
    if (plainYuvLayout(AVPixelFormat(picture->format)) == AV_PIX_FMT_YUV420P &&
        plainYuvLayout(coded) == AV_PIX_FMT_YUV420P) {
        // The picture as it is: the encoder takes its own reference and never writes to it, and
        // the decoder may still read it as the reference of the pictures after it.
        if (av_frame_ref(frame.get(), picture) < 0)
            throw std::bad_alloc();
        // The decoder's picture type would force key frames where the source had them.
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->key_frame = 0;
        while (frame->nb_side_data > 0)
            av_frame_remove_side_data(frame.get(), frame->side_data[0]->type);
    } else {
        frame->format = coded;
        frame->width = m_width;
        frame->height = m_height;
        frame->buf[0] = m_pictures ? av_buffer_pool_get(m_pictures.get()) : nullptr;
        if (!frame->buf[0] ||
            av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, coded, m_width,
                                 m_height, 64) < 0)
            throw std::bad_alloc();
        if (codesRgb(coded)) {
            // One conversion into the coded layout, as the frame getter's DIB would have been made
            // and then repacked.
            pictureToRgb(picture, frame->data[0], frame->linesize[0],
                         coded == AV_PIX_FMT_RGB24 ? RgbLayout::Rgb24 : RgbLayout::Bgrx32);
        } else if (!copyToYuv420(picture, frame.get())) {
            return nullptr;
        }
    }
    frame->format = coded;
    return frame;
}

bool VideoEncoder::encodePicture(AVFrame* prepared, LONG position) {
    if (m_finished || !m_context || !prepared || prepared->format != m_coded ||
        prepared->width != m_width || prepared->height != m_height)
        return false;
    prepared->pts = position;
    if (m_context->flags & AV_CODEC_FLAG_QSCALE)
        prepared->quality = m_context->global_quality;
    return send(prepared);
}

bool VideoEncoder::encodeAsIs(const AVFrame* picture, LONG position, bool key) {
    if (m_finished || !m_context || !picture || picture->format != m_coded ||
        picture->width != m_width || picture->height != m_height)
        return false;
    if (!m_asIs)
        m_asIs = makeFrame();
    if (av_frame_ref(m_asIs.get(), picture) < 0)
        return false;
    m_asIs->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    while (m_asIs->nb_side_data > 0)
        av_frame_remove_side_data(m_asIs.get(), m_asIs->side_data[0]->type);
    m_asIs->pts = position;
    if (m_context->flags & AV_CODEC_FLAG_QSCALE)
        m_asIs->quality = m_context->global_quality;
    const bool sent = send(m_asIs.get());
    av_frame_unref(m_asIs.get());
    return sent;
}

bool VideoEncoder::encodeImage(const QImage& picture, LONG position) {
    if (picture.isNull())
        return false;
    DibBytes dib;
    BITMAPINFOHEADER layout = m_input.header();
    if (layout.biCompression == BI_ALPHABITFIELDS)
        layout.biCompression = BI_BITFIELDS;
    if (!FrameConverter::writeImage(picture, layout, dib))
        return false;
    const size_t offset = dib.size() - size_t(m_input.imageSize());
    return encode(dib.data() + offset, size_t(m_input.imageSize()), position);
}

bool VideoEncoder::send(AVFrame* frame) {
    AVCodecContext* c = m_context.get();
    int rc;
    for (;;) {
        rc = avcodec_send_frame(c, frame);
        if (rc != AVERROR(EAGAIN))
            break;
        // The encoder wants its packets taken first.
        const int got = avcodec_receive_packet(c, m_packet.get());
        if (got < 0)
            break;
        keepPacket();
    }
    if (rc < 0 && rc != AVERROR_EOF)
        return false;
    for (;;) {
        const int got = avcodec_receive_packet(c, m_packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return true;
        if (got < 0)
            return false;
        keepPacket();
    }
}

void VideoEncoder::keepPacket() {
    // Encoded samples are large for the lossless codecs (megabytes a frame): the packet itself
    // travels on, and a fresh one receives the next.
    PacketPtr packet = std::move(m_packet);
    m_packet = makePacket();
    Sample sample;
    sample.position = LONG(packet->pts);
    sample.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    sample.data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(packet->data), packet->size);
    sample.packet = std::move(packet);
    m_ready.push_back(std::move(sample));
}

bool VideoEncoder::finish() {
    if (m_finished)
        return true;
    m_finished = true;
    if (!m_context)
        return true;
    return send(nullptr);
}

bool VideoEncoder::take(Sample& sample) {
    if (m_ready.empty())
        return false;
    sample = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

} // namespace qdx::vfw
