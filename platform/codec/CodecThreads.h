#pragma once

// How many threads the codecs take: a setting for decoders and one for encoders (0, the default,
// lets FFmpeg take one per core), and the share of them a codec gets inside the two-thread
// recompression pipeline.

namespace qdx::vfw {

// Threads every decoder and encoder opened from now on uses. Benchmarks set it to compare with
// other tools at the same thread count.
void setCodecThreads(int threads);
void setDecoderThreads(int threads);
int decoderThreads();
void setEncoderThreads(int threads);
int encoderThreads();

// Held (on the opening thread) while the frame pipeline opens the codecs of a recompression, which
// decode and encode on two threads of their own (RecompressPipeline): the decoders opened
// meanwhile, and FFmpeg's MPEG-video encoders (Motion JPEG, MPEG-4), get half the threads set
// (one at least; 0, FFmpeg's choice, stays), since their frame and slice threads otherwise
// compete with the pipeline's threads for the same cores. With two threads, a 720p MPEG-4
// recompression took 0.86 s with two threads in each codec, 0.72 s so; H.264 1.65 s and 1.54 s.
// libx264 keeps the threads set: its own threading pays.
class PipelineCoding {
public:
    PipelineCoding();
    ~PipelineCoding();
    PipelineCoding(const PipelineCoding&) = delete;
    PipelineCoding& operator=(const PipelineCoding&) = delete;

private:
    bool m_previous;
};
// The threads a codec so opened gets of the `threads` set.
int pipelineCodingThreads(int threads);

// Held (on the opening thread) while a compressor is opened for a recording compressed while it
// records: the encoder must keep up with the screen and hold nothing back, so H.264 takes x264's
// zero-latency tuning (no look-ahead, no frames held back, slice threads), which also keeps its
// memory flat. Its preset stays veryfast: at 1080p and 30 fps that took 0.6 to 0.7 of the CPU time
// of ffmpeg's veryfast x11grab recording, and wrote films about 30 % smaller than ultrafast (which
// took 0.46 of it); see docs/BENCHMARKS.md.
class RealTimeCoding {
public:
    RealTimeCoding();
    ~RealTimeCoding();
    RealTimeCoding(const RealTimeCoding&) = delete;
    RealTimeCoding& operator=(const RealTimeCoding&) = delete;

private:
    bool m_previous;
};
bool realTimeCoding();

// The thread count an FFmpeg codec context is opened with for `threads`: the same, but one in a
// build with ThreadSanitizer. libavcodec is not built with it, so the hand-overs between its own
// threads (atomic reference counts) would be reported as races; the threads of ours around the
// codecs are what that build judges.
int contextThreads(int threads);

} // namespace qdx::vfw
