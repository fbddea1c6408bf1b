#include "platform/vfw/FrameGetterImpl.h"

#include "platform/codec/CodecThreads.h"
#include "platform/vfw/StreamFormat.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace qdx::vfw {

namespace {

// A sample larger than this is not a video frame (the largest frame of 2^26 pixels at 32 bits
// is 256 MiB uncompressed).
constexpr LONG kMaxSampleBytes = LONG(1) << 28;
// Samples fed at opening without a picture before the getter stops looking for the first one.
constexpr int kPrimeLimit = 64;
// Pictures from this size on are converted on a second thread while the next one decodes.
constexpr int64_t kPipelinePixels = 300000;
// Key frames tried for one picture before giving up (flags on samples that do not start a
// decodable run cost one attempt each).
constexpr int kRestartLimit = 64;

bool sameLayout(const BITMAPINFOHEADER& wanted, const VideoFormat& stored) {
    const int wantedHeight = wanted.biHeight < 0 ? -wanted.biHeight : wanted.biHeight;
    return wanted.biBitCount == stored.bitCount() &&
           (wanted.biCompression == stored.compression() ||
            (stored.bitfields() && wanted.biCompression == BI_BITFIELDS)) &&
           (wanted.biWidth == 0 || wanted.biWidth == stored.width()) &&
           (wanted.biHeight == 0 ||
            (wantedHeight == stored.height() && (wanted.biHeight < 0) == stored.topDown()));
}

} // namespace

FrameGetter* createFrameGetter(AviStream* stream, const BITMAPINFOHEADER* wanted) {
    return FrameGetterImpl::create(stream, wanted);
}

FrameGetterImpl::FrameGetterImpl(AviStream* stream, VideoFormat format)
    : m_stream(stream), m_format(std::move(format)) {
    m_stream->addRef();
}

// Two getters of their own on the film decode and convert frames from `first` on, each every other
// frame, at most kDepth ahead of the frame the owner takes. Both threads belong to it: the
// destructor stops and joins them.
struct FrameGetterImpl::ReadAhead {
    static constexpr LONG kDepth = 4;

    struct Result {
        DibBytes dib; // empty: the frame could not be had
    };

    std::unique_ptr<FrameGetterImpl> getters[2];
    std::mutex mutex;
    std::condition_variable changed;
    std::map<LONG, Result> ready;
    std::vector<DibBytes> spare;
    const LONG first; // worker k decodes first + k, first + k + 2, ...
    LONG next;        // the frame the owner takes next
    const LONG end;
    bool stop = false;
    std::atomic<int64_t> decoded{0}; // samples the two decoders fed, their first ones included
    std::jthread threads[2];

    ReadAhead(std::unique_ptr<FrameGetterImpl> a, std::unique_ptr<FrameGetterImpl> b, LONG from,
              LONG last)
        : first(from), next(from), end(last) {
        getters[0] = std::move(a);
        getters[1] = std::move(b);
        for (int k = 0; k < 2; ++k)
            threads[k] = std::jthread([this, k] { run(k); });
    }
    ~ReadAhead() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (std::jthread& t : threads)
            if (t.joinable())
                t.join();
    }

    void run(int k) {
        FrameGetterImpl& getter = *getters[k];
        int64_t counted = 0;
        auto count = [&] {
            decoded += getter.m_counters.samplesDecoded - counted;
            counted = getter.m_counters.samplesDecoded;
        };
        count();
        for (LONG p = first + k; p < end; p += 2) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || p < next + kDepth; });
                if (stop)
                    return;
            }
            Result result;
            try {
                if (getter.frame(p)) {
                    {
                        std::lock_guard lock(mutex);
                        if (!spare.empty()) {
                            result.dib = std::move(spare.back());
                            spare.pop_back();
                        }
                    }
                    // The getter's DIB itself changes hands; it converts the next one into the
                    // spare buffer.
                    std::swap(result.dib, getter.m_dib);
                    getter.m_delivered = -1;
                }
            } catch (...) {
                result.dib.clear(); // reported as a frame that could not be had
            }
            count();
            {
                std::lock_guard lock(mutex);
                ready[p] = std::move(result);
            }
            changed.notify_all();
        }
    }

    // Waits for the frame at the position (the next one) and moves it into `into`.
    bool take(LONG position, DibBytes& into) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return ready.count(position) > 0; });
        Result result = std::move(ready[position]);
        ready.erase(position);
        next = position + 1;
        const bool got = !result.dib.empty();
        if (got) {
            std::swap(into, result.dib);
            if (!result.dib.empty())
                spare.push_back(std::move(result.dib));
        }
        lock.unlock();
        changed.notify_all();
        return got;
    }
};

