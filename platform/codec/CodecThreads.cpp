#include "platform/codec/CodecThreads.h"

#include <algorithm>
#include <atomic>

namespace qdx::vfw {

namespace {

std::atomic<int> decoderSetting{0};
std::atomic<int> encoderSetting{0};
thread_local bool inPipelineCoding = false;
thread_local bool inRealTimeCoding = false;

} // namespace

void setCodecThreads(int threads) {
    setDecoderThreads(threads);
    setEncoderThreads(threads);
}

void setDecoderThreads(int threads) {
    decoderSetting = std::max(0, threads);
}

int decoderThreads() {
    return decoderSetting.load();
}

void setEncoderThreads(int threads) {
    encoderSetting = std::max(0, threads);
}

int encoderThreads() {
    return encoderSetting.load();
}

PipelineCoding::PipelineCoding() : m_previous(inPipelineCoding) {
    inPipelineCoding = true;
}

PipelineCoding::~PipelineCoding() {
    inPipelineCoding = m_previous;
}

int pipelineCodingThreads(int threads) {
    return inPipelineCoding && threads > 0 ? std::max(1, threads / 2) : threads;
}

RealTimeCoding::RealTimeCoding() : m_previous(inRealTimeCoding) {
    inRealTimeCoding = true;
}

RealTimeCoding::~RealTimeCoding() {
    inRealTimeCoding = m_previous;
}

bool realTimeCoding() {
    return inRealTimeCoding;
}

#if defined(__SANITIZE_THREAD__)
#define QDX_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QDX_THREAD_SANITIZER 1
#endif
#endif

int contextThreads(int threads) {
#ifdef QDX_THREAD_SANITIZER
    (void)threads;
    return 1;
#else
    return threads;
#endif
}

} // namespace qdx::vfw
