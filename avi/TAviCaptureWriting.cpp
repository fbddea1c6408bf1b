// TAviCapture: writing films. The frame pipeline (ExtractFrames, ExcludeFrames,
// ConcatenateFrames) decodes every visited frame into a display bitmap, reads it back as an
// uncompressed 32-bit DIB and writes it through the compressor the user chooses. Sound is copied
// as raw samples into sound files; MergeStreams puts one file's video and another's sound together.

#include "avi/TAviCapture.h"
#include "platform/codec/CodecThreads.h"

#include "avi/FilmTarget.h"

#include "platform/core/AppFolder.h"
#include "platform/core/Exception.h"
#include "platform/core/WorkFileLock.h"
#include "platform/vfw/RecompressPipeline.h"
#include "platform/vfw/StreamCopy.h"

#include <QFile>
#include <QPainter>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

// What the frame pipeline holds; everything still held is released, and the layer's
// initialisation balanced, when the operation leaves by any path (result or exception).
struct PipelineHandles {
    PAVIFILE sourceFile = nullptr;
    PAVISTREAM sourceStream = nullptr;
    PGETFRAME getter = nullptr;
    PAVIFILE targetFile = nullptr;
    PAVISTREAM targetStream = nullptr;
    PAVISTREAM compressed = nullptr;
    AVICOMPRESSOPTIONS ownOptions;
    AVICOMPRESSOPTIONS* options = nullptr;
    bool ownsOptions = false;
    bool initialised = false;

    void releaseSource() {
        if (getter)
            AVIStreamGetFrameClose(getter);
        if (sourceStream)
            AVIStreamRelease(sourceStream);
        if (sourceFile)
            AVIFileRelease(sourceFile);
        getter = nullptr;
        sourceStream = nullptr;
        sourceFile = nullptr;
    }

    void releaseTarget() {
        // The compressed stream goes first: it finishes its encoder into the target stream.
        if (compressed)
            AVIStreamRelease(compressed);
        if (targetStream)
            AVIStreamRelease(targetStream);
        if (targetFile)
            AVIFileRelease(targetFile);
        compressed = nullptr;
        targetStream = nullptr;
        targetFile = nullptr;
    }

    ~PipelineHandles() {
        releaseTarget();
        releaseSource();
        if (ownsOptions) {
            AVICOMPRESSOPTIONS* list[] = {&ownOptions};
            AVISaveOptionsFree(1, list);
        }
        if (initialised)
            AVIFileExit();
    }
};

// A frame getter request for 32-bit bottom-up frames: the pipeline turns every frame into a
// 32-bit display bitmap, so the getter converts once, straight into that layout.
BITMAPINFOHEADER thirtyTwoBitRequest(PAVISTREAM stream) {
    BITMAPINFOHEADER wanted;
    LONG size = 0;
    if (AVIStreamReadFormat(stream, 0, nullptr, &size) == AVIERR_OK &&
        size >= LONG(sizeof(BITMAPINFOHEADER))) {
        std::vector<uint8_t> format(static_cast<size_t>(size));
        if (AVIStreamReadFormat(stream, 0, format.data(), &size) == AVIERR_OK) {
            BITMAPINFOHEADER stored;
            std::memcpy(&stored, format.data(), sizeof stored);
            wanted.biWidth = stored.biWidth;
            wanted.biHeight = std::abs(stored.biHeight);
        }
    }
    wanted.biBitCount = 32;
    wanted.biCompression = BI_RGB;
    wanted.biSizeImage = uint32_t(qdx::dibStride(wanted.biWidth, 32) * wanted.biHeight);
    return wanted;
}

PGETFRAME openGetter(PAVISTREAM stream) {
    // Its frames are decoded on a thread of the recompression pipeline's own.
    const qdx::vfw::PipelineCoding coding;
    const BITMAPINFOHEADER wanted = thirtyTwoBitRequest(stream);
    if (wanted.biWidth > 0 && wanted.biHeight > 0)
        if (PGETFRAME getter = AVIStreamGetFrameOpen(stream, &wanted))
            return getter;
    return AVIStreamGetFrameOpen(stream, nullptr);
}

// The pixels of a packed DIB that is exactly what the frame pipeline writes (40-byte header,
// 32-bit BI_RGB, bottom-up, the target's size); nullptr for any other layout.
const uint8_t* targetLayoutBits(const void* packedDib, int width, int height) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, packedDib, sizeof header);
    if (header.biSize != sizeof header || header.biBitCount != 32 ||
        header.biCompression != BI_RGB || header.biClrUsed != 0 || header.biWidth != width ||
        header.biHeight != height)
        return nullptr;
    return static_cast<const uint8_t*>(packedDib) + sizeof header;
}

