#include "platform/vfw/StreamCopy.h"

#include "platform/codec/CodecThreads.h"

#include "platform/codec/FfmpegHandles.h"
#include "platform/codec/FourccMap.h"
#include "platform/codec/VideoEncoder.h"
#include "platform/codec/VideoFormat.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "platform/vfw/StreamFormat.h"
#include "platform/vfw/StreamHeaders.h"
#include "platform/vfw/VfwObjects.h"

#include <cstring>
#include <deque>

namespace qdx::vfw {

namespace {

// Pictures a codec shows away from their stored place, at most (B-frame runs, pyramids): the
// neighbourhood of a range's ends that is decoded to learn which samples hold which frames. The
// decoder's reordering delay narrows it (a run of B-frames is at most a few times the delay).
constexpr LONG kSpan = 16;

LONG spanFor(int reorderDelay) {
    return std::clamp<LONG>(4 * LONG(reorderDelay) + 4, 4, kSpan);
}

// Our encoder for the frames of a copy that cannot be taken as stored: the source's codec, fed
// the decoder's own pictures (same size and pixel format, no colour conversion), at a quality
// high enough that the seam does not show. The first picture is a key frame carrying the codec's
// headers in its sample (no global header), so a decoder takes the switch from and to the
// source's samples. MPEG-4 part 2 keeps the source's reordering mode: its decoders show a
// picture late or at once according to the headers, and a switch between the two modes would
// show one picture twice or lose one.
std::unique_ptr<VideoEncoder> openBridge(const char* encoder, const AVFrame& picture,
                                         const AVISTREAMINFO& info, bool reorders,
                                         const std::optional<Mpeg4Layer>& layer,
                                         const std::optional<H264Sequence>& sequence,
                                         QString* error) {
    EncoderSettings settings;
    settings.encoder = encoder;
    settings.like = &picture;
    settings.scale = info.dwScale;
    settings.rate = info.dwRate;
    settings.threads = encoderThreads();
    const QByteArray& name = settings.encoder;
    settings.bFrames = (reorders && name == "mpeg4") ? 2 : 0;
    if (name == "mpeg4") {
        settings.options = {{"qmin", "1"}, {"qmax", "31"}};
        settings.quantiser = 1; // the finest
        // The source's layer decides how its VOPs decode: the bridge's layer, which a decoder
        // keeps until the source's next one, codes the same way.
        QByteArray flags;
        if (layer && layer->mpegQuantisation && !layer->customMatrices)
            settings.options.emplace_back("mpeg_quant", "1");
        if (layer && layer->quarterPel)
            flags += "+qpel";
        if (layer && layer->interlaced)
            flags += "+ildct+ilme";
        if (!flags.isEmpty())
            settings.options.emplace_back("flags", flags);
    } else if (name == "libx264") {
        settings.options = {{"preset", "ultrafast"}, {"crf", "10"}};
        // The source's profile, level, entropy coder and reference count: its samples after the
        // bridge are decoded with a decoder set up by the bridge's parameters.
        if (sequence) {
            const bool high = sequence->profile >= 100;
            QByteArray params = QByteArray("cabac=") + (sequence->cabac ? "1" : "0") +
                                ":8x8dct=" + (high ? "1" : "0") + ":ref=" +
                                QByteArray::number(std::max(1, sequence->referenceFrames));
            settings.options.emplace_back("x264-params", params);
            if (sequence->profile == 66 || sequence->profile == 77 || sequence->profile == 100)
                settings.options.emplace_back("profile",
                                              sequence->profile == 66
                                                  ? "baseline"
                                                  : (sequence->profile == 77 ? "main" : "high"));
            if (sequence->level > 0)
                settings.options.emplace_back("level",
                                              QByteArray::number(sequence->level / 10) + "." +
                                                  QByteArray::number(sequence->level % 10));
        }
    }
    return VideoEncoder::open(settings, error);
}

// Codecs whose samples our encoder can put between the source's: start-code streams whose
// headers travel in the key frames, and Video 1, which has none.
bool bridgeable(const char* encoder) {
    if (!encoder)
        return false;
    const QByteArray name(encoder);
    return name == "mpeg4" || name == "libx264" || name == "msvideo1";
}

bool startsWithStartCode(const QByteArray& bytes) {
    return bytes.startsWith(QByteArray("\0\0\1", 3)) || bytes.startsWith(QByteArray("\0\0\0\1", 4));
}

QString describe(const VideoFormat& f) {
    return QStringLiteral("%1 %2x%3, %4 bits")
        .arg(f.uncompressed() ? QStringLiteral("uncompressed") : FourccMap::text(f.compression()))
        .arg(f.width())
        .arg(f.height())
        .arg(f.bitCount());
}

QString rateText(DWORD rate, DWORD scale) {
    const double fps = scale ? double(rate) / double(scale) : 0.0;
    return QStringLiteral("%1 frames per second (%2/%3)")
        .arg(QString::number(fps, 'f', 3))
        .arg(rate)
        .arg(scale);
}

} // namespace

const Compressor& streamCopyCompressor() {
    static const Compressor entry{comptypeSTREAMCOPY,
                                  QStringLiteral("Direct stream copy"),
                                  nullptr,
                                  false,
                                  false,
                                  false,
                                  true,
                                  0,
                                  0};
    return entry;
}

bool isStreamCopy(FOURCC handler) {
    return handler == comptypeSTREAMCOPY;
}

namespace {
thread_local bool copyOffered = false;
} // namespace

StreamCopyOffer::StreamCopyOffer(bool offered) : m_previous(copyOffered) {
    copyOffered = offered;
}

StreamCopyOffer::~StreamCopyOffer() {
    copyOffered = m_previous;
}

bool streamCopyOffered() {
    return copyOffered;
}

StreamCopier::~StreamCopier() = default;

std::unique_ptr<StreamCopier> StreamCopier::open(AviStream* source, QString* error,
                                                 FrameGetterImpl* getter) {
    std::unique_ptr<StreamCopier> c(new StreamCopier);
    c->m_buffer.resize(1);
    c->m_source = source;
    c->m_start = source->start();
    c->m_end = c->m_start + std::max<LONG>(0, source->length());
    std::optional<QByteArray> bytes = readStreamFormat(source, error);
    if (!bytes)
        return nullptr;
    c->m_format = std::move(*bytes);
    const std::optional<VideoFormat> format = VideoFormat::parse(c->m_format, error);
    if (!format)
        return nullptr;
    c->m_fourcc = format->uncompressed() ? comptypeDIB : format->compression();
    AVISTREAMINFO info;
    source->info(info);
    c->m_rate = info.dwRate;
    c->m_scale = info.dwScale;
    c->m_codec =
        format->uncompressed() ? int(AV_CODEC_ID_NONE) : int(FourccMap::codecOf(c->m_fourcc));
    const QByteArray& extra = format->extraData();
    // An avcC record gives the length of the units' length fields.
    if (c->m_codec == AV_CODEC_ID_H264 && extra.size() > 4 && extra[0] == 1)
        c->m_lengthSize = (uint8_t(extra[4]) & 3) + 1;
    c->m_storedKeys.resize(size_t(c->m_end - c->m_start));
    // Where decoding can start is learnt as the copy asks (H.264 reads the key sample), except
    // in a stream of key frames only, where it decides how the stream is copied.
    c->m_keys.assign(c->m_storedKeys.size(), c->m_codec == AV_CODEC_ID_H264 ? -1 : 0);
    for (LONG s = c->m_start; s < c->m_end; ++s) {
        const bool key = source->findSample(s, FIND_PREV | FIND_KEY) == s;
        c->m_storedKeys[size_t(s - c->m_start)] = key;
        if (!key || c->m_codec != AV_CODEC_ID_H264)
            c->m_keys[size_t(s - c->m_start)] = key ? 1 : 0;
        c->m_allKeys = c->m_allKeys && key;
    }
    for (LONG s = c->m_start; c->m_allKeys && s < c->m_end; ++s)
        c->m_allKeys = c->isKey(s);
    if (format->uncompressed() || c->m_allKeys)
        return c;

    if (!extra.isEmpty())
        c->m_sourceHeaders = extra;
    else if (c->m_sourceHeaders.isEmpty() && c->m_start < c->m_end) {
        // Headers repeated in the key frames: those of the first one.
        LONG bytes = 0;
        LONG samples = 0;
        if (source->read(c->m_start, 1, nullptr, 0, &bytes, &samples) == AVIERR_OK && bytes > 0) {
            c->m_sourceHeaders.resize(bytes);
            if (source->read(c->m_start, 1, c->m_sourceHeaders.data(), bytes, &bytes, &samples) !=
                AVIERR_OK)
                c->m_sourceHeaders.clear();
        }
    }
    c->m_inBandHeaders = !extra.isEmpty() && startsWithStartCode(extra);
    const Compressor* compressor = findCompressor(c->m_fourcc);
    const char* encoder = compressor ? compressor->encoder : nullptr;
    // Extra data that is not in-band headers (a configuration record) would have to describe our
    // samples too.
    if (bridgeable(encoder) && (extra.isEmpty() || c->m_inBandHeaders))
        c->m_encoder = encoder;
    // One decoding thread: the copy decodes short runs from key frames, which frame threads
    // would spend filling their pipeline.
    if (getter) {
        c->m_getter = getter;
        return c;
    }
    c->m_ownGetter.reset(FrameGetterImpl::create(source, nullptr, error, 1));
    c->m_getter = c->m_ownGetter.get();
    if (!c->m_getter)
        return nullptr;
    return c;
}

bool StreamCopier::isKey(LONG sample) const {
    if (sample < m_start || sample >= m_end)
        return false;
    int8_t& known = m_keys[size_t(sample - m_start)];
    if (known < 0) {
        // An H.264 key frame that is not an IDR picture (a recovery point of an open group) can
        // have later pictures that refer to pictures before it: no copy starts there.
        LONG bytes = 0;
        LONG samples = 0;
        known = 0;
        if (m_source->read(sample, 1, nullptr, 0, &bytes, &samples) == AVIERR_OK && bytes > 0) {
            m_probe.resize(size_t(bytes));
            known =
                m_source->read(sample, 1, m_probe.data(), bytes, &bytes, &samples) == AVIERR_OK &&
                        h264HasIdr(m_probe.data(), size_t(bytes), m_lengthSize)
                    ? 1
                    : 0;
        }
    }
    return known > 0;
}

LONG StreamCopier::keyAtOrBefore(LONG sample) const {
    for (sample = std::min(sample, m_end - 1); sample >= m_start; --sample)
        if (isKey(sample))
            return sample;
    return -1;
}

bool StreamCopier::checkBridge(const AVFrame& picture) {
    if (m_bridgeChecked || !m_encoder)
        return m_encoder != nullptr;
    m_bridgeChecked = true;
    auto fallBack = [this](const QString& why) {
        m_bridgeNote = why;
        m_encoder = nullptr;
        return false;
    };
    const QByteArray name(m_encoder);
    const auto* headers = reinterpret_cast<const uint8_t*>(m_sourceHeaders.constData());
    std::optional<Mpeg4Layer> layer;
    std::optional<H264Sequence> sequence;
    if (name == "mpeg4") {
        layer = m_layer = mpeg4Layer(m_sourceHeaders);
        if (!layer)
            return fallBack(QStringLiteral("its MPEG-4 video object layer cannot be read"));
    } else if (name == "libx264") {
        sequence = m_sequence =
            h264Sequence(headers, size_t(m_sourceHeaders.size()),
                         startsWithStartCode(m_sourceHeaders) ? 0 : m_lengthSize);
        if (!sequence)
            return fallBack(QStringLiteral("its H.264 sequence parameters cannot be read"));
    }
    AVISTREAMINFO info;
    m_source->info(info);
    QString why;
    std::unique_ptr<VideoEncoder> encoder = openBridge(
        m_encoder, picture, info, m_getter && m_getter->reorders(), layer, sequence, &why);
    VideoEncoder::Sample sample;
    if (!encoder || !encoder->encodeAsIs(&picture, 0, true) || !encoder->finish() ||
        !encoder->take(sample))
        return fallBack(QStringLiteral("the re-encoder of its codec did not open (%1)")
                            .arg(why.isEmpty() ? QStringLiteral("it fails") : why));
    if (layer) {
        const std::optional<Mpeg4Layer> ours = mpeg4Layer(sample.data);
        const QString differences =
            ours ? mpeg4Differences(*layer, *ours) : QStringLiteral("its video object layer");
        if (!differences.isEmpty())
            return fallBack(QStringLiteral("the re-encoder cannot code like its MPEG-4 video (%1)")
                                .arg(differences));
    }
    if (sequence) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(sample.data.constData());
        const std::optional<H264Sequence> ours = h264Sequence(bytes, size_t(sample.data.size()), 0);
        QStringList differences;
        if (!ours)
            differences << QStringLiteral("its sequence parameters");
        else {
            if (ours->chromaFormat != sequence->chromaFormat)
                differences << QStringLiteral("chroma format %1").arg(sequence->chromaFormat);
            if (ours->bitDepth != sequence->bitDepth)
                differences << QStringLiteral("%1 bits").arg(sequence->bitDepth);
            if (ours->frameMbsOnly != sequence->frameMbsOnly)
                differences << QStringLiteral("interlaced coding");
            // x264 takes the profile as a ceiling and writes the lowest one its tools need: a
            // bridge in a lower profile of the same line (Baseline, Main, High) decodes with the
            // source's decoder.
            if (ours->profile > sequence->profile)
                differences << QStringLiteral("profile %1").arg(sequence->profile);
            if (ours->level > sequence->level)
                differences << QStringLiteral("level %1").arg(sequence->level / 10.0);
            if (ours->cabac != sequence->cabac)
                differences << QStringLiteral("its entropy coder");
            if (ours->referenceFrames > std::max(1, sequence->referenceFrames))
                differences << QStringLiteral("%1 reference frames").arg(sequence->referenceFrames);
        }
        if (!differences.isEmpty())
            return fallBack(QStringLiteral("the re-encoder cannot code like its H.264 video (%1)")
                                .arg(differences.join(QStringLiteral(", "))));
    }
    return true;
}

