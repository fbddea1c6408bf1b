#pragma once

// What the AVIFile calls of Vfw.h dispatch to beyond the container's files and streams: the frame
// getter, the compressed streams, saving, the compressor choice, and the time conversions.

#include "platform/avifile/AviObjects.h"
#include "platform/vfw/Vfw.h"

namespace qdx::vfw {

class FrameGetter {
public:
    virtual ~FrameGetter() = default;
    virtual void* frame(LONG position) = 0;
};

FrameGetter* createFrameGetter(AviStream* stream, const BITMAPINFOHEADER* wanted);
HRESULT createCompressedStream(AviStream* source, const AVICOMPRESSOPTIONS& options,
                               AviStream** compressed);
HRESULT saveStreams(const QString& path, AVISAVECALLBACK callback, int streamCount,
                    AviStream** streams, AVICOMPRESSOPTIONS** options);
BOOL chooseCompressorOptions(UINT flags, int streamCount, AviStream** streams,
                             AVICOMPRESSOPTIONS** options);

// Time and sample conversions of a stream header, as AVIStreamSampleToTime/TimeToSample round.
LONG sampleToTime(const AVISTREAMINFO& info, LONG sample);
LONG timeToSample(const AVISTREAMINFO& info, LONG time);

} // namespace qdx::vfw