QString withFile(const char* message, const QString& path) {
    return QString::fromUtf8(message) + QLatin1Char('\r') + QStringLiteral("Arquivo: ") + path;
}

} // namespace

void TAviCapture::fitInto(TBitmap& frame, int width, int height) {
    if (frame.Width() == width && frame.Height() == height)
        return;
    QImage canvas(width, height, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    const QImage scaled =
        frame.Image().scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&canvas);
    painter.drawImage((width - scaled.width()) / 2, (height - scaled.height()) / 2, scaled);
    painter.end();
    frame.Assign(canvas);
}

bool TAviCapture::raiseFrameProgress(int max, int min, int value) {
    bool abort = false;
    if (OnExtractFramesProgress)
        OnExtractFramesProgress(max, min, value, this, abort);
    if (abort)
        m_cancelled = true;
    return abort;
}

bool TAviCapture::ExtractFrames(int first, int last, const QString& source, const QString& target,
                                AVICOMPRESSOPTIONS* options) {
    return runFramePipeline(FrameOperation::Extract, first, last, source, {}, target, 0, options);
}

bool TAviCapture::ExcludeFrames(int first, int last, const QString& source, const QString& target,
                                AVICOMPRESSOPTIONS* options) {
    return runFramePipeline(FrameOperation::Exclude, first, last, source, {}, target, 0, options);
}

bool TAviCapture::ConcatenateFrames(const QStringList& films, const QString& target, int total,
                                    AVICOMPRESSOPTIONS* options) {
    if (films.isEmpty())
        return false;
    return runFramePipeline(FrameOperation::Concatenate, 0, 0, QString(), films, target, total,
                            options);
}

namespace {

struct FilmEntry {
    QString path;
    int count = 0;
};

FilmEntry filmEntry(const QString& entry) {
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {entry, 0};
    bool ok = false;
    const int count = entry.mid(eq + 1).trimmed().toInt(&ok);
    return {entry.left(eq), ok ? count : 0};
}

} // namespace