LONG StreamCopier::sampleOf(LONG frame) {
    if (frame < m_start || frame >= m_end)
        return -1;
    if (!m_getter || !m_getter->reorders())
        return frame;
    const auto known = m_sampleOfFrame.find(frame);
    if (known != m_sampleOfFrame.end())
        return known->second;
    const AVFrame* picture = m_getter->picture(frame);
    if (!picture)
        return -1;
    const LONG sample = LONG(picture->pts);
    if (frame >= m_keepFrom && frame <= m_keepTo) {
        FramePtr copy = makeFrame();
        if (av_frame_ref(copy.get(), picture) >= 0)
            m_kept[frame] = std::shared_ptr<const AVFrame>(copy.release(), [](const AVFrame* f) {
                AVFrame* owned = const_cast<AVFrame*>(f);
                av_frame_free(&owned);
            });
    }
    m_sampleOfFrame[frame] = sample;
    m_frameOfSample.emplace(sample, frame);
    return sample;
}

LONG StreamCopier::keyFrameAtOrBefore(LONG frame) {
    frame = std::clamp(frame, m_start, std::max(m_start, m_end - 1));
    if (m_allKeys || !m_getter)
        return frame;
    if (!m_getter->picture(frame))
        return -1;
    if (!m_getter->reorders())
        return keyAtOrBefore(frame);
    // The key sample stored at or before the frame may be shown after it (pictures stored after
    // a key frame but shown before it): then the key frame before that one.
    for (LONG key = keyAtOrBefore(frame); key >= m_start;
         key = key > m_start ? keyAtOrBefore(key - 1) : -1) {
        for (LONG n = key; n < std::min(m_end, key + kSpan + 1); ++n)
            if (sampleOf(n) == key) {
                if (n <= frame)
                    return n;
                break;
            }
    }
    return -1;
}

