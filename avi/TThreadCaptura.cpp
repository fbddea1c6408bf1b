#include "avi/TThreadCaptura.h"

#include "avi/LiveEncoder.h"
#include "avi/TAviCapture.h"
#include "platform/codec/CodecThreads.h"
#include "platform/codec/Compressors.h"
#include "platform/core/Exception.h"
#include "platform/vfw/VfwObjects.h"
#include "platform/x11/ScreenGrabber.h"

#include <QFile>

#include <cmath>
#include <cstring>

namespace {

// How often the recording's indexes and headers reach the disk, so a killed recorder leaves a
// film that opens up to its last few seconds.
constexpr auto kFlushInterval = std::chrono::seconds(2);

// The reason of a failure as the user is told it: the engine's own text, or a library's.
QString failureReason(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const qdx::Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QString();
    }
}

} // namespace

TThreadCaptura::TThreadCaptura(TAviCapture& owner, std::shared_ptr<qdx::x11::ScreenSource> screen,
                               std::shared_ptr<qdx::Clock> clock)
    : m_owner(owner), m_screen(std::move(screen)), m_clock(std::move(clock)) {
    m_thread = std::thread([this] { Execute(); });
}

TThreadCaptura::~TThreadCaptura() {
    Terminate();
    WaitFor();
}

void TThreadCaptura::Terminate() {
    m_terminated = true;
    Wake();
}

bool TThreadCaptura::Terminated() const {
    return m_terminated.load();
}

void TThreadCaptura::Wake() {
    { std::lock_guard lock(m_mutex); }
    m_condition.notify_all();
}

void TThreadCaptura::WaitFor() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

QString TThreadCaptura::Error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void TThreadCaptura::Execute() {
    // Any failure that leaves the recording is replaced by one message, kept for the owner, with
    // its reason on a line of its own.
    try {
        // The first frame comes before the film: a screen that cannot be copied touches no file.
        std::unique_ptr<TBitmap> first = FirstFrameBitmap();
        OpenRecordingFile();
        bool resultao = false;
        try {
            CreateRecordingStream(*first);
            first.reset();
            RecordingLoop();
            m_owner.releaseDibBuffers();
            resultao = CloseRecording();
        } catch (...) {
            m_owner.releaseDibBuffers();
            CloseRecording();
            throw;
        }
        if (m_owner.OnStop)
            m_owner.OnStop(resultao);
    } catch (...) {
        // A film without a single frame is no recording: it does not stay to look like one. The
        // target goes only once this thread has created it; the work file is the engine's own.
        if (!m_frameWritten) {
            if (!m_target.isEmpty())
                QFile::remove(m_target);
            if (m_owner.recordsToWorkFile())
                QFile::remove(m_owner.RecordingTempFile());
        }
        QString message = QStringLiteral("Ocorreu um erro durante a criação do vídeo. ") +
                          QLatin1Char('\r') + QStringLiteral("Feche o programa e reinicie.");
        const QString reason = failureReason(std::current_exception());
        if (!reason.isEmpty())
            message += QLatin1Char('\r') + reason;
        {
            std::lock_guard lock(m_mutex);
            m_error = message;
        }
        // The window hears of it at once: a recording without a film must not look like one.
        try {
            if (m_owner.OnRecordingError)
                m_owner.OnRecordingError(message);
        } catch (...) {
        }
    }
}

void TThreadCaptura::OpenRecordingFile() {
    const QString target =
        m_owner.recordsToWorkFile() ? m_owner.RecordingTempFile() : m_owner.FileName;
    // Creating truncates an existing film; it is not deleted first, so a target that cannot be
    // written (or the locked recording temp file) stays where it is.
    AVIFileInit();
    if (AVIFileOpen(&m_file, target, OF_CREATE | OF_WRITE) != AVIERR_OK) {
        m_file = nullptr;
        AVIFileExit();
        throw qdx::Exception(QStringLiteral("Falha ao criar/abir arquivo AVI."));
    }
    m_target = target;
}

std::unique_ptr<TBitmap> TThreadCaptura::FirstFrameBitmap() {
    if (m_owner.TipoCaptura == tcBitmap) {
        const auto& queue = m_owner.Bitmaps();
        for (size_t i = 0; i < queue.size(); ++i)
            if (!queue[i])
                throw qdx::Exception(QStringLiteral("Bitmaps[") + QString::number(i) +
                                     QStringLiteral("] is not a TBitmap"));
        std::unique_ptr<TBitmap> first = takeQueuedBitmap();
        if (!first)
            throw qdx::Exception(QStringLiteral("Não há quadros para gravar."));
        return first;
    }
    // Unlike the later copies, a failed first copy ends the recording, with its reason.
    if (!m_screen)
        m_screen = std::make_shared<qdx::x11::ScreenGrabber>();
    auto first = std::make_unique<TBitmap>(m_screen->grab(m_owner.PixelFormat));
    if (first->Empty())
        throw qdx::Exception(QStringLiteral("Não foi possível copiar a tela."));
    return first;
}

