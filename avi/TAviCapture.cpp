// TAviCapture: construction, the frame reader, film information and the DIB routines.

#include "avi/TAviCapture.h"

#include "avi/TThreadCaptura.h"
#include "platform/core/Palettes.h"

#include "platform/core/AppFolder.h"
#include "platform/core/Dib.h"
#include "platform/core/Exception.h"
#include "platform/core/Prompts.h"
#include "platform/core/WorkFileLock.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

TAviCapture* MergeReference = nullptr;

TAviCapture::TAviCapture(QObject* owner) : QObject(owner) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            Height = screen->geometry().height() / 10;
            Width = screen->geometry().width() / 10;
        }
    }
    m_recordingTempFile = qdx::applicationFolder() + NewTempName() + QStringLiteral(".avi");
}

TAviCapture::~TAviCapture() {
    StopRecording();
    CloseFilm();
}

QString TAviCapture::openErrorText(HRESULT code) {
    switch (code) {
    case AVIERR_BADFORMAT:
        return QStringLiteral("The file couldn't be read");
    case AVIERR_MEMORY:
        return QStringLiteral("The file could not be opened because of insufficient memory.");
    case AVIERR_FILEREAD:
        return QStringLiteral("A disk error occurred while reading the file.");
    case AVIERR_FILEOPEN:
        return QStringLiteral("A disk error occurred while opening the file.");
    default:
        return QString();
    }
}

void TAviCapture::ShowError(const QString& text) {
    qdx::prompts().error(qdx::applicationTitle(), text);
}

bool TAviCapture::AskYesNo(const QString& text) {
    return qdx::prompts().question(qdx::applicationTitle(), text);
}

void TAviCapture::beginOperation() {
    m_cancelled = false;
    m_failure.clear();
}

bool TAviCapture::fail(const QString& message, const QString& path) {
    if (m_failure.isEmpty())
        m_failure = message + QLatin1Char('\r') + QStringLiteral("Arquivo: ") + path;
    return false;
}

bool TAviCapture::failWithErrno(const QString& message, const QString& path) {
    const int code = errno;
    return fail(code ? message + QStringLiteral(" (") +
                           QString::fromLocal8Bit(std::strerror(code)) + QLatin1Char(')')
                     : message,
                path);
}

FilmOutcome TAviCapture::outcomeOf(bool written, const QString& target) const {
    if (written)
        return {};
    if (m_cancelled)
        return {FilmOutcome::Cancelled, QString()};
    if (!m_failure.isEmpty())
        return {FilmOutcome::Failed, m_failure};
    return {FilmOutcome::Failed, QStringLiteral("O filme não foi gravado.") + QLatin1Char('\r') +
                                     QStringLiteral("Arquivo: ") + target};
}

std::optional<std::pair<quint64, quint64>> TAviCapture::FileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return std::pair<quint64, quint64>(quint64(st.st_dev), quint64(st.st_ino));
}

bool TAviCapture::SameFile(const QString& a, const QString& b) {
    const auto first = FileIdentity(a);
    return first && first == FileIdentity(b);
}

bool TAviCapture::openSource(const QString& fileName, PAVIFILE& file, PAVISTREAM& stream,
                             bool showErrors) {
    file = nullptr;
    stream = nullptr;
    AVIFileInit();
    const HRESULT hr = AVIFileOpen(&file, fileName, OF_READ);
    if (hr != AVIERR_OK) {
        AVIFileExit();
        const QString text = openErrorText(hr);
        if (showErrors)
            ShowError(text);
        return fail(text.isEmpty() ? QStringLiteral("Não foi possível abrir o filme.") : text,
                    fileName);
    }
    AVIFILEINFOA info;
    if (AVIFileInfoA(file, &info, sizeof info) != AVIERR_OK ||
        AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK) {
        AVIFileRelease(file);
        file = nullptr;
        stream = nullptr;
        AVIFileExit();
        return fail(QStringLiteral("O arquivo não tem vídeo."), fileName);
    }
    return true;
}

