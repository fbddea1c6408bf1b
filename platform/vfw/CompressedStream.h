#pragma once

// The stream AVIMakeCompressedStream gives. Over a stream being written, each DIB written is
// encoded and the compressed sample written to that stream at the same position, with the
// encoder's key flag; the format set is the uncompressed DIB layout, the format the target gets is
// the compressor's. Over a readable video stream, each sample read is the source's frame decoded
// and encoded again (sequential reads encode each frame once; reading backwards starts the
// encoder again from the first frame, since an encoded sample depends on the ones before it).

#include "platform/codec/MjpegTranscoder.h"
#include "platform/codec/VideoEncoder.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "platform/vfw/VfwObjects.h"

#include <deque>
#include <memory>
#include <optional>

namespace qdx::vfw {

class CompressedStream final : public AviStream {
public:
    static HRESULT create(AviStream* source, const AVICOMPRESSOPTIONS& options,
                          AviStream** compressed);

    HRESULT info(AVISTREAMINFO& out) override;
    LONG start() override;
    LONG length() override;
    HRESULT readFormat(LONG position, void* format, LONG* size) override;
    HRESULT setFormat(LONG position, const void* format, LONG size) override;
    HRESULT read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead) override;
    HRESULT write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override;
    LONG findSample(LONG position, LONG flags) override;

    // Writing decoded pictures without DIBs (see VideoEncoder::preparePicture): a picture in the
    // encoder's layout, or nullptr when the encoder does not take it (thread-safe); and the write
    // of such a prepared picture at a position, as write() writes a DIB.
    FramePtr preparePicture(const AVFrame* picture) const;
    HRESULT writePicture(AVFrame* prepared, LONG position);

    // Writing samples already compressed (Motion JPEG requantised to this compressor's tables):
    // the layout of the pictures the compressor writes, taken from a small picture encoded with
    // the same settings, when it is Motion JPEG at a fixed quantiser over frames of its own
    // coded size (nullopt otherwise: a data rate varies the quantiser from frame to frame); and
    // the write of such a sample at a position, in turn with the frames given to the encoder
    // (an empty sample stays an empty sample, not a key frame).
    std::optional<MjpegTranscoder::Target> mjpegTarget() const;
    HRESULT writeEncoded(const uint8_t* data, size_t size, LONG position, DWORD flags);

protected:
    // Encodes what the encoder still holds into the target before the stream goes.
    ~CompressedStream() override;

private:
    CompressedStream(AviStream* source, const AVICOMPRESSOPTIONS& options);

    HRESULT writeReady();
    HRESULT writeHeld();
    HRESULT openReader();
    const VideoEncoder::Sample* sampleAt(LONG position, HRESULT* code);
    HRESULT encodeNext();

    AviStream* m_source;
    AVICOMPRESSOPTIONS m_options;
    AVISTREAMINFO m_sourceInfo;
    bool m_reading = false;
    std::unique_ptr<VideoEncoder> m_encoder;
    QByteArray m_inputFormat; // the format set (writing)
    LONG m_lastWritten = -1;
    // Positions of the frames the encoder holds (encoders with frame threads give their samples
    // later), and the samples already compressed that follow them and wait for them.
    std::deque<LONG> m_inEncoder;
    struct HeldSample {
        LONG position;
        std::vector<uint8_t> data;
        DWORD flags;
    };
    std::deque<HeldSample> m_held;

    // Reading: the source's frames and the samples encoded but not yet passed.
    std::unique_ptr<FrameGetterImpl> m_getter;
    std::optional<VideoFormat> m_frameLayout;
    size_t m_pixelOffset = 0;
    LONG m_nextEncode = 0;
    std::deque<VideoEncoder::Sample> m_encoded;
    std::vector<signed char> m_keys; // per position: 1 key, 0 not, -1 not yet known
};

} // namespace qdx::vfw