bool TAviCapture::runFramePipeline(FrameOperation operation, int first, int last,
                                   const QString& sourcePath, const QStringList& films,
                                   const QString& target, int total, AVICOMPRESSOPTIONS* options) {
    const QString source =
        operation == FrameOperation::Concatenate ? filmEntry(films.first()).path : sourcePath;
    m_streamCopyRange.reset();
    PipelineHandles h;
    struct BufferRelease {
        TAviCapture* self;
        ~BufferRelease() { self->releaseDibBuffers(); }
    } bufferRelease{this};

    // 1. The source film.
    // Its open error is the operation's failure, which the caller shows.
    if (!openSource(source, h.sourceFile, h.sourceStream, false))
        return false;
    h.initialised = true; // openSource's AVIFileInit, balanced when the handles go

    // 2. Start and length of its video stream.
    const LONG start = AVIStreamStart(h.sourceStream);
    if (start == -1)
        throw qdx::Exception(withFile("Frame inicial do arquivo AVI inválido!", source));
    const LONG length = AVIStreamLength(h.sourceStream);
    if (length == -1)
        throw qdx::Exception(withFile("Número de frames do arquivo AVI inválido!", source));

    // 3. Its stream header, which the target takes over unchanged.
    AVISTREAMINFO header;
    if (AVIStreamInfo(h.sourceStream, &header, sizeof header) != AVIERR_OK)
        return fail(QStringLiteral("Não foi possível ler o cabeçalho do vídeo."), source);

    // 4, 5. A frame getter, and the format frame that sizes the DIB buffers.
    const QString undecodable = QStringLiteral("Não foi possível decodificar os quadros do filme.");
    h.getter = openGetter(h.sourceStream);
    if (!h.getter)
        return fail(undecodable, source);
    // A range without frames still gets the film's format: its frame is taken from inside the film.
    const LONG formatFrame =
        operation == FrameOperation::Concatenate
            ? 0
            : std::clamp<LONG>(first, start, std::max<LONG>(start, start + length - 1));
    std::unique_ptr<TBitmap> format;
    if (const void* dib = AVIStreamGetFrame(h.getter, formatFrame))
        format = bitmapOfPackedDib(dib);
    if (!format)
        return fail(undecodable, source);
    const int targetWidth = format->Width();
    const int targetHeight = format->Height();
    allocateDibBuffers(*format, format->PixelFormat());
    ReadDibBits(*format, nullptr, format->PixelFormat(), m_dibBits.data(), m_dibHeader.data());
    format.reset();

    // 6, 7. The target film and its video stream, written under a temporary name until complete:
    // the target may be the source itself.
    FilmTarget out(target);
    const UINT mode = operation == FrameOperation::Extract
                          ? (OF_CREATE | OF_WRITE)
                          : (OF_CREATE | OF_SHARE_EXCLUSIVE | OF_WRITE);
    // Finishing the target reports every write that failed; only a complete film replaces the
    // target. The reason of either failure is the system's, taken before the handles go.
    auto finishTarget = [&](FilmTarget& film, PipelineHandles& handles) {
        errno = 0;
        const bool finished = film.finish(handles.targetFile);
        if (!finished)
            failWithErrno(QStringLiteral("Não foi possível gravar o filme."), target);
        handles.releaseTarget();
        if (!finished)
            return false;
        errno = 0;
        return film.commit() ||
               failWithErrno(QStringLiteral("O filme gravado não pôde tomar o nome do destino."),
                             target);
    };
    if (AVIFileOpen(&h.targetFile, out.path(), mode) != AVIERR_OK)
        throw qdx::Exception(QStringLiteral("Falhou ao criar arquivo AVI."));
    if (AVIFileCreateStream(h.targetFile, &h.targetStream, &header) != AVIERR_OK)
        throw qdx::Exception(QStringLiteral("Falhou ao criar Stream de video."));

    // 8. The compressor dialog fills the caller's block, or a fresh one of our own.
    if (options) {
        h.options = options;
    } else {
        h.options = &h.ownOptions;
        h.ownsOptions = true;
    }
    AVICOMPRESSOPTIONS* chosen[] = {h.options};
    {
        // There is a source film here: its stored frames can be copied.
        const qdx::vfw::StreamCopyOffer offer;
        if (!AVISaveOptions(nullptr,
                            ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW, 1,
                            &h.targetStream, chosen)) {
            m_cancelled = true;
            return false;
        }
    }

    // Progress values of the first and last events and of each frame.
    int progressMax = 0;
    int progressMin = 0;
    switch (operation) {
    case FrameOperation::Extract:
        progressMax = last;
        progressMin = first;
        break;
    case FrameOperation::Exclude:
        progressMax = start + length - 1;
        progressMin = start;
        break;
    case FrameOperation::Concatenate:
        progressMax = total;
        progressMin = 0;
        break;
    }
    const int framingValue = operation == FrameOperation::Extract
                                 ? first
                                 : (operation == FrameOperation::Exclude ? start : 0);

    // Direct stream copy: the stored samples go to the target; nothing is compressed.
    if (qdx::vfw::isStreamCopy(h.options->fccHandler)) {
        if (!copyFrames(operation, first, last, h.sourceStream, h.getter, films, h.targetStream,
                        progressMax, progressMin, framingValue))
            return fail(QStringLiteral("Não foi possível copiar os quadros do filme."), source);
        return finishTarget(out, h);
    }

    // 9, 10. The compressed stream over the target, fed uncompressed DIBs (by the decoding
    // threads of the recompression pipeline below, beside which its encoder works; it opens
    // when its format is set).
    {
        const qdx::vfw::PipelineCoding coding;
        const QString noCompressor = QStringLiteral("O compressor escolhido não pôde ser aberto.");
        if (AVIMakeCompressedStream(&h.compressed, h.targetStream, h.options) != AVIERR_OK) {
            AVISaveOptionsFree(1, chosen);
            return fail(noCompressor, target);
        }
        if (AVIStreamSetFormat(h.compressed, 0, m_dibHeader.data(), LONG(m_dibHeader.size())) !=
            AVIERR_OK)
            return fail(noCompressor, target);
    }

    // 11. The first progress event.
    if (raiseFrameProgress(progressMax, progressMin, framingValue))
        return false;

    // 12. The visited frames. Returns false to stop the operation.
    auto writeFrame = [&](PGETFRAME getter, LONG index, LONG position, DWORD flags,
                          int progressValue) -> bool {
        const void* dib = AVIStreamGetFrame(getter, index);
        if (!dib)
            return fail(QStringLiteral("Não foi possível ler o quadro %1.").arg(index), source);
        if (const uint8_t* bits = targetLayoutBits(dib, targetWidth, targetHeight)) {
            // The getter's frame is already the 32-bit bottom-up DIB the target takes: it goes
            // to the compressor as it is, without the round trip through a bitmap.
            if (AVIStreamWrite(h.compressed, position, 1, bits, LONG(m_dibBits.size()), flags,
                               nullptr, nullptr) != AVIERR_OK)
                return fail(QStringLiteral("Não foi possível gravar o filme."), target);
            return !raiseFrameProgress(progressMax, progressMin, progressValue);
        }
        std::unique_ptr<TBitmap> frame = bitmapOfPackedDib(dib);
        if (frame) {
            fitInto(*frame, targetWidth, targetHeight);
            if (ReadDibBits(*frame, nullptr, frame->PixelFormat(), m_dibBits.data(),
                            m_dibHeader.data())) {
                if (AVIStreamWrite(h.compressed, position, 1, m_dibBits.data(),
                                   LONG(m_dibBits.size()), flags, nullptr, nullptr) != AVIERR_OK)
                    return fail(QStringLiteral("Não foi possível gravar o filme."), target);
            }
        }
        return !raiseFrameProgress(progressMax, progressMin, progressValue);
    };

    // Frames whose DIBs are already the target's layout are decoded and encoded on two threads
    // (in YUV when the compressor codes it; Motion JPEG into Motion JPEG transcoded from the
    // stored samples, without decoding); the progress events stay on this thread, one per
    // frame written, in order. Others (films of another size) go through bitmaps one by one.
    using PipelineFrame = qdx::vfw::RecompressPipeline::Frame;
    auto inTargetLayout = [&](PGETFRAME getter, LONG index) {
        const void* dib = AVIStreamGetFrame(getter, index);
        return dib && targetLayoutBits(dib, targetWidth, targetHeight);
    };
    auto writeFrames = [&](PGETFRAME getter, PAVISTREAM stream,
                           const std::vector<PipelineFrame>& frames) -> bool {
        if (frames.empty())
            return true;
        qdx::vfw::RecompressPipeline pipeline(getter, h.compressed, targetWidth, targetHeight,
                                              frames, stream);
        PipelineFrame written;
        while (pipeline.next(written))
            if (raiseFrameProgress(progressMax, progressMin, written.progress))
                return false; // the pipeline stops its workers as it goes
        // The pipeline writes on its own threads: their system errors are not this thread's.
        if (pipeline.failed())
            return fail(QStringLiteral("Não foi possível gravar o filme."), target);
        return true;
    };
    const bool pipelined = inTargetLayout(h.getter, formatFrame);

    switch (operation) {
    case FrameOperation::Extract: {
        std::vector<PipelineFrame> frames;
        for (int i = first; i <= last; ++i) {
            const DWORD flags = AVIStreamFindSample(h.sourceStream, i, FIND_PREV | FIND_KEY) == i
                                    ? AVIIF_KEYFRAME
                                    : 0;
            if (pipelined)
                frames.push_back({i, i - first, flags, i});
            else if (!writeFrame(h.getter, i, i - first, flags, i))
                return false;
        }
        if (!writeFrames(h.getter, h.sourceStream, frames))
            return false;
        break;
    }
    case FrameOperation::Exclude: {
        std::vector<PipelineFrame> frames;
        LONG written = 0;
        for (LONG i = start; i <= start + length - 1; ++i) {
            if (i >= first && i <= last)
                continue;
            if (pipelined)
                frames.push_back({i, written, AVIIF_KEYFRAME, int(i)});
            else if (!writeFrame(h.getter, i, written, AVIIF_KEYFRAME, i))
                return false;
            ++written;
        }
        if (!writeFrames(h.getter, h.sourceStream, frames))
            return false;
        break;
    }
    case FrameOperation::Concatenate: {
        LONG visited = 0;
        for (const QString& entryText : films) {
            const FilmEntry entry = filmEntry(entryText);
            PAVIFILE file = nullptr;
            const HRESULT hr = AVIFileOpen(&file, entry.path, OF_READ);
            if (hr != AVIERR_OK) {
                const QString text = openErrorText(hr);
                return fail(text.isEmpty() ? QStringLiteral("Não foi possível abrir o filme.")
                                           : text,
                            entry.path);
            }
            qdx::vfw::FileHandle fileHolder(file);
            PAVISTREAM stream = nullptr;
            if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK)
                return fail(QStringLiteral("O arquivo não tem vídeo."), entry.path);
            qdx::vfw::StreamHandle streamHolder(stream);
            qdx::vfw::GetterHandle getter(openGetter(stream));
            if (!getter)
                return fail(undecodable, entry.path);
            // This film's frame 0 sizes its DIB buffers; frames keep the target's size.
            const void* dib = AVIStreamGetFrame(getter.get(), 0);
            if (!dib)
                return fail(undecodable, entry.path);
            std::unique_ptr<TBitmap> filmFormat = bitmapOfPackedDib(dib);
            if (!filmFormat)
                return fail(undecodable, entry.path);
            fitInto(*filmFormat, targetWidth, targetHeight);
            allocateDibBuffers(*filmFormat, filmFormat->PixelFormat());
            ReadDibBits(*filmFormat, nullptr, filmFormat->PixelFormat(), m_dibBits.data(),
                        m_dibHeader.data());
            if (inTargetLayout(getter.get(), 0)) {
                std::vector<PipelineFrame> frames;
                for (int i = 0; i < entry.count; ++i, ++visited)
                    frames.push_back({i, visited, AVIIF_KEYFRAME, int(visited)});
                if (!writeFrames(getter.get(), stream, frames))
                    return false;
                continue;
            }
            for (int i = 0; i < entry.count; ++i) {
                if (!writeFrame(getter.get(), i, visited, AVIIF_KEYFRAME, visited))
                    return false;
                ++visited;
            }
        }
        break;
    }
    }

    // 13. The last progress event; the handles go with `h`.
    raiseFrameProgress(progressMax, progressMin, framingValue);
    // Releasing the compressed stream writes the frames its encoder still holds.
    AVIStreamRelease(h.compressed);
    h.compressed = nullptr;
    return finishTarget(out, h);
}