void* FrameGetterImpl::readAheadFrame(LONG position, bool stepping) {
    if (m_readAhead && (!stepping || position >= m_readAhead->end)) {
        // A jump: the frames read ahead are of no use.
        m_counters.samplesDecoded += m_readAhead->decoded.load();
        m_readAhead.reset();
        return nullptr;
    }
    if (!m_readAhead) {
        // Started when stepping through an all-intra film of large pictures with decoders
        // allowed more than one thread (again after a jump, at the next step).
        if (m_readAheadTried || !stepping || !m_pipeline || decoderThreads() == 1 || !intraOnly() ||
            position + 2 >= m_end)
            return nullptr;
        std::unique_ptr<FrameGetterImpl> a(create(m_stream, &m_out, nullptr, 1));
        std::unique_ptr<FrameGetterImpl> b(create(m_stream, &m_out, nullptr, 1));
        if (!a || !b) {
            m_readAheadTried = true; // not again for this film
            return nullptr;
        }
        m_readAhead = std::make_unique<ReadAhead>(std::move(a), std::move(b), position, m_end);
    }
    if (!m_readAhead->take(position, m_dib))
        return nullptr;
    m_delivered = position;
    return m_dib.data();
}

FrameGetterImpl::~FrameGetterImpl() {
    m_readAhead.reset();
    m_decoder.reset();
    m_stream->release();
}

FrameGetterImpl* FrameGetterImpl::create(AviStream* stream, const BITMAPINFOHEADER* wanted,
                                         QString* error, int threads) {
    // `text` nullptr: the reason is in `error` already.
    auto fail = [&](const char* text) -> FrameGetterImpl* {
        if (error && text)
            *error = QString::fromUtf8(text);
        return nullptr;
    };
    AVISTREAMINFO info;
    if (stream->info(info) != AVIERR_OK || info.fccType != streamtypeVIDEO)
        return fail("The stream is not a video stream.");
    std::optional<VideoFormat> format = videoFormatOf(stream, error);
    if (!format)
        return fail(nullptr);
    std::unique_ptr<FrameGetterImpl> g(new FrameGetterImpl(stream, *format));
    g->m_handler = info.fccHandler;
    g->m_start = stream->start();

    BITMAPINFOHEADER target;
    if (wanted) {
        target = *wanted;
        if (target.biWidth <= 0)
            target.biWidth = format->width();
        if (target.biHeight == 0)
            target.biHeight = format->height();
        const int64_t h = target.biHeight < 0 ? -int64_t(target.biHeight) : target.biHeight;
        if (target.biWidth > VideoFormat::kMaxSide || h > VideoFormat::kMaxSide ||
            int64_t(target.biWidth) * h > VideoFormat::kMaxPixels)
            return fail("The frame size asked for is too large.");
        if (!FrameConverter::supports(target))
            return fail("The frame layout asked for is not available.");
    } else {
        target.biWidth = format->width();
        target.biHeight = format->height();
        target.biBitCount = 24;
    }

    if (format->uncompressed()) {
        if (!wanted || sameLayout(*wanted, *format)) {
            g->m_storedLayout = true;
            std::memcpy(&g->m_out, format->packedHeader().data(), sizeof g->m_out);
        } else {
            g->m_out = FrameConverter::normalised(target);
        }
        return g.release();
    }

    g->m_out = FrameConverter::normalised(target);
    if (threads < 0)
        threads = pipelineCodingThreads(decoderThreads());
    g->m_decoderThreads = threads;
    g->m_decoder = VideoDecoder::open(*format, info.fccHandler, threads, error);
    if (!g->m_decoder)
        return fail(nullptr);
    g->m_converter = std::make_unique<FrameConverter>(g->m_out);
    g->m_current = makeFrame();
    g->m_converting = makeFrame();
    // Large pictures are worth converting on a second core while the next one decodes.
    if (int64_t(format->width()) * format->height() >= kPipelinePixels &&
        std::thread::hardware_concurrency() > 1)
        g->m_pipeline = std::make_unique<JobThread>();

    // Decode up to the first picture: it tells whether the codec reorders and how many samples
    // the decoder holds before giving one out, and leaves the decoder ready for frame 0.
    g->m_end = g->m_start + std::max<LONG>(0, stream->length());
    g->startRun(g->m_start);
    g->m_target = g->m_start;
    for (int i = 0; i < kPrimeLimit && !g->m_sawOutput && !g->m_drained; ++i)
        g->feed();
    return g.release();
}