bool TAviCapture::OpenFilm(const QString& fileName) {
    CloseFilm();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    if (!openSource(fileName, file, stream))
        return false;
    PGETFRAME getter = AVIStreamGetFrameOpen(stream, nullptr);
    if (!getter) {
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        AVIFileExit();
        return false;
    }
    m_readerFile = file;
    m_readerStream = stream;
    m_readerGetter = getter;
    return true;
}

std::unique_ptr<TBitmap> TAviCapture::bitmapOfPackedDib(const void* packedDib) {
    const auto* header = static_cast<const BITMAPINFOHEADER*>(packedDib);
    // The getter's buffer holds exactly one packed DIB: its size follows from the header.
    const int64_t stride = qdx::dibStride(header->biWidth, header->biBitCount);
    const int64_t rows = header->biHeight < 0 ? -int64_t(header->biHeight) : header->biHeight;
    const size_t colours = size_t(qdx::dibColourCount(*header));
    size_t masks = 0;
    if (header->biSize < 52 && header->biCompression == BI_BITFIELDS)
        masks = 12;
    else if (header->biSize < 56 && header->biCompression == BI_ALPHABITFIELDS)
        masks = 16;
    if (stride < 0)
        return nullptr;
    const size_t size = header->biSize + masks + colours * 4 + size_t(stride) * size_t(rows);
    QString error;
    const TBitmap frame =
        qdx::decodePackedDib({static_cast<const uint8_t*>(packedDib), size}, &error);
    if (frame.Empty())
        return nullptr;
    // A frame becomes a display-compatible bitmap: 32-bit pixels, depth pfDevice.
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetHeight(frame.Height());
    bitmap->SetWidth(frame.Width());
    bitmap->Assign(frame.Image());
    return bitmap;
}

std::unique_ptr<TBitmap> TAviCapture::GetFrame(int index) {
    if (!m_readerGetter)
        return nullptr;
    const void* dib = AVIStreamGetFrame(m_readerGetter, index);
    if (!dib) {
        CloseFilm();
        return nullptr;
    }
    return bitmapOfPackedDib(dib);
}

void TAviCapture::CloseFilm() {
    if (!m_readerGetter)
        return;
    try {
        AVIStreamGetFrameClose(m_readerGetter);
        if (m_readerStream)
            AVIStreamRelease(m_readerStream);
        if (m_readerFile)
            AVIFileRelease(m_readerFile);
    } catch (...) {
    }
    m_readerGetter = nullptr;
    m_readerStream = nullptr;
    m_readerFile = nullptr;
    AVIFileExit();
}

bool TAviCapture::ReadFileInfo(const QString& fileName) {
    qdx::vfw::LibraryScope library;
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, fileName, OF_READ) != AVIERR_OK)
        return false; // "Falha ao abir arquivo AVI.": raised and caught here, nothing shown
    AVIFILEINFOW info;
    const bool ok = AVIFileInfoW(file, &info, sizeof info) == AVIERR_OK;
    if (ok) {
        Frames = int(info.dwLength);
        WidthResolution = int(info.dwWidth);
        HeightResolution = int(info.dwHeight);
        FileType = QString::fromUtf16(info.szFileType);
    }
    AVIFileRelease(file);
    return ok;
}

bool TAviCapture::GetFrameRange(const QString& fileName, int& firstFrame, int& lastFrame) {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    if (!openSource(fileName, file, stream))
        return false;
    firstFrame = AVIStreamStart(stream);
    lastFrame = firstFrame + AVIStreamLength(stream) - 1;
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    AVIFileExit();
    return true;
}

