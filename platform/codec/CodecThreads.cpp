#include "platform/codec/CodecThreads.h"

#include <algorithm>
#include <atomic>

namespace qdx::vfw {

namespace {

std::atomic<int> decoderSetting{0};
std::atomic<int> encoderSetting{0};
thread_local bool inPipelineCoding = false;

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

} // namespace qdx::vfw