const AVFrame* FrameGetterImpl::picture(LONG position) {
    m_end = m_start + std::max<LONG>(0, m_stream->length());
    if (!m_decoder || position < m_start || position >= m_end)
        return nullptr;
    m_delivered = -1;
    m_lastAsked = position;
    return pictureFor(position) ? m_current.get() : nullptr;
}

void* FrameGetterImpl::frame(LONG position) {
    m_end = m_start + std::max<LONG>(0, m_stream->length());
    if (position < m_start || position >= m_end)
        return nullptr;
    if (position == m_delivered)
        return m_dib.data();
    m_delivered = -1;
    const bool stepping = position == m_lastAsked + 1;
    m_lastAsked = position;
    if (m_format.uncompressed())
        return uncompressedFrame(position);
    if (m_readAhead || (stepping && !m_readAheadTried))
        if (void* dib = readAheadFrame(position, stepping))
            return dib;
    if (!pictureFor(position))
        return nullptr;
    bool converted;
    // With a one-thread decoder, a picture our AVX-512 loop converts is converted here: the
    // hand-over to the job thread and the picture read from the other core's cache cost more.
    const bool here = m_decoderThreads == 1 && m_converter->convertsQuickly(m_current.get());
    if (stepping && m_pipeline && position + 1 < m_end && !here) {
        // Stepping forward: the picture is converted on the job thread while this thread decodes
        // the next one, so the caller waits for the longer of the two instead of both.
        av_frame_unref(m_converting.get());
        if (av_frame_ref(m_converting.get(), m_current.get()) < 0)
            return nullptr;
        m_pipeline->start(
            [this, &converted] { converted = m_converter->convert(m_converting.get(), m_dib); });
        try {
            prefetch(position + 1);
        } catch (...) {
            m_pipeline->wait();
            throw;
        }
        m_pipeline->wait();
        av_frame_unref(m_converting.get());
    } else {
        converted = m_converter->convert(m_current.get(), m_dib);
    }
    if (!converted)
        return nullptr;
    m_delivered = position;
    return m_dib.data();
}

FrameGetterImpl::Counters FrameGetterImpl::counters() const {
    Counters c = m_counters;
    if (m_readAhead)
        c.samplesDecoded += m_readAhead->decoded.load();
    return c;
}

bool FrameGetterImpl::intraOnly() const {
    if (!m_decoder || (m_modeKnown && m_reorders))
        return false;
    const AVCodecDescriptor* codec = avcodec_descriptor_get(m_decoder->codec());
    return codec && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
}

std::unique_ptr<FrameGetterImpl> FrameGetterImpl::twin() const {
    return std::unique_ptr<FrameGetterImpl>(create(m_stream, &m_out));
}

void FrameGetterImpl::prefetch(LONG position) {
    while (m_runActive && !m_drained && (m_ahead.empty() || m_ahead.back().first < position)) {
        if (!feed())
            return;
    }
}