namespace {

// Raises the name of an AVI error code; other codes raise nothing.
void raiseIfAviError(HRESULT code) {
    const QString name = aviErrorName(code);
    if (!name.isEmpty())
        throw qdx::Exception(name);
}

// Frames per second of a film from its file information.
double framesPerSecond(const AVIFILEINFOA& info) {
    if (info.dwScale == 0 || info.dwRate == 0)
        return 0;
    return double(info.dwRate) / double(info.dwScale);
}

LONG sampleAtFrame(PAVISTREAM audio, int frame, double fps) {
    return AVIStreamTimeToSample(audio, LONG(std::lround(frame / fps * 1000.0)));
}

// Copies samples [from, to) of `source` to `target` from position `writeAt`, one second a chunk.
// Only the bytes of the samples actually read are written. Returns the next write position, or
// -1 when a write fails.
LONG copySamples(PAVISTREAM source, PAVISTREAM target, LONG from, LONG to, LONG chunk,
                 LONG writeAt) {
    std::vector<uint8_t> buffer;
    for (LONG position = from; position < to;) {
        const LONG n = std::min<LONG>(chunk, to - position);
        LONG bytesNeeded = 0;
        LONG samplesAvailable = 0;
        raiseIfAviError(
            AVIStreamRead(source, position, n, nullptr, 0, &bytesNeeded, &samplesAvailable));
        if (bytesNeeded <= 0 || samplesAvailable <= 0)
            break; // nothing more to read
        buffer.resize(size_t(bytesNeeded));
        LONG bytesRead = 0;
        LONG samplesRead = 0;
        raiseIfAviError(AVIStreamRead(source, position, n, buffer.data(), bytesNeeded, &bytesRead,
                                      &samplesRead));
        if (samplesRead <= 0)
            break;
        if (AVIStreamWrite(target, writeAt, samplesRead, buffer.data(), bytesRead, AVIIF_KEYFRAME,
                           nullptr, nullptr) != AVIERR_OK)
            return -1;
        writeAt += samplesRead;
        position += samplesRead;
    }
    return writeAt;
}

// Opens a file for reading and takes its first stream of a type; false when either fails.
bool openStream(const QString& path, DWORD type, qdx::vfw::FileHandle& file,
                qdx::vfw::StreamHandle& stream) {
    PAVIFILE f = nullptr;
    if (AVIFileOpen(&f, path, OF_READ) != AVIERR_OK)
        return false;
    file.reset(f);
    PAVISTREAM s = nullptr;
    if (AVIFileGetStream(f, &s, type, 0) != AVIERR_OK)
        return false;
    stream.reset(s);
    return true;
}

// The source's first audio stream with its header and format, and the film's frame rate.
struct SoundSource {
    qdx::vfw::FileHandle file;
    qdx::vfw::StreamHandle stream;
    AVISTREAMINFO header;
    std::vector<uint8_t> format;
    double fps = 0;
    LONG frames = 0; // of the film's video

