#pragma once

// The stream AVIMakeCompressedStream gives. Over a stream being written, each DIB written is
// encoded and the compressed sample written to that stream at the same position, with the
// encoder's key flag; the format set is the uncompressed DIB layout, the format the target gets is
// the compressor's. Over a readable video stream, each sample read is the source's frame decoded
// and encoded again (sequential reads encode each frame once; reading backwards starts the
// encoder again from the first frame, since an encoded sample depends on the ones before it).

#include "platform/vfw/AviObjects.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "platform/vfw/VideoEncoder.h"

#include <deque>
#include <memory>

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

protected:
    // Encodes what the encoder still holds into the target before the stream goes.
    ~CompressedStream() override;

private:
    CompressedStream(AviStream* source, const AVICOMPRESSOPTIONS& options);

    HRESULT writeReady();
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

    // Reading: the source's frames and the samples encoded but not yet passed.
    std::unique_ptr<FrameGetterImpl> m_getter;
    std::optional<VideoFormat> m_frameLayout;
    size_t m_pixelOffset = 0;
    LONG m_nextEncode = 0;
    std::deque<VideoEncoder::Sample> m_encoded;
    std::vector<signed char> m_keys; // per position: 1 key, 0 not, -1 not yet known
};

} // namespace qdx::vfw