bool FrameGetterImpl::readSample(LONG position, std::vector<uint8_t>& into) {
    LONG bytes = 0;
    LONG samples = 0;
    into.clear();
    if (m_stream->read(position, 1, nullptr, 0, &bytes, &samples) != AVIERR_OK)
        return false;
    if (bytes < 0 || bytes > kMaxSampleBytes)
        return false;
    if (bytes == 0)
        return true;
    into.resize(size_t(bytes));
    LONG got = 0;
    if (m_stream->read(position, 1, into.data(), bytes, &got, &samples) != AVIERR_OK)
        return false;
    into.resize(size_t(std::clamp<LONG>(got, 0, bytes)));
    return true;
}

void* FrameGetterImpl::uncompressedFrame(LONG position) {
    // An empty sample is a dropped frame: the picture before it shows in its place.
    LONG p = position;
    for (;;) {
        if (!readSample(p, m_sample))
            return nullptr;
        if (!m_sample.empty())
            break;
        if (p <= m_start)
            return nullptr;
        --p;
    }
    // A sample shorter than a frame is not a frame (the file reader hands out whole chunks only,
    // so this is a damaged or hostile film; a few bytes must not become a frame of megabytes).
    const int64_t imageSize = m_format.imageSize();
    if (int64_t(m_sample.size()) < imageSize)
        return nullptr;
    if (m_storedLayout) {
        const std::vector<uint8_t> header = m_format.packedHeader();
        m_dib.resize(header.size() + size_t(imageSize));
        std::memcpy(m_dib.data(), header.data(), header.size());
        std::memcpy(m_dib.data() + header.size(), m_sample.data(), size_t(imageSize));
    } else {
        QString error;
        const TBitmap picture = qdx::decodeDib(m_format.header(), m_format.colours(),
                                               m_format.masks(), m_sample, &error);
        if (picture.Empty() || !FrameConverter::writeImage(picture.Image(), m_out, m_dib))
            return nullptr;
    }
    m_delivered = position;
    return m_dib.data();
}

// ---- compressed films ----------------------------------------------------------------------

LONG FrameGetterImpl::keyBefore(LONG position) {
    if (position <= m_start)
        return m_start;
    LONG key = m_stream->findSample(position, FIND_PREV | FIND_KEY);
    while (key > m_start && m_badKeys.count(key))
        key = m_stream->findSample(key - 1, FIND_PREV | FIND_KEY);
    return key < m_start ? m_start : key;
}

LONG FrameGetterImpl::keyForPicture(LONG position) {
    LONG key = keyBefore(position);
    if (!m_reorders)
        return key;
    // A picture shown before its group's key frame needs the group before.
    while (key > m_start) {
        const auto known = m_keyNumbers.find(key);
        if (known == m_keyNumbers.end() || known->second <= position)
            break;
        key = keyBefore(key - 1);
    }
    return key;
}

bool FrameGetterImpl::isKeySample(LONG position) {
    return m_stream->findSample(position, FIND_PREV | FIND_KEY) == position;
}

void FrameGetterImpl::startRun(LONG key) {
    m_decoder->reset();
    m_ahead.clear();
    av_frame_unref(m_current.get());
    m_currentNumber = -1;
    m_runActive = true;
    m_runKey = key;
    m_next = key;
    m_sentInRun = 0;
    m_swallowed = 0;
    m_sawOutput = false;
    m_base = key;
    m_ordinal = 0;
    m_drained = false;
    m_lastTag = -1;
    m_problem = Problem::None;
    ++m_counters.restarts;
}

bool FrameGetterImpl::feed() {
    for (;;) {
        if (m_next >= m_end) {
            if (!m_drained) {
                m_drained = true;
                m_swallowed = m_sentInRun;
                m_decoder->drain();
            }
            return acceptOutputs();
        }
        const LONG position = m_next++;
        if (!readSample(position, m_sample) || m_sample.empty())
            continue; // nothing to decode: the picture before shows in its place
        m_swallowed = m_sentInRun;
        m_decoder->send(m_sample, position, position == m_runKey);
        ++m_sentInRun;
        ++m_counters.samplesDecoded;
        return acceptOutputs();
    }
}

