#pragma once

// The frame getter behind AVIStreamGetFrameOpen/GetFrame. Uncompressed films are read directly;
// compressed ones go through FFmpeg, keeping the decoder between calls so that stepping forward
// costs one decode per frame and a jump decodes from the key frame before the wanted picture.
//
// Pictures are numbered in display order. Each sample fed to the decoder is tagged with its
// position; for codecs that do not reorder, a picture's number is its sample's position, and
// positions the decoder gives nothing for (empty samples of dropped frames, broken samples) show
// the picture before them. For codecs that reorder (B-frames, also packed in one sample), pictures
// are counted from the key frame the decoding started at; that key frame's own number is learnt
// from a decode that passed through it, or from how many samples the decoder swallowed before it
// (pictures before a key frame in display order that need the previous group cannot be decoded
// from it, so the decoder starts one group earlier for them).
//
// Large pictures met while stepping forward are converted to the DIB on a job thread while the
// next one decodes (with a one-thread decoder, not those the AVX-512 loop converts: for them the
// hand-over costs more than it saves). Films of an all-intra codec stepped through with decoders
// allowed more than one thread are read ahead instead by two decoders of their own on two threads,
// taking turns (FFmpeg's decoders of those codecs use one thread whatever they are given); a jump
// ends the read-ahead. The getter is used by one thread at a time.

#include "platform/codec/FrameConverter.h"
#include "platform/codec/VideoDecoder.h"
#include "platform/codec/VideoFormat.h"
#include "platform/vfw/JobThread.h"
#include "platform/vfw/VfwObjects.h"

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace qdx::vfw {

class FrameGetterImpl final : public FrameGetter {
public:
    // A getter on the stream, or nullptr (with the reason in `error`) when the stream is not
    // video, its format is broken, no decoder knows it or `wanted` asks for a layout we cannot
    // give.
    // `threads` is the decoder's thread count, -1 the program's setting (decoderThreads()).
    static FrameGetterImpl* create(AviStream* stream, const BITMAPINFOHEADER* wanted,
                                   QString* error = nullptr, int threads = -1);
    ~FrameGetterImpl() override;

    void* frame(LONG position) override;
    // True for compressed films (their pictures come from a decoder).
    bool decodes() const { return bool(m_decoder); }
    // True for compressed films whose every sample is a picture of its own (all-intra codecs
    // that do not reorder): any frame can then be decoded alone, by any decoder.
    bool intraOnly() const;
    // A second getter on the same stream giving the same layout, with a decoder of its own (so
    // that another thread can decode other frames of the film meanwhile); nullptr when it fails.
    std::unique_ptr<FrameGetterImpl> twin() const;

    // The layout of every frame returned.
    const BITMAPINFOHEADER& outputHeader() const { return m_out; }
    // Work done so far: samples fed to the decoder and restarts at a key frame.
    struct Counters {
        int64_t samplesDecoded = 0;
        int64_t restarts = 0;
    };
    // (The read-ahead's decoders included.)
    Counters counters() const;
    // The decoded picture of a frame, without its conversion to a DIB (compressed streams;
    // nullptr otherwise or when it does not decode). Its pts is the position of the sample that
    // held it, so a caller can tell which sample a frame of the display order came from. Valid
    // until the next call.
    const AVFrame* picture(LONG position);
    // Whether the codec shows pictures in another order than they are stored (B-frames); known
    // once a frame has been returned.
    bool reorders() const { return m_reorders; }
    // Pictures the decoder holds back for reordering (0 for uncompressed streams).
    int reorderDelay() const { return m_decoder ? m_decoder->reorderDelay() : 0; }

private:
    FrameGetterImpl(AviStream* stream, VideoFormat format);

    void* uncompressedFrame(LONG position);
    bool readSample(LONG position, std::vector<uint8_t>& into);

    // Compressed films.
    bool pictureFor(LONG position);
    // Decodes ahead until the picture for the position has come out (or the run cannot go on).
    void prefetch(LONG position);
    bool advanceTo(LONG position);
    bool restartFor(LONG position);
    void startRun(LONG key);
    // Feeds samples until at least one picture comes out or the stream ends. False at the end.
    bool feed();
    bool acceptOutputs();
    LONG keyBefore(LONG position);
    LONG keyForPicture(LONG position);
    bool isKeySample(LONG position);

    AviStream* m_stream;
    VideoFormat m_format;
    FOURCC m_handler = 0;
    LONG m_start = 0;
    BITMAPINFOHEADER m_out;
    bool m_storedLayout = false; // uncompressed frames returned as stored
    DibBytes m_dib;
    std::vector<uint8_t> m_sample;
    LONG m_delivered = -1;
    LONG m_lastAsked = -2;
    Counters m_counters;

    std::unique_ptr<VideoDecoder> m_decoder;
    int m_decoderThreads = 0; // as opened (0: FFmpeg's choice)
    std::unique_ptr<FrameConverter> m_converter;
    std::unique_ptr<JobThread> m_pipeline; // converts while the next picture decodes
    struct ReadAhead;
    std::unique_ptr<ReadAhead> m_readAhead; // all-intra films stepped through
    bool m_readAheadTried = false;          // and could not be started
    // The frame read ahead for the position, in m_dib; nullptr when there is none (or it failed).
    void* readAheadFrame(LONG position, bool stepping);
    FramePtr m_converting; // the picture being converted there

    // Why a run stopped before giving the picture asked for.
    enum class Problem { None, BadKey, TooLate, ModeChanged };

    LONG m_end = 0;    // one past the last sample
    LONG m_target = 0; // the picture asked for

    // The current decoding run.
    bool m_runActive = false;
    Problem m_problem = Problem::None;
    LONG m_runKey = 0;
    LONG m_next = 0;     // next sample to feed
    int m_sentInRun = 0; // samples fed since the run started
    int m_swallowed = 0; // samples fed before the latest one
    bool m_sawOutput = false;
    bool m_validateKey = false;
    bool m_keyRejected = false;
    LONG m_base = 0;    // number of the run's first picture (reordering codecs)
    LONG m_ordinal = 0; // pictures out of the run so far
    bool m_drained = false;
    int64_t m_lastTag = -1;

    FramePtr m_current;                            // the latest picture taken from the run
    LONG m_currentNumber = -1;                     // its number
    std::deque<std::pair<LONG, FramePtr>> m_ahead; // pictures out beyond the one asked for

    bool m_modeKnown = false;
    bool m_reorders = false;
    int m_startDelay = -1; // samples the decoder swallows before its first picture
    int m_startReorder = 0;
    std::map<LONG, LONG> m_keyNumbers; // key sample -> number of its picture
    std::set<LONG> m_badKeys;          // samples flagged key that do not start a decodable run
};

} // namespace qdx::vfw