    bool open(const QString& path) {
        // Opened for reading only: a read-only film's sound can be copied.
        if (!openStream(path, streamtypeAUDIO, file, stream))
            return false;
        AVIFILEINFOA info;
        if (AVIFileInfoA(file.get(), &info, sizeof info) != AVIERR_OK)
            return false;
        fps = framesPerSecond(info);
        frames = LONG(info.dwLength);
        PAVISTREAM s = stream.get();
        if (AVIStreamInfo(s, &header, sizeof header) != AVIERR_OK)
            return false;
        LONG size = 0;
        if (AVIStreamReadFormat(s, 0, nullptr, &size) != AVIERR_OK || size <= 0)
            return false;
        format.resize(size_t(size));
        if (AVIStreamReadFormat(s, 0, format.data(), &size) != AVIERR_OK)
            return false;
        return fps > 0;
    }

    // One second of samples: the format's samples per second (blocks for block formats).
    LONG chunk() const {
        if (format.size() >= 8) {
            DWORD perSecond = 0;
            std::memcpy(&perSecond, format.data() + 4, 4);
            if (perSecond > 0)
                return LONG(perSecond);
        }
        return header.dwScale ? LONG(std::max<DWORD>(1, header.dwRate / header.dwScale)) : 1;
    }
};

} // namespace

