#include "tests/vfw/DemuxedStream.h"

#include "tests/vfw/MemoryStream.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstring>

namespace qdx::vfw::test {

DemuxedStream* DemuxedStream::open(const QString& path, DWORD type) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return nullptr;
    struct Closer {
        AVFormatContext** c;
        ~Closer() { avformat_close_input(c); }
    } closer{&context};
    if (avformat_find_stream_info(context, nullptr) < 0)
        return nullptr;
    const AVMediaType media = type == streamtypeAUDIO ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
    int index = -1;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == media) {
            index = int(i);
            break;
        }
    if (index < 0)
        return nullptr;
    const AVStream* st = context->streams[index];
    const AVCodecParameters* par = st->codecpar;

    auto* s = new DemuxedStream;
    s->m_info.fccType = type;
    s->m_info.fccHandler = par->codec_tag;
    s->m_info.dwScale = uint32_t(st->time_base.num);
    s->m_info.dwRate = uint32_t(st->time_base.den);
    if (media == AVMEDIA_TYPE_VIDEO) {
        BITMAPINFOHEADER h;
        h.biWidth = par->width;
        h.biHeight = par->height;
        h.biBitCount = uint16_t(par->bits_per_coded_sample ? par->bits_per_coded_sample : 24);
        h.biCompression = par->codec_tag;
        if (par->codec_id == AV_CODEC_ID_RAWVIDEO && par->codec_tag == 0)
            h.biCompression = 0;
        s->m_format = QByteArray(reinterpret_cast<const char*>(&h), sizeof h);
        s->m_info.rcFrame.right = par->width;
        s->m_info.rcFrame.bottom = par->height;
    } else {
        WAVEFORMATEX w;
        w.wFormatTag = uint16_t(par->codec_tag);
        w.nChannels = uint16_t(par->ch_layout.nb_channels);
        w.nSamplesPerSec = uint32_t(par->sample_rate);
        w.wBitsPerSample = uint16_t(par->bits_per_coded_sample);
        w.nBlockAlign = uint16_t(par->block_align);
        w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
        s->m_format = QByteArray(reinterpret_cast<const char*>(&w), sizeof w);
        s->m_info.dwSampleSize = w.nBlockAlign;
        s->m_info.dwScale = w.nBlockAlign;
        s->m_info.dwRate = w.nAvgBytesPerSec;
    }
    if (par->extradata_size > 0)
        s->m_format.append(reinterpret_cast<const char*>(par->extradata), par->extradata_size);

    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == index) {
            s->m_samples.emplace_back(reinterpret_cast<const char*>(packet->data), packet->size);
            s->m_keys.push_back(packet->flags & AV_PKT_FLAG_KEY);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (media == AVMEDIA_TYPE_AUDIO && s->m_info.dwSampleSize > 0) {
        // Sound as blocks of dwSampleSize bytes: one sample per block.
        QByteArray all;
        for (const QByteArray& chunk : s->m_samples)
            all += chunk;
        s->m_samples.clear();
        s->m_keys.clear();
        for (qsizetype at = 0; at + s->m_info.dwSampleSize <= all.size();
             at += s->m_info.dwSampleSize) {
            s->m_samples.push_back(all.mid(at, s->m_info.dwSampleSize));
            s->m_keys.push_back(true);
        }
    }
    s->m_info.dwLength = uint32_t(s->m_samples.size());
    return s;
}

HRESULT DemuxedStream::info(AVISTREAMINFO& out) {
    out = m_info;
    return AVIERR_OK;
}

HRESULT DemuxedStream::readFormat(LONG, void* format, LONG* size) {
    if (!format) {
        *size = LONG(m_format.size());
        return AVIERR_OK;
    }
    const LONG n = std::min<LONG>(*size, LONG(m_format.size()));
    std::memcpy(format, m_format.constData(), size_t(n));
    *size = n;
    return AVIERR_OK;
}

HRESULT DemuxedStream::read(LONG start, LONG samples, void* buffer, LONG bufferSize,
                            LONG* bytesRead, LONG* samplesRead) {
    const HRESULT hr =
        readIn(m_samples, start, samples, buffer, bufferSize, bytesRead, samplesRead);
    if (buffer && hr == AVIERR_OK)
        ++m_reads;
    return hr;
}

LONG DemuxedStream::findSample(LONG position, LONG flags) {
    return findIn(m_keys, m_samples, position, flags);
}

} // namespace qdx::vfw::test
