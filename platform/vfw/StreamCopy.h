#pragma once

// "Direct stream copy": a film's video goes to the target as its stored samples, with their key
// flags, instead of through a compressor. It is a choice of the compressor list, not an encoder:
// its handler code is a marker no film carries, and it never reaches VideoEncoder or a
// compressed stream.
//
// A copy still starts and ends at the exact frames asked for. Frame numbers are display order,
// as the frame getter numbers them; the samples of the range are found by decoding only around
// its two ends (each picture carries the position of its sample). Where the range starts on a
// frame that is not a key frame, the frames up to the next key frame are re-encoded with our own
// encoder of the same codec, the first of them a key frame with the codec's headers in the
// stream, and the stored samples follow from that key frame on. At the end, frames shown before
// a frame they depend on (B-frames whose later reference lies past the range) are re-encoded too,
// so every sample of the target decodes from samples of the target. Streams of key frames only
// (uncompressed, Motion JPEG, HuffYUV, intra FFV1) are copied sample for sample.
//
// A copy starts only where decoding needs no earlier picture: a key frame that is an IDR picture
// for H.264 (a recovery point's later pictures may refer to pictures before it). The bridge must
// code like the source (an MPEG-4 layer's quantisation, quarter-pel and interlacing; H.264's
// chroma format, bit depth and field coding), which a first picture encoded before anything is
// written shows; where it cannot, or no encoder of the codec exists here, the cuts move to key
// frames instead, and bridgeNote() says why.

#include "platform/vfw/CompressorChooser.h"
#include "platform/vfw/StreamHeaders.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

struct AVFrame;

namespace qdx::vfw {

class FrameGetterImpl;

// The handler code of "Direct stream copy".
constexpr FOURCC comptypeSTREAMCOPY = mmioFOURCC('Q', 'd', 'x', 'C');
// Held by a caller that copies from a source film around its AVISaveOptions call: choosers may
// then offer "Direct stream copy", and must not answer with it otherwise (a recording, a merge
// without a source). Per thread; `offered` false withdraws an outer offer.
class StreamCopyOffer {
public:
    explicit StreamCopyOffer(bool offered = true);
    ~StreamCopyOffer();
    StreamCopyOffer(const StreamCopyOffer&) = delete;
    StreamCopyOffer& operator=(const StreamCopyOffer&) = delete;

private:
    bool m_previous;
};
bool streamCopyOffered();

// The list entry of "Direct stream copy" (no encoder, no settings).
const Compressor& streamCopyCompressor();
bool isStreamCopy(FOURCC handler);

class StreamCopier {
public:
    // What copying needs of a source video stream (the caller keeps its reference on it), or
    // nullptr with the reason when its format cannot be read. A frame getter the caller has open
    // on the stream (kept by the caller while the copier lives) saves decoding again what it
    // decoded already.
    static std::unique_ptr<StreamCopier> open(AviStream* source, QString* error,
                                              FrameGetterImpl* getter = nullptr);
    ~StreamCopier();
    StreamCopier(const StreamCopier&) = delete;
    StreamCopier& operator=(const StreamCopier&) = delete;

    // The source's format, which the target takes unchanged.
    const QByteArray& format() const { return m_format; }
    LONG start() const { return m_start; }
    LONG end() const { return m_end; } // one past the last frame
    bool allKeyFrames() const { return m_allKeys; }
    // Whether frames between key frames can be re-encoded here (an encoder of the codec exists
    // and its samples can stand beside the source's).
    bool canReencode() const { return m_encoder != nullptr; }
    // Why a copy that could re-encode between key frames did not (the bridge would not code like
    // the source, or its encoder did not open); empty otherwise.
    const QString& bridgeNote() const { return m_bridgeNote; }
    // The last key frame (display order) at or before `frame`: where a copy that cannot re-encode
    // starts. -1 when there is none.
    LONG keyFrameAtOrBefore(LONG frame);
    // Empty when a film of `other`'s stream can follow this one's in one copied stream; else what
    // differs.
    QString differenceFrom(const StreamCopier& other) const;

    // Called for every frame written (display number); false stops the copy.
    using Progress = std::function<bool(LONG frame)>;
    struct Result {
        bool ok = false;
        LONG first = 0; // the frames written: first..last in display order
        LONG last = -1;
        LONG samples = 0; // samples written
        LONG next = 0;    // the target position after the last one written
        LONG reencoded = 0;
    };
    // Writes frames first..last to `target` (its format already set) from sample position `at`.
    // Without an encoder the copy starts at keyFrameAtOrBefore(first) and ends where the stored
    // samples can end at or after `last`; the result says which frames were written.
    Result append(AviStream* target, LONG at, LONG first, LONG last, const Progress& progress,
                  QString* error);

private:
    StreamCopier() = default;
    bool isKey(LONG sample) const;
    // The last sample at or before `sample` where decoding can start, -1 when there is none.
    LONG keyAtOrBefore(LONG sample) const;
    // Encodes one picture with the bridge's settings and compares its headers with the source's:
    // false (the encoder dropped, the reason in bridgeNote) when they cannot stand together.
    bool checkBridge(const AVFrame& picture);
    // The sample that holds display frame `frame` (fetching it), -1 when it does not decode.
    LONG sampleOf(LONG frame);
    bool copySample(AviStream* target, LONG sample, LONG at, bool prependHeaders);

    AviStream* m_source = nullptr;
    QByteArray m_format;
    FOURCC m_fourcc = 0;
    LONG m_start = 0;
    LONG m_end = 0;
    mutable std::vector<int8_t> m_keys; // where decoding can start: 1, 0, -1 not known yet
    mutable std::vector<uint8_t> m_probe;
    std::vector<bool> m_storedKeys; // the key flags of the source's samples
    int m_codec = 0;                // FFmpeg's codec id
    int m_lengthSize = 0; // H.264 units prefixed by their length in bytes (0: start codes)
    DWORD m_rate = 0;
    DWORD m_scale = 0;
    bool m_bridgeChecked = false;
    QString m_bridgeNote;
    QByteArray m_sourceHeaders;        // the bytes holding the source's sequence or layer headers
    std::optional<Mpeg4Layer> m_layer; // the bridge codes like these (checkBridge)
    std::optional<H264Sequence> m_sequence;
    bool m_allKeys = true;
    const char* m_encoder = nullptr;
    bool m_inBandHeaders = false; // the extra data is start-code headers a decoder can take in-band
    std::unique_ptr<FrameGetterImpl> m_ownGetter;
    FrameGetterImpl* m_getter = nullptr;
    // Pictures learnt near the end of a range, kept for re-encoding without decoding them again.
    std::map<LONG, std::shared_ptr<const AVFrame>> m_kept;
    LONG m_keepFrom = 0;
    LONG m_keepTo = -1;
    std::map<LONG, LONG> m_sampleOfFrame;
    std::map<LONG, LONG> m_frameOfSample;
    std::vector<uint8_t> m_buffer;
};

} // namespace qdx::vfw
