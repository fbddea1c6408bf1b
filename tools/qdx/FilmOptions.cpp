#include "tools/qdx/FilmOptions.h"

#include "platform/codec/CodecThreads.h"

#include "platform/vfw/StreamCopy.h"

#include <cstdio>
#include <unistd.h>

namespace qdx::cli {

QStringList FilmOptions::valueOptions() {
    return {QStringLiteral("--codec"), QStringLiteral("--quality"), QStringLiteral("--keyframe"),
            QStringLiteral("--datarate"), QStringLiteral("--threads")};
}

QStringList FilmOptions::flags() {
    return {QStringLiteral("--yes"), QStringLiteral("--sound")};
}

bool FilmOptions::parse(const CommandLine& line) {
    m_sound = line.has(QStringLiteral("--sound"));
    m_yes = line.has(QStringLiteral("--yes"));
    // Uncompressed unless a compressor is named.
    QString codec = line.value(QStringLiteral("--codec"), QStringLiteral("DIB "));
    if (codec.size() < 4)
        codec = codec.leftJustified(4, QLatin1Char(' '));
    const QByteArray fcc = codec.toLatin1();
    // "copy": direct stream copy, the film's stored frames as they are.
    const qdx::vfw::Compressor* compressor =
        codec.trimmed().compare(QStringLiteral("copy"), Qt::CaseInsensitive) == 0
            ? &qdx::vfw::streamCopyCompressor()
        : fcc.size() == 4 ? qdx::vfw::findCompressor(mmioFOURCC(fcc[0], fcc[1], fcc[2], fcc[3]))
                          : nullptr;
    if (!compressor) {
        QStringList known;
        for (const auto& c : qdx::vfw::compressors()) {
            QString name;
            for (int i = 0; i < 4; ++i)
                name += QLatin1Char(char((c.fourcc >> (8 * i)) & 0xFF));
            known.append(name.trimmed().isEmpty() ? QStringLiteral("DIB") : name.trimmed());
        }
        known.append(QStringLiteral("copy"));
        m_error = QStringLiteral("unknown compressor \"%1\" (see qdx codecs: %2)")
                      .arg(codec.trimmed(), known.join(QStringLiteral(", ")));
        return false;
    }
    m_options = qdx::vfw::defaultOptions(*compressor);
    auto number = [&](const char* option, int low, int high, int& value) {
        const QString text = line.value(QString::fromLatin1(option));
        if (text.isEmpty())
            return true;
        bool ok = false;
        value = text.toInt(&ok);
        if (!ok || value < low || value > high) {
            m_error = QStringLiteral("%1 takes a number from %2 to %3")
                          .arg(QString::fromLatin1(option))
                          .arg(low)
                          .arg(high);
            return false;
        }
        return true;
    };
    int quality = -1;
    int keyFrames = -1;
    int dataRate = -1;
    int threads = 0;
    if (!number("--quality", 0, 100, quality) || !number("--keyframe", 1, 100000, keyFrames) ||
        !number("--datarate", 1, 10000000, dataRate) || !number("--threads", 0, 64, threads))
        return false;
    qdx::vfw::setCodecThreads(threads);
    if (quality >= 0)
        m_options.dwQuality = DWORD(quality) * 100;
    if (keyFrames > 0) {
        m_options.dwKeyFrameEvery = DWORD(keyFrames);
        m_options.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    }
    if (dataRate > 0) {
        m_options.dwBytesPerSecond = DWORD(dataRate) * 1000 / 8;
        m_options.dwFlags |= AVICOMPRESSF_DATARATE;
    }
    return true;
}

FilmSession::FilmSession(const FilmOptions& options)
    : m_chooser(options.compressor()),
      m_previousChooser(qdx::vfw::setCompressorChooser(&m_chooser)), m_prompts(options.yes()),
      m_previousPrompts(setPrompts(&m_prompts)), m_terminal(::isatty(STDERR_FILENO) != 0) {
    m_engine.OnExtractFramesProgress = [this](int max, int min, int value, TAviCapture*, bool&) {
        const int span = max - min;
        progress("frames", span > 0 ? int(int64_t(value - min) * 100 / span) : 100);
    };
    m_engine.OnProgress = [this](int percent, TAviCapture*, bool&) {
        progress("saving", percent);
    };
}

FilmSession::~FilmSession() {
    if (m_terminal && m_lastPercent >= 0)
        std::fprintf(stderr, "\n");
    setPrompts(m_previousPrompts);
    qdx::vfw::setCompressorChooser(m_previousChooser);
}

void FilmSession::progress(const char* what, int percent) {
    if (!m_terminal || percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\r%s %3d%%", what, std::clamp(percent, 0, 100));
    std::fflush(stderr);
}

} // namespace qdx::cli
