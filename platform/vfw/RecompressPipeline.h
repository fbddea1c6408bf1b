#pragma once

// Recompression of a run of frames on two threads: one decodes the source's frames (through its
// frame getter) while the other encodes them (through the compressed stream over the target), with
// a short queue between them, so that two cores work even when each codec runs one thread. Films
// whose every frame decodes alone (Motion JPEG and the like) are decoded by two decoders taking
// turns when decoders may use more than one thread, since FFmpeg's decoders of those codecs run
// on one thread whatever they are given. When
// the compressor codes the decoder's YUV layout, the decoded pictures go to it as they are (only
// their chroma layout changed where needed); otherwise the getter's DIBs go through as before.
// Motion JPEG recompressed to Motion JPEG at a fixed quantiser goes around the codecs instead:
// the workers read the source's samples and requantise their coefficients (MjpegTranscoder),
// and the samples are written as they come; a sample the transcoder refuses is decoded and
// encoded as above, alone.
//
// The caller's thread hears of every frame written, in order, through next(): the engine raises
// its progress events there, so they stay on the caller's thread. Both workers belong to the
// pipeline: stop() (and the destructor) ends and joins them; what a worker throws is thrown again
// by next().

#include "platform/codec/MjpegTranscoder.h"
#include "platform/vfw/Vfw.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qdx::vfw {

class CompressedStream;
class FrameGetterImpl;

class RecompressPipeline {
public:
    struct Frame {
        LONG index = 0;    // the source frame
        LONG position = 0; // its position in the target
        DWORD flags = 0;   // the key flag handed to the write
        int progress = 0;  // the value of its progress event
    };

    // Starts decoding `frames` from `getter` and writing them to `compressed`, a stream made by
    // AVIMakeCompressedStream over a stream being written, its format set to the getter's frame
    // layout: packed DIBs of `width` x `height` at 32 bits, bottom-up. Until stop() or the end,
    // the getter and the compressed stream are the workers' only. `source`, when given, is the
    // stream the getter reads: its samples may then be transcoded without decoding them.
    RecompressPipeline(PGETFRAME getter, PAVISTREAM compressed, int width, int height,
                       std::vector<Frame> frames, PAVISTREAM source = nullptr);
    ~RecompressPipeline();
    RecompressPipeline(const RecompressPipeline&) = delete;
    RecompressPipeline& operator=(const RecompressPipeline&) = delete;

    // Waits for the next frame written: true with it in `written`; false once every frame is
    // written or the work stopped on a frame that could not be fetched or written (failed()).
    // Throws what a worker threw.
    bool next(Frame& written);
    bool failed() const;
    // Ends both workers (a frame being written is finished first) and waits for them.
    void stop();
    // Frames that went to the compressor as decoded YUV pictures, not as DIBs.
    int pictureFrames() const;
    // Samples written as the transcoder made them from the source's samples (empty ones
    // included), without decoding.
    int transcodedFrames() const;

    // Frames decoded ahead of the encoder at most.
    static constexpr size_t kQueueLength = 3;

private:
    struct Item;

    // Decodes frames worker, worker + workers, ... of the run.
    void decode(FrameGetterImpl* pictures, PGETFRAME getter, size_t worker, size_t workers);
    void encode();
    void fail(std::exception_ptr error);
    // Reads the source's sample at `index` and transcodes it into the item; false when the
    // sample cannot be read or the transcoder refuses it.
    bool transcode(MjpegTranscoder& transcoder, LONG index, std::vector<uint8_t>& sample,
                   Item& item);

    PGETFRAME m_getter;
    PAVISTREAM m_compressed;
    std::unique_ptr<FrameGetterImpl> m_twin; // the second decoder's getter
    CompressedStream* m_yuvTarget;           // the compressed stream, when its encoder codes YUV
    PAVISTREAM m_source;
    std::optional<MjpegTranscoder::Target> m_mjpegTarget; // when the samples are transcoded
    int m_width;
    int m_height;
    size_t m_dibBytes;
    std::vector<Frame> m_frames;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<size_t, std::unique_ptr<Item>> m_decodedItems; // by their place in the run
    size_t m_nextEncode = 0;
    size_t m_decoding = 0; // decode workers still running
    std::vector<std::vector<uint8_t>> m_spareBuffers;
    std::vector<std::vector<uint8_t>> m_spareSamples;
    bool m_stop = false;
    bool m_failed = false;
    std::exception_ptr m_error;
    size_t m_written = 0;
    size_t m_reported = 0;
    int m_pictureFrames = 0;
    int m_transcodedFrames = 0;

    std::vector<std::jthread> m_decoders;
    std::jthread m_encoder;
};

// Whether decoded pictures may go to the compressors without DIBs (on unless switched off); the
// tests and benchmarks switch it off to compare with the DIB path on the same films.
void setYuvRecompression(bool enabled);
bool yuvRecompression();
// Whether Motion JPEG samples may be transcoded to Motion JPEG without decoding (on unless
// switched off), and how many samples were, in every recompression so far.
void setCoefficientRecompression(bool enabled);
bool coefficientRecompression();
int64_t coefficientRecompressedSamples();

} // namespace qdx::vfw