void TThreadCaptura::CreateRecordingStream(const TBitmap& first) {
    m_header = AVISTREAMINFO();
    m_header.fccType = streamtypeVIDEO;
    m_header.fccHandler = m_owner.CompressWhileRecording ? m_owner.LiveCompressor.fccHandler : 0;
    m_header.dwScale = DWORD(m_owner.Scale);
    m_header.dwRate = DWORD(m_owner.Rate);
    m_owner.allocateDibBuffers(first, first.PixelFormat());
    if (!m_owner.ReadDibBits(first, nullptr, first.PixelFormat(), m_owner.m_dibBits.data(),
                             m_owner.m_dibHeader.data()))
        throw qdx::Exception(QStringLiteral("Não foi possível converter o quadro da tela."));
    BITMAPINFOHEADER dib;
    std::memcpy(&dib, m_owner.m_dibHeader.data(), sizeof dib);
    m_frameWidth = dib.biWidth;
    m_frameHeight = dib.biHeight;
    m_header.dwSuggestedBufferSize = dib.biSizeImage;
    m_header.rcFrame.right = dib.biWidth;
    m_header.rcFrame.bottom = dib.biHeight;
    if (AVIFileCreateStream(m_file, &m_stream, &m_header) != AVIERR_OK) {
        m_stream = nullptr;
        throw qdx::Exception(QStringLiteral("Falha ao criar o fluxo de vídeo."));
    }
    if (m_owner.CompressWhileRecording)
        CreateLiveEncoder();
    else if (AVIStreamSetFormat(m_stream, 0, m_owner.m_dibHeader.data(),
                                LONG(m_owner.m_dibHeader.size())) != AVIERR_OK)
        throw qdx::Exception(QStringLiteral("Falha ao definir o formato do vídeo."));
    const int length = WriteRecordedFrame(0, first);
    if (!m_frameWritten)
        throw qdx::Exception(QStringLiteral("Falha ao gravar o primeiro quadro."));
    if (m_owner.OnCapturing)
        m_owner.OnCapturing(length, &m_owner);
}

void TThreadCaptura::RecordingLoop() {
    using namespace std::chrono;
    const double rate = m_owner.Rate > 0 ? double(m_owner.Rate) : 1.0;
    const double scale = m_owner.Scale > 0 ? double(m_owner.Scale) : 1.0;
    const auto period = duration_cast<qdx::Clock::duration>(duration<double>(scale / rate));
    // Frame k is due at origin + k periods; a pause moves the origin on by its length.
    qdx::Clock::time_point origin = m_clock->now();
    m_lastFlush = origin;
    int position = 0;

    while (!Terminated()) {
        m_owner.m_recording = true;
        std::unique_ptr<TBitmap> bitmap;
        int target = position + 1;
        if (m_owner.TipoCaptura == tcTela) {
            {
                std::unique_lock lock(m_mutex);
                m_clock->waitUntil(lock, m_condition, origin + period * target,
                                   [this] { return Terminated() || m_owner.Paused(); });
            }
            if (Terminated())
                break;
            if (!m_owner.Paused()) {
                bitmap = GrabScreen();
                // The slot the clock has reached: positions between stay empty (dropped frames).
                const auto elapsed = m_clock->now() - origin;
                const int slot = int(elapsed / period);
                if (slot > target) {
                    m_dropped += slot - target;
                    target = slot;
                }
            }
        } else {
            bitmap = takeQueuedBitmap();
        }
        if (bitmap) {
            position = target;
            const int length = WriteRecordedFrame(position, *bitmap);
            if (m_owner.OnCapturing)
                m_owner.OnCapturing(length, &m_owner);
            bitmap.reset();
        }
        // A film compressed while it records is flushed by its encoding thread.
        if (!m_live && m_clock->now() - m_lastFlush >= kFlushInterval) {
            qdx::vfw::flushFile(m_file);
            m_lastFlush = m_clock->now();
        }
        if (m_owner.Paused()) {
            m_owner.m_recording = false;
            const auto pausedAt = m_clock->now();
            std::unique_lock lock(m_mutex);
            m_condition.wait(lock, [this] { return Terminated() || !m_owner.Paused(); });
            // No gap: the film continues where it stopped, the frame after the last one.
            origin += m_clock->now() - pausedAt;
        }
    }
}