QString StreamCopier::differenceFrom(const StreamCopier& other) const {
    QString error;
    const auto mine = VideoFormat::parse(m_format, &error);
    const auto theirs = VideoFormat::parse(other.m_format, &error);
    if (!mine || !theirs)
        return QStringLiteral("its video format cannot be read");
    const bool sameCodec =
        mine->uncompressed()
            ? theirs->uncompressed() && mine->bitfields() == theirs->bitfields()
            : !theirs->uncompressed() && FourccMap::sameCompressor(m_fourcc, other.m_fourcc);
    if (!sameCodec || mine->width() != theirs->width() || mine->height() != theirs->height() ||
        mine->bitCount() != theirs->bitCount() || mine->topDown() != theirs->topDown())
        return QStringLiteral("its video is %1, the first film's is %2")
            .arg(describe(*theirs), describe(*mine));
    if (mine->extraData() != theirs->extraData() ||
        (mine->uncompressed() && (mine->colours().size() != theirs->colours().size() ||
                                  // memcmp must not see the null data of two empty tables
                                  (!mine->colours().empty() &&
                                   std::memcmp(mine->colours().data(), theirs->colours().data(),
                                               mine->colours().size() * sizeof(RGBQUAD)) != 0))))
        return QStringLiteral("its %1 video has other codec headers than the first film's")
            .arg(describe(*theirs));
    // Samples keep their positions, not their times: a film of another rate would play at the
    // first film's.
    if (uint64_t(m_rate) * other.m_scale != uint64_t(other.m_rate) * m_scale)
        return QStringLiteral("its frame rate is %1, the first film's is %2")
            .arg(rateText(other.m_rate, other.m_scale), rateText(m_rate, m_scale));
    return {};
}