namespace {

// The samples that play during frames first..last: from the start of frame `first` to the start
// of the frame after `last`, and to the end of the sound when `last` is the film's last frame.
// The last frame's sound is therefore included, neighbouring ranges meet without a gap, and the
// samples of any range and of the rest of the film together are exactly the film's samples.
// Empty when last < first.
struct SampleRange {
    LONG from = 0;
    LONG to = 0;
};

SampleRange samplesOfFrames(const SoundSource& sound, int first, int last) {
    if (last < first)
        return {};
    PAVISTREAM audio = sound.stream.get();
    const LONG end = AVIStreamStart(audio) + AVIStreamLength(audio);
    const LONG from = first <= 0 ? AVIStreamStart(audio) : sampleAtFrame(audio, first, sound.fps);
    const LONG to = last >= sound.frames - 1 ? end : sampleAtFrame(audio, last + 1, sound.fps);
    return {std::min(from, end), std::min(std::max(from, to), end)};
}

// Silence in a sound format: PCM (integer or float) only; other formats have no silence that can
// be written as bytes.
struct Silence {
    LONG perSecond = 0; // blocks per second
    size_t blockBytes = 0;
    uint8_t byte = 0; // 8-bit PCM is unsigned: its silence is 0x80
    bool valid() const { return perSecond > 0 && blockBytes > 0; }
};

Silence silenceOf(const std::vector<uint8_t>& format) {
    constexpr uint16_t kPcm = 1;
    constexpr uint16_t kFloat = 3;
    constexpr uint16_t kExtensible = 0xFFFE;
    if (format.size() < 16)
        return {};
    uint16_t tag = 0;
    uint32_t perSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    std::memcpy(&tag, format.data(), 2);
    std::memcpy(&perSecond, format.data() + 4, 4);
    std::memcpy(&blockAlign, format.data() + 12, 2);
    std::memcpy(&bits, format.data() + 14, 2);
    if (format.size() >= 26 && tag == kExtensible)
        std::memcpy(&tag, format.data() + 24, 2); // the sub-format's first two bytes
    if ((tag != kPcm && tag != kFloat) || perSecond == 0 || perSecond > 1000000 || blockAlign == 0)
        return {};
    return {LONG(perSecond), blockAlign, uint8_t(tag == kPcm && bits == 8 ? 0x80 : 0)};
}

// Frames per second of a film's video; 0 when it cannot be read.
double filmRate(const QString& path) {
    qdx::vfw::FileHandle file;
    qdx::vfw::StreamHandle stream;
    if (!openStream(path, streamtypeVIDEO, file, stream))
        return 0;
    AVIFILEINFOA info;
    if (AVIFileInfoA(file.get(), &info, sizeof info) != AVIERR_OK)
        return 0;
    return framesPerSecond(info);
}

const QString kSoundNotCreated = QStringLiteral("Não foi possível criar o arquivo de som.");
const QString kSoundNotWritten = QStringLiteral("Não foi possível gravar o som.");

// A sound file being written: one audio stream with a source's header and format, put in place of
// its target only when complete.
struct SoundTarget {
    std::unique_ptr<FilmTarget> out;
    qdx::vfw::FileHandle file;
    qdx::vfw::StreamHandle stream;
    LONG writeAt = 0;

    bool create(const QString& target, const SoundSource& sound) {
        out = std::make_unique<FilmTarget>(target);
        PAVIFILE f = nullptr;
        if (AVIFileOpen(&f, out->path(), OF_CREATE | OF_WRITE) != AVIERR_OK)
            return false;
        file.reset(f);
        PAVISTREAM s = nullptr;
        if (AVIFileCreateStream(f, &s, &sound.header) != AVIERR_OK)
            return false;
        stream.reset(s);
        return AVIStreamSetFormat(s, 0, sound.format.data(), LONG(sound.format.size())) ==
               AVIERR_OK;
    }
    bool created() const { return bool(stream); }
    bool append(const SoundSource& sound, LONG from, LONG to) {
        const LONG next =
            copySamples(sound.stream.get(), stream.get(), from, to, sound.chunk(), writeAt);
        if (next < 0)
            return false;
        writeAt = next;
        return true;
    }
    // `blocks` blocks of silence.
    bool appendSilence(const Silence& silence, LONG blocks) {
        const std::vector<uint8_t> second(size_t(silence.perSecond) * silence.blockBytes,
                                          silence.byte);
        for (LONG written = 0; written < blocks;) {
            const LONG n = std::min<LONG>(silence.perSecond, blocks - written);
            if (AVIStreamWrite(stream.get(), writeAt, n, second.data(),
                               LONG(size_t(n) * silence.blockBytes), AVIIF_KEYFRAME, nullptr,
                               nullptr) != AVIERR_OK)
                return false;
            writeAt += n;
            written += n;
        }
        return true;
    }
    bool commit() {
        const bool finished = out && out->finish(file.get());
        stream.reset();
        file.reset();
        return finished && out->commit();
    }
};

} // namespace