bool TAviCapture::HasSound(const QString& fileName) {
    // The film is opened for reading only: a read-only film with sound has sound.
    qdx::vfw::LibraryScope library;
    try {
        PAVIFILE file = nullptr;
        if (AVIFileOpen(&file, fileName, OF_READ) != AVIERR_OK)
            return false;
        qdx::vfw::FileHandle fileHolder(file);
        AVIFILEINFOA info;
        if (AVIFileInfoA(file, &info, sizeof info) != AVIERR_OK)
            return false;
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, streamtypeAUDIO, 0) != AVIERR_OK)
            return false;
        AVIStreamRelease(stream);
        return true;
    } catch (...) {
        return false;
    }
}

int TAviCapture::RowBytes(int width, int bitsPerPixel, int alignment) {
    if (alignment <= 0)
        return 0;
    const int64_t bits = int64_t(width) * bitsPerPixel;
    return int(((bits + alignment - 1) / alignment) * alignment / 8);
}

bool TAviCapture::FillDibHeader(const TBitmap& bitmap, BITMAPINFOHEADER& header,
                                TPixelFormat pixelFormat) {
    if (bitmap.Empty())
        throw qdx::Exception(QStringLiteral("Invalid bitmap"));
    header = BITMAPINFOHEADER();
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = bitmap.Width();
    header.biHeight = bitmap.Height(); // bottom-up rows
    if (pixelFormat == pfCustom)
        throw qdx::Exception(QStringLiteral("Formato de pixel inválido."));
    header.biBitCount = uint16_t(bitsPerPixel(pixelFormat));
    header.biPlanes = 1;
    header.biCompression = BI_RGB;
    header.biSizeImage = uint32_t(RowBytes(header.biWidth, header.biBitCount, 32)) *
                         uint32_t(std::abs(header.biHeight));
    return true;
}

void TAviCapture::MeasureDib(const TBitmap& bitmap, TPixelFormat pixelFormat, int& headerSize,
                             int& imageSize) {
    BITMAPINFOHEADER header;
    FillDibHeader(bitmap, header, pixelFormat);
    if (header.biBitCount <= 8)
        headerSize = int(sizeof(BITMAPINFOHEADER)) + 4 * (1 << header.biBitCount);
    else
        headerSize = int(sizeof(BITMAPINFOHEADER));
    if (header.biCompression & BI_BITFIELDS)
        headerSize += 12;
    imageSize = int(header.biSizeImage);
}

bool TAviCapture::ReadDibBits(const TBitmap& bitmap, const QList<QRgb>* palette,
                              TPixelFormat pixelFormat, uint8_t* bits, uint8_t* header) {
    BITMAPINFOHEADER info;
    FillDibHeader(bitmap, info, pixelFormat);
    // With a palette given, pictures of up to 8 bits are reduced to its colours.
    QImage picture = bitmap.Image();
    if (palette && info.biBitCount <= 8 && !palette->isEmpty() &&
        palette->size() <= (1 << info.biBitCount) && picture.colorTable() != *palette)
        picture = qdx::toIndexed(picture, *palette);
    const qdx::DibLayout layout = qdx::dibLayoutOf(picture, info.biBitCount);
    if (layout.header.biSizeImage != info.biSizeImage)
        return false;
    std::memcpy(header, &info, sizeof info);
    if (!layout.colours.empty())
        std::memcpy(header + sizeof info, layout.colours.data(), layout.colours.size() * 4);
    qdx::writeDibBits(picture, layout, bits);
    return info.biHeight != 0;
}

void TAviCapture::allocateDibBuffers(const TBitmap& bitmap, TPixelFormat pixelFormat) {
    int headerSize = 0;
    int imageSize = 0;
    MeasureDib(bitmap, pixelFormat, headerSize, imageSize);
    m_dibHeader.assign(size_t(headerSize), 0);
    m_dibBits.assign(size_t(imageSize), 0);
}

void TAviCapture::releaseDibBuffers() {
    m_dibHeader = {};
    m_dibBits = {};
}

QString TAviCapture::NewTempName() {
    return qdx::WorkFileLock::newName();
}