bool StreamCopier::copySample(AviStream* target, LONG sample, LONG at, bool prependHeaders) {
    LONG bytes = 0;
    LONG samples = 0;
    if (m_source->read(sample, 1, nullptr, 0, &bytes, &samples) != AVIERR_OK || bytes < 0)
        return false;
    if (bytes == 0) // an empty sample (a dropped frame) stays an empty sample
        return target->write(at, 1, m_buffer.data(), 0, 0, nullptr, nullptr) == AVIERR_OK;
    qsizetype offset = 0;
    QString error;
    QByteArray extra;
    if (prependHeaders) {
        const auto format = VideoFormat::parse(m_format, &error);
        if (format)
            extra = format->extraData();
    }
    m_buffer.resize(size_t(extra.size() + bytes));
    if (m_source->read(sample, 1, m_buffer.data() + extra.size(), bytes, &bytes, &samples) !=
        AVIERR_OK)
        return false;
    // The source's own headers go before its first key frame after our samples, unless the
    // sample carries them already.
    if (!extra.isEmpty() &&
        std::memcmp(m_buffer.data() + extra.size(), extra.constData(),
                    std::min<size_t>(size_t(bytes), size_t(extra.size()))) != 0) {
        std::memcpy(m_buffer.data(), extra.constData(), size_t(extra.size()));
    } else {
        offset = extra.size();
    }
    const DWORD flags =
        sample >= m_start && sample < m_end && m_storedKeys[size_t(sample - m_start)]
            ? AVIIF_KEYFRAME
            : 0;
    return target->write(at, 1, m_buffer.data() + offset, LONG(extra.size() + bytes - offset),
                         flags, nullptr, nullptr) == AVIERR_OK;
}