bool TAviCapture::ExtractSound(int first, int last, const QString& source, const QString& target,
                               int append) {
    // Appending continues a target kept open by ConcatenateSound; on its own, a call always
    // writes a new target.
    Q_UNUSED(append);
    qdx::vfw::LibraryScope library;
    qdx::vfw::LibraryScope library2;
    try {
        SoundSource sound;
        if (!sound.open(source))
            return fail(QStringLiteral("O filme não tem som."), source);
        SoundTarget out;
        if (!out.create(target, sound))
            return fail(kSoundNotCreated, target);
        const SampleRange range = samplesOfFrames(sound, first, last);
        if (!out.append(sound, range.from, range.to))
            return fail(kSoundNotWritten, target);
        errno = 0;
        return out.commit() || failWithErrno(kSoundNotWritten, target);
    } catch (...) {
        return fail(kSoundNotWritten, target);
    }
}

bool TAviCapture::ExcludeSound(int first, int last, const QString& source, const QString& target) {
    qdx::vfw::LibraryScope library;
    qdx::vfw::LibraryScope library2;
    try {
        SoundSource sound;
        if (!sound.open(source))
            return fail(QStringLiteral("O filme não tem som."), source);
        SoundTarget out;
        if (!out.create(target, sound))
            return fail(kSoundNotCreated, target);
        PAVISTREAM audio = sound.stream.get();
        const LONG begin =
            AVIStreamTimeToSample(audio, AVIStreamSampleToTime(audio, AVIStreamStart(audio)));
        const LONG end = AVIStreamStart(audio) + AVIStreamLength(audio);
        // Everything but the samples that play during frames first..last; an empty range
        // (last < first) removes nothing.
        const SampleRange removed = samplesOfFrames(sound, first, last);
        const bool copied = removed.to <= removed.from
                                ? out.append(sound, begin, end)
                                : out.append(sound, begin, std::min(end, removed.from)) &&
                                      out.append(sound, std::max(begin, removed.to), end);
        if (!copied)
            return fail(kSoundNotWritten, target);
        errno = 0;
        return out.commit() || failWithErrno(kSoundNotWritten, target);
    } catch (...) {
        return fail(kSoundNotWritten, target);
    }
}

bool TAviCapture::ConcatenateSound(const QStringList& films, const QString& target, int total) {
    qdx::vfw::LibraryScope library;
    try {
        // The first film with sound gives the joined sound its format. A film without sound adds
        // silence as long as its frames play in the joined film (at the first film's rate), so
        // that the sound of every later film stays with its frames.
        std::unique_ptr<SoundSource> format;
        for (const QString& film : films) {
            format = std::make_unique<SoundSource>();
            if (format->open(filmEntry(film).path))
                break;
            format.reset();
        }
        if (!format)
            return fail(QStringLiteral("Nenhum dos filmes tem som."), target);
        const double joinedFps = films.isEmpty() ? 0 : filmRate(filmEntry(films.first()).path);
        const Silence silence = silenceOf(format->format);
        SoundTarget out;
        if (!out.create(target, *format))
            return fail(kSoundNotCreated, target);
        for (int index = 0; index < films.size(); ++index) {
            const FilmEntry entry = filmEntry(films[index]);
            SoundSource sound;
            if (sound.open(entry.path)) {
                const SampleRange range = samplesOfFrames(sound, 0, entry.count - 1);
                if (!out.append(sound, range.from, range.to))
                    return fail(kSoundNotWritten, target);
            } else if (entry.count > 0) {
                if (!silence.valid() || joinedFps <= 0)
                    return fail(QStringLiteral("O som do filme não pode ser completado com "
                                               "silêncio no lugar de um filme sem som."),
                                entry.path);
                const LONG blocks = LONG(std::llround(entry.count / joinedFps * silence.perSecond));
                if (!out.appendSilence(silence, blocks))
                    return fail(kSoundNotWritten, target);
            }
            if (raiseFrameProgress(total, 0, index))
                return false;
        }
        raiseFrameProgress(total, 0, 0);
        errno = 0;
        return out.commit() || failWithErrno(kSoundNotWritten, target);
    } catch (...) {
        return fail(kSoundNotWritten, target);
    }
}

namespace {

BOOL mergeCallback(int percent) {
    TAviCapture* self = MergeReference;
    if (!self || !self->OnProgress)
        return 0;
    bool abort = false;
    self->OnProgress(percent, self, abort);
    return abort ? 1 : 0;
}

} // namespace

void TAviCapture::MergeStreams(const AVICOMPRESSOPTIONS* options, const QString& videoFile,
                               const QString& soundFile, const QString& target) {
    mergeStreams(options, videoFile, soundFile, target);
}