bool FrameGetterImpl::acceptOutputs() {
    while (AVFrame* f = m_decoder->take()) {
        int64_t tag = f->pts;
        if (tag == AV_NOPTS_VALUE)
            tag = f->best_effort_timestamp;
        if (tag == AV_NOPTS_VALUE)
            tag = m_lastTag + 1;
        if (!m_sawOutput) {
            m_sawOutput = true;
            if (m_runKey == m_start) {
                if (m_startDelay < 0) {
                    m_startDelay = m_swallowed;
                    m_startReorder = m_decoder->reorderDelay();
                }
                if (!m_modeKnown) {
                    m_modeKnown = true;
                    m_reorders = m_decoder->reorderDelay() > 0;
                }
                m_base = m_start;
            } else {
                // A run from a key frame must begin with a picture that needs no other; a sample
                // flagged key that is not (a placeholder, a mislabelled frame) is passed over.
                if (!f->key_frame && f->pict_type != AV_PICTURE_TYPE_I) {
                    m_badKeys.insert(m_runKey);
                    m_problem = Problem::BadKey;
                    m_runActive = false;
                    return false;
                }
                if (m_reorders) {
                    const auto known = m_keyNumbers.find(m_runKey);
                    if (known != m_keyNumbers.end()) {
                        m_base = known->second;
                    } else {
                        // Samples swallowed beyond the decoder's own delay held pictures shown
                        // before the key frame, which it cannot decode from here.
                        int skipped;
                        if (m_drained) {
                            // Everything came out at the end of the film: the samples that gave
                            // no picture are the ones it skipped.
                            skipped = m_sentInRun - 1 - m_decoder->pending();
                        } else {
                            const int expected =
                                std::max(m_startDelay, 0) +
                                std::max(0, m_decoder->reorderDelay() - m_startReorder);
                            skipped = m_swallowed - expected;
                        }
                        m_base = m_runKey + std::max(0, skipped);
                        m_keyNumbers[m_runKey] = m_base;
                    }
                    if (m_base > m_target) {
                        m_problem = Problem::TooLate;
                        m_runActive = false;
                        return false;
                    }
                }
            }
        }
        LONG number;
        if (m_reorders) {
            number = m_base + m_ordinal;
            if (tag != m_runKey && isKeySample(LONG(tag)))
                m_keyNumbers[LONG(tag)] = number;
        } else {
            if (tag <= m_lastTag && m_modeKnown) {
                // Pictures came out of order after all: number them by count from now on.
                m_reorders = true;
                m_problem = Problem::ModeChanged;
                m_runActive = false;
                return false;
            }
            number = LONG(tag);
        }
        ++m_ordinal;
        m_lastTag = tag;
        FramePtr picture = makeFrame();
        av_frame_move_ref(picture.get(), f);
        m_ahead.emplace_back(number, std::move(picture));
    }
    return true;
}

bool FrameGetterImpl::advanceTo(LONG position) {
    for (;;) {
        while (!m_ahead.empty() && m_ahead.front().first <= position) {
            av_frame_unref(m_current.get());
            av_frame_move_ref(m_current.get(), m_ahead.front().second.get());
            m_currentNumber = m_ahead.front().first;
            m_ahead.pop_front();
        }
        if (m_currentNumber == position)
            return true;
        // The next picture comes later, or none will: the latest one shows at this position.
        if (!m_ahead.empty() || m_drained)
            return m_currentNumber >= 0;
        if (!feed())
            return false;
    }
}

bool FrameGetterImpl::pictureFor(LONG position) {
    m_target = position;
    if (m_runActive && m_currentNumber <= position) {
        // Going on costs less than starting again unless a key frame lies ahead of the samples
        // already fed.
        const LONG key = keyForPicture(position);
        if (key <= m_next) {
            if (advanceTo(position))
                return true;
            if (m_problem == Problem::None)
                return false;
        }
    }
    return restartFor(position);
}

bool FrameGetterImpl::restartFor(LONG position) {
    LONG key = keyForPicture(position);
    for (int attempt = 0; attempt < kRestartLimit; ++attempt) {
        startRun(key);
        m_target = position;
        if (advanceTo(position))
            return true;
        switch (m_problem) {
        case Problem::None:
            return false;
        case Problem::BadKey:
        case Problem::TooLate:
            key = keyBefore(key - 1);
            break;
        case Problem::ModeChanged:
            break;
        }
    }
    return false;
}

} // namespace qdx::vfw