StreamCopier::Result StreamCopier::append(AviStream* target, LONG at, LONG first, LONG last,
                                          const Progress& progress, QString* error) {
    Result r;
    r.next = at;
    first = std::max(first, m_start);
    last = std::min(last, m_end - 1);
    r.first = first;
    r.last = last;
    auto fail = [&](const QString& text) {
        if (error && error->isEmpty())
            *error = text;
        r.ok = false;
        return r;
    };
    if (first > last) {
        r.ok = true;
        return r;
    }
    LONG position = at;
    auto tell = [&](LONG frame) {
        return !progress || progress(frame);
    };

    // Key frames only: sample n is frame n, and any of them starts a copy.
    if (m_allKeys || !m_getter) {
        for (LONG s = first; s <= last; ++s) {
            if (!copySample(target, s, position++, false))
                return fail(QStringLiteral("Sample %1 cannot be copied.").arg(s));
            ++r.samples;
            if (!tell(s))
                return fail({});
        }
        r.ok = true;
        r.next = position;
        return r;
    }

    AVISTREAMINFO info;
    m_source->info(info);
    std::unique_ptr<VideoEncoder> head;
    // The re-encoded samples go in coding order, one position each.
    auto flush = [&](VideoEncoder& encoder) {
        if (!encoder.finish())
            return false;
        VideoEncoder::Sample sample;
        while (encoder.take(sample)) {
            if (target->write(position++, 1, sample.data.constData(), LONG(sample.data.size()),
                              sample.key ? AVIIF_KEYFRAME : 0, nullptr, nullptr) != AVIERR_OK)
                return false;
            ++r.samples;
        }
        return true;
    };
    LONG encoded = 0; // pictures given to the encoder open now
    auto encodeFrame = [&](std::unique_ptr<VideoEncoder>& encoder, LONG frame) {
        const auto kept = m_kept.find(frame);
        const AVFrame* picture =
            kept != m_kept.end() ? kept->second.get() : m_getter->picture(frame);
        if (!picture)
            return false;
        if (!encoder) {
            QString why;
            encoder = openBridge(m_encoder, *picture, info, m_getter->reorders(), m_layer,
                                 m_sequence, &why);
            if (!encoder) {
                if (error)
                    *error = why;
                return false;
            }
            encoded = 0;
        }
        ++r.reencoded;
        const bool first = encoded == 0;
        return encoder->encodeAsIs(picture, encoded++, first);
    };

    // Make sure the getter has decoded something: it learns then whether the codec reorders.
    if (!m_getter->picture(first))
        return fail(QStringLiteral("Frame %1 does not decode.").arg(first));
    // A bridge that cannot code like the source is found before anything is written: the copy
    // then cuts at key frames.
    if (m_encoder && !m_bridgeChecked && (first > m_start || last < m_end - 1)) {
        if (const AVFrame* picture = m_getter->picture(first))
            checkBridge(*picture);
    }
    const bool reorders = m_getter->reorders();
    const LONG span = spanFor(m_getter->reorderDelay());

    // The head: the first key frame shown at or after `first` (K1, shown at frame dK1); the
    // frames before it are re-encoded. Without an encoder, the copy starts at the key frame
    // before instead.
    LONG k1 = -1;
    LONG dK1 = -1;
    if (!m_encoder) {
        dK1 = keyFrameAtOrBefore(first);
        if (dK1 < 0)
            dK1 = m_start;
        k1 = sampleOf(dK1);
        first = dK1;
        r.first = dK1;
        if (reorders)
            for (LONG n = std::max(m_start, dK1 - span); n < dK1; ++n)
                sampleOf(n);
    } else {
        for (LONG n = first; n < m_end; ++n) {
            const LONG s = sampleOf(n);
            if (s < 0)
                return fail(QStringLiteral("Frame %1 does not decode.").arg(n));
            if (n >= first && isKey(s)) {
                k1 = s;
                dK1 = n;
                break;
            }
            if (n > last)
                break;
            if (n >= first) {
                if (!encodeFrame(head, n))
                    return fail(QStringLiteral("Frame %1 cannot be re-encoded.").arg(n));
                if (!tell(n))
                    return fail({});
            }
        }
    }
    if (k1 < 0 || dK1 > last) {
        // No key frame inside the range: every frame of it is re-encoded.
        if (head && !flush(*head))
            return fail(QStringLiteral("The re-encoded frames cannot be written."));
        r.ok = true;
        r.next = position;
        return r;
    }
    // Samples stored after K1 but shown before it need the group before: they are not copied.
    // Those shown before the range are learnt now.
    if (reorders)
        for (LONG n = std::max(m_start, dK1 - span); n < first; ++n)
            sampleOf(n);
    std::set<LONG> leading;
    for (const auto& [sample, frame] : m_frameOfSample)
        if (sample > k1 && frame < dK1)
            leading.insert(sample);

    // The tail: the longest run of stored samples from K1 whose frames are exactly dK1..E, with
    // E at most `last` (or, without an encoder, the shortest one reaching `last`).
    LONG lastSample = -1;
    LONG lastFrame = -1;
    if (last == m_end - 1) {
        lastSample = m_end - 1;
        lastFrame = last;
    } else if (!reorders) {
        lastSample = last;
        lastFrame = last;
    } else {
        // Frames around the end are learnt; samples stored from the first of them on are judged
        // by their frames (those whose frames lie beyond the learnt ones count as shown late).
        const LONG w0 = std::max(dK1, last - span);
        const LONG w1 = std::min(m_end - 1, last + span);
        // The pictures that may have to be re-encoded are kept as they go by.
        m_keepFrom = std::max(dK1, last - 2 * span);
        m_keepTo = last;
        for (LONG n = std::max(dK1, last - 2 * span); n <= w1; ++n)
            sampleOf(n);
        m_keepTo = -1;
        LONG lo = m_end;
        LONG hi = -1;
        for (LONG n = w0; n <= w1; ++n) {
            const auto s = m_sampleOfFrame.find(n);
            if (s != m_sampleOfFrame.end()) {
                lo = std::min(lo, s->second);
                hi = std::max(hi, s->second);
            }
        }
        LONG maxFrame = dK1;
        LONG count = 0;
        for (LONG s = k1; s <= hi; ++s) {
            if (leading.count(s))
                continue;
            ++count;
            const auto f = m_frameOfSample.find(s);
            if (f != m_frameOfSample.end())
                maxFrame = std::max(maxFrame, f->second);
            else if (s >= lo)
                maxFrame = std::max(maxFrame, w1 + 1); // shown outside the window: past it
            if (s < lo)
                continue;
            const bool closed = maxFrame - dK1 + 1 == count;
            if (!closed)
                continue;
            if (m_encoder ? maxFrame <= last : maxFrame >= last) {
                lastSample = s;
                lastFrame = maxFrame;
                if (!m_encoder)
                    break;
            } else if (m_encoder) {
                break;
            }
        }
        if (!m_encoder && lastSample < 0)
            return fail(QStringLiteral("The copy cannot end at frame %1.").arg(last));
    }
    if (lastSample < 0) {
        // The stored samples cannot end inside the range: re-encode the rest of it too.
        for (LONG n = dK1; n <= last; ++n)
            if (!encodeFrame(head, n) || !tell(n))
                return fail(QStringLiteral("Frame %1 cannot be re-encoded.").arg(n));
        if (head && !flush(*head))
            return fail(QStringLiteral("The re-encoded frames cannot be written."));
        r.ok = true;
        r.next = position;
        return r;
    }
    if (!m_encoder)
        r.last = lastFrame;

    // The re-encoded head, the stored samples, the re-encoded tail.
    const bool bridged = head != nullptr;
    if (head && !flush(*head))
        return fail(QStringLiteral("The re-encoded frames cannot be written."));
    LONG frame = dK1;
    for (LONG s = k1; s <= lastSample; ++s) {
        if (leading.count(s))
            continue;
        if (!copySample(target, s, position++, bridged && m_inBandHeaders && s == k1))
            return fail(QStringLiteral("Sample %1 cannot be copied.").arg(s));
        ++r.samples;
        if (!tell(frame++))
            return fail({});
    }
    if (lastFrame < last && m_encoder) {
        std::unique_ptr<VideoEncoder> tail;
        for (LONG n = lastFrame + 1; n <= last; ++n)
            if (!encodeFrame(tail, n) || !tell(n))
                return fail(QStringLiteral("Frame %1 cannot be re-encoded.").arg(n));
        if (tail && !flush(*tail))
            return fail(QStringLiteral("The re-encoded frames cannot be written."));
    }
    m_kept.clear();
    r.ok = true;
    r.next = position;
    return r;
}

} // namespace qdx::vfw