bool TAviCapture::mergeStreams(const AVICOMPRESSOPTIONS* options, const QString& videoFile,
                               const QString& soundFile, const QString& target) {
    // A target that may not be replaced is said, not merely failed.
    FilmTarget::requireReplaceable(target);
    qdx::vfw::LibraryScope library;
    try {
        qdx::vfw::FileHandle videoHolder;
        qdx::vfw::StreamHandle videoStream;
        qdx::vfw::FileHandle soundHolder;
        qdx::vfw::StreamHandle audioStream;
        if (!openStream(videoFile, streamtypeVIDEO, videoHolder, videoStream))
            return fail(QStringLiteral("Não foi possível ler o vídeo gravado."), videoFile);
        if (!openStream(soundFile, streamtypeAUDIO, soundHolder, audioStream))
            return fail(QStringLiteral("Não foi possível ler o som gravado."), soundFile);
        PAVISTREAM video = videoStream.get();
        PAVISTREAM audio = audioStream.get();

        // A copy of the caller's block (its format and parameters stay the caller's), or the
        // compressor dialog's choice.
        AVICOMPRESSOPTIONS block;
        bool ownBlock = false;
        if (options) {
            block = *options;
        } else {
            AVICOMPRESSOPTIONS* list[] = {&block};
            if (!AVISaveOptions(nullptr, 0, 1, &video, list)) {
                m_cancelled = true;
                return false;
            }
            ownBlock = true;
        }
        struct FreeBlock {
            AVICOMPRESSOPTIONS& block;
            bool owned;
            ~FreeBlock() {
                if (owned) {
                    AVICOMPRESSOPTIONS* list[] = {&block};
                    AVISaveOptionsFree(1, list);
                }
            }
        } freeBlock{block, ownBlock};

        // A video file already written with this compressor is copied as it is: compressing it a
        // second time would only lose quality.
        AVISTREAMINFO videoInfo;
        AVIStreamInfo(video, &videoInfo, sizeof videoInfo);
        auto uncompressed = [](DWORD fcc) {
            return fcc == 0 || fcc == comptypeDIB;
        };
        const bool sameCompressor =
            qdx::vfw::isStreamCopy(block.fccHandler) || videoInfo.fccHandler == block.fccHandler ||
            (uncompressed(videoInfo.fccHandler) && uncompressed(block.fccHandler));
        qdx::vfw::StreamHandle compressed;
        if (!sameCompressor) {
            PAVISTREAM c = nullptr;
            if (AVIMakeCompressedStream(&c, video, &block) != AVIERR_OK)
                return fail(QStringLiteral("O compressor escolhido não pôde ser aberto."), target);
            compressed.reset(c);
        }

        MergeReference = this;
        PAVISTREAM streams[] = {compressed ? compressed.get() : video, audio};
        AVICOMPRESSOPTIONS* saveOptions[] = {&block, nullptr};
        // The layer writes the target under a temporary name and renames it into place only
        // when it is complete: a failed merge keeps the file that was there before.
        const HRESULT saved = AVISaveV(target, nullptr, &mergeCallback, 2, streams, saveOptions);
        MergeReference = nullptr;
        if (saved == AVIERR_USERABORT)
            m_cancelled = true;
        else if (saved != AVIERR_OK)
            return fail(QStringLiteral("Não foi possível gravar o filme (%1).")
                            .arg(aviErrorName(saved).isEmpty() ? QString::number(saved, 16)
                                                               : aviErrorName(saved)),
                        target);
        return saved == AVIERR_OK;
    } catch (...) {
        MergeReference = nullptr;
        return fail(QStringLiteral("Não foi possível gravar o filme."), target);
    }
}

bool TAviCapture::CompressFile(const QString& source, const QString& target) {
    FilmTarget::requireReplaceable(target);
    int first = 0;
    int last = 0;
    if (!GetFrameRange(source, first, last))
        return false;
    // A film with sound keeps it: the picture goes through the compressor into a work film, then
    // picture and the source's own sound are saved into the target. The target may be the source
    // itself: both steps replace it only when they have written it whole.
    if (!HasSound(source))
        return ExtractFrames(first, last, source, target);
    qdx::WorkFileLock temporary = qdx::WorkFileLock::create(QStringLiteral(".avi"));
    AVICOMPRESSOPTIONS options;
    AVICOMPRESSOPTIONS* list[] = {&options};
    struct Cleanup {
        AVICOMPRESSOPTIONS** list;
        qdx::WorkFileLock& file;
        ~Cleanup() {
            AVISaveOptionsFree(1, list);
            file.remove();
        }
    } cleanup{list, temporary};
    if (!ExtractFrames(first, last, source, temporary.path(), &options))
        return false;
    return mergeStreams(&options, temporary.path(), source, target);
}