bool TThreadCaptura::CloseRecording() {
    bool ok = true;
    try {
        // The encoding thread writes what waits for it (and the encoder's tail) first.
        if (m_live && !m_live->finish(m_lastPosition))
            ok = false;
        m_live.reset();
        // Every frame write and the film's indexes must have reached the disk: a film cut short
        // (a full disk, a file-size limit) is a failed recording.
        if (m_file && qdx::vfw::finishFile(m_file) != AVIERR_OK)
            ok = false;
        if (m_stream)
            AVIStreamRelease(m_stream);
        m_stream = nullptr;
        if (m_file)
            while (AVIFileRelease(m_file) > 0) {
            }
        m_file = nullptr;
        AVIFileExit();
    } catch (...) {
        ok = false;
    }
    return ok;
}

int TThreadCaptura::WriteRecordedFrame(int position, const TBitmap& bitmap) {
    try {
        const TBitmap* frame = &bitmap;
        TBitmap fitted;
        if (bitmap.Width() != m_frameWidth || bitmap.Height() != m_frameHeight) {
            // A screen whose size changed during the recording: frames keep the film's size.
            fitted = bitmap;
            TAviCapture::fitInto(fitted, m_frameWidth, m_frameHeight);
            fitted.SetPixelFormat(bitmap.PixelFormat());
            frame = &fitted;
        }
        if (m_live)
            return WriteLiveFrame(position, *frame);
        if (!m_owner.ReadDibBits(*frame, nullptr, frame->PixelFormat(), m_owner.m_dibBits.data(),
                                 m_owner.m_dibHeader.data()))
            return m_lastLength;
        if (AVIStreamWrite(m_stream, position, 1, m_owner.m_dibBits.data(),
                           LONG(m_owner.m_dibBits.size()), AVIIF_KEYFRAME, nullptr,
                           nullptr) == AVIERR_OK)
            m_frameWritten = true;
        m_lastLength = AVIStreamSampleToTime(m_stream, AVIStreamLength(m_stream));
        return m_lastLength;
    } catch (...) {
        return m_lastLength;
    }
}

void TThreadCaptura::CreateLiveEncoder() {
    // The compressor opens when the frames' layout is set: a compressor missing here or refusing
    // the frames ends the recording before it starts, with its reason.
    PAVISTREAM compressed = nullptr;
    AVICOMPRESSOPTIONS options = m_owner.LiveCompressor;
    HRESULT result = AVIMakeCompressedStream(&compressed, m_stream, &options);
    if (result == AVIERR_OK) {
        // Real-time settings: the encoder must keep up with the screen.
        const qdx::vfw::RealTimeCoding realTime;
        result = AVIStreamSetFormat(compressed, 0, m_owner.m_dibHeader.data(),
                                    LONG(m_owner.m_dibHeader.size()));
        if (result != AVIERR_OK)
            AVIStreamRelease(compressed);
    }
    if (result != AVIERR_OK) {
        const qdx::vfw::Compressor* compressor =
            qdx::vfw::findCompressor(m_owner.LiveCompressor.fccHandler);
        throw qdx::Exception(QStringLiteral("Falha ao abrir o compressor de vídeo") +
                             (compressor ? QStringLiteral(" ") + compressor->name : QString()) +
                             QLatin1Char('.'));
    }
    auto onWritten = m_owner.OnFrameEncoded;
    m_live = std::make_unique<LiveEncoder>(m_file, compressed, m_owner.m_dibBits.size(), m_clock,
                                           kFlushInterval, std::move(onWritten));
}

int TThreadCaptura::WriteLiveFrame(int position, const TBitmap& frame) {
    // The first frame and queued bitmaps wait for a buffer; a copy of the screen does not: with
    // the encoder behind, its position stays empty.
    const bool wait = position == 0 || m_owner.TipoCaptura == tcBitmap;
    uint8_t* bits = m_live->buffer(wait);
    m_lastPosition = std::max(m_lastPosition, position);
    if (!bits) {
        ++m_dropped;
    } else if (m_owner.ReadDibBits(frame, nullptr, frame.PixelFormat(), bits,
                                   m_owner.m_dibHeader.data())) {
        m_live->submit(position);
        m_frameWritten = true;
    }
    // The film's length once the frame is written (the stream itself is the encoding thread's).
    m_lastLength = qdx::vfw::sampleToTime(m_header, m_lastPosition + 1);
    return m_lastLength;
}

std::unique_ptr<TBitmap> TThreadCaptura::GrabScreen() {
    try {
        if (!m_screen)
            m_screen = std::make_shared<qdx::x11::ScreenGrabber>();
        auto bitmap = std::make_unique<TBitmap>(m_screen->grab(m_owner.PixelFormat));
        if (bitmap->Empty())
            return nullptr;
        return bitmap;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<TBitmap> TThreadCaptura::takeQueuedBitmap() {
    auto& queue = m_owner.Bitmaps();
    if (queue.empty())
        return nullptr;
    std::unique_ptr<TBitmap> bitmap = std::move(queue.front());
    queue.erase(queue.begin());
    if (queue.empty())
        Terminate();
    return bitmap;
}
