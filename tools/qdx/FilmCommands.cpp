// The film verbs: information, one frame as a picture, and the editing operations of the film
// windows (copy, remove, split, join, compress), all through the engine the windows use.

#include "tools/qdx/Commands.h"
#include "tools/qdx/FilmOptions.h"

#include "avi/TAviCapture.h"
#include "platform/core/Exception.h"
#include "shared/ArquivosImagem.h"

#include <QFileInfo>

#include <cstdio>
#include <new>

namespace qdx::cli {

namespace {

QString fourccText(DWORD fcc) {
    if (fcc == 0)
        return QStringLiteral("DIB ");
    QString text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((fcc >> (8 * i)) & 0xFF);
        text += (c >= 32 && c < 127) ? QLatin1Char(c) : QLatin1Char('?');
    }
    return text;
}

bool parseFrame(const QString& text, int& value) {
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= 0;
}

// Runs an engine operation, turning its exceptions into messages. Returns kFailure when it threw.
template <typename F>
int guarded(F&& operation) {
    try {
        return operation();
    } catch (const qdx::Exception& e) {
        printError(e.Message());
    } catch (const std::bad_alloc&) {
        printError(QStringLiteral("not enough memory"));
    } catch (const std::exception& e) {
        printError(QString::fromLocal8Bit(e.what()));
    }
    return kFailure;
}

// The target of a film operation counts as written when it exists and holds a video stream.
int filmResult(const QString& target) {
    TAviCapture probe;
    if (QFileInfo::exists(target) && probe.ReadFileInfo(target))
        return kSuccess;
    printError(QStringLiteral("%1 was not written").arg(target));
    return kFailure;
}

} // namespace

int infoCommand(const QStringList& words) {
    const Verb& verb = verbNamed("info");
    const CommandLine line(words, {}, {});
    if (!line.ok())
        return usageError(verb, line.error());
    if (line.positional().size() != 1)
        return usageError(verb, QStringLiteral("expected one film"));
    const QString film = line.positional()[0];
    return guarded([&] {
        TAviCapture engine;
        if (!engine.ReadFileInfo(film)) {
            printError(QStringLiteral("cannot read %1").arg(film));
            return kFailure;
        }
        qdx::vfw::LibraryScope library;
        PAVIFILE file = nullptr;
        AVIFileOpen(&file, film, OF_READ);
        qdx::vfw::FileHandle fileHolder(file);
        PAVISTREAM stream = nullptr;
        AVISTREAMINFO video;
        if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK ||
            AVIStreamInfo(stream, &video, sizeof video) != AVIERR_OK) {
            AVIStreamRelease(stream);
            printError(QStringLiteral("%1 has no video stream").arg(film));
            return kFailure;
        }
        qdx::vfw::StreamHandle streamHolder(stream);
        // The compressor is the format's biCompression; the stream header's handler may differ.
        DWORD compression = video.fccHandler;
        LONG size = 0;
        if (AVIStreamReadFormat(stream, 0, nullptr, &size) == AVIERR_OK &&
            size >= LONG(sizeof(BITMAPINFOHEADER))) {
            std::vector<uint8_t> format(static_cast<size_t>(size));
            if (AVIStreamReadFormat(stream, 0, format.data(), &size) == AVIERR_OK) {
                BITMAPINFOHEADER header;
                std::memcpy(&header, format.data(), sizeof header);
                compression = header.biCompression == BI_RGB ? 0 : header.biCompression;
            }
        }
        std::printf("frames: %d\nwidth: %d\nheight: %d\ntype: %s\nrate: %u/%u\nvideo: %s\n"
                    "sound: %s\n",
                    engine.Frames, engine.WidthResolution, engine.HeightResolution,
                    engine.FileType.toUtf8().constData(), video.dwRate, video.dwScale,
                    fourccText(compression).toLatin1().constData(),
                    engine.HasSound(film) ? "yes" : "no");
        return kSuccess;
    });
}

int frameCommand(const QStringList& words) {
    const Verb& verb = verbNamed("frame");
    const CommandLine line(words, {}, {});
    if (!line.ok())
        return usageError(verb, line.error());
    int index = 0;
    if (line.positional().size() != 3 || !parseFrame(line.positional()[1], index))
        return usageError(verb,
                          QStringLiteral("expected a film, a frame number from 0 and a picture"));
    const QString film = line.positional()[0];
    const QString picture = line.positional()[2];
    if (!ExtensaoImagemValida(picture)) {
        printError(QStringLiteral("cannot write %1: the extension is not .bmp, .gif, .jpg, .jpeg "
                                  "or .wmf (letter case counts)")
                       .arg(picture));
        return kFailure;
    }
    return guarded([&] {
        TAviCapture engine;
        if (!engine.OpenFilm(film))
            return kFailure; // the engine has said why
        std::unique_ptr<TBitmap> frame = engine.GetFrame(index);
        if (!frame) {
            printError(QStringLiteral("%1 has no frame %2").arg(film).arg(index));
            return kFailure;
        }
        SalvarImagem(*frame, picture);
        return kSuccess;
    });
}

// copy / remove FILM FIRST LAST TARGET [--sound]
static int rangeCommand(const char* name, const QStringList& words, bool copy) {
    const Verb& verb = verbNamed(name);
    const CommandLine line(words, FilmOptions::valueOptions(), FilmOptions::flags());
    if (!line.ok())
        return usageError(verb, line.error());
    int first = 0;
    int last = 0;
    if (line.positional().size() != 4 || !parseFrame(line.positional()[1], first) ||
        !parseFrame(line.positional()[2], last))
        return usageError(verb, QStringLiteral("expected a film, two frame numbers from 0 and a "
                                               "target film"));
    FilmOptions options;
    if (!options.parse(line))
        return usageError(verb, options.error());
    const QString source = line.positional()[0];
    const QString target = line.positional()[3];
    return guarded([&] {
        FilmSession session(options);
        TAviCapture& engine = session.engine();
        if (copy)
            engine.CopySelection(options.sound(), first, last, source, target);
        else
            engine.RemoveSelection(options.sound(), first, last, source, target);
        return filmResult(target);
    });
}

int copyCommand(const QStringList& words) {
    return rangeCommand("copy", words, true);
}

int removeCommand(const QStringList& words) {
    return rangeCommand("remove", words, false);
}

int splitCommand(const QStringList& words) {
    const Verb& verb = verbNamed("split");
    const CommandLine line(words, FilmOptions::valueOptions(), FilmOptions::flags());
    if (!line.ok())
        return usageError(verb, line.error());
    int parts = 0;
    if (line.positional().size() != 3 || !parseFrame(line.positional()[1], parts) || parts < 1)
        return usageError(verb, QStringLiteral("expected a film, a number of parts from 1 and a "
                                               "target film"));
    FilmOptions options;
    if (!options.parse(line))
        return usageError(verb, options.error());
    const QString source = line.positional()[0];
    const QString target = line.positional()[2];
    return guarded([&] {
        FilmSession session(options);
        TAviCapture& engine = session.engine();
        int first = 0;
        int last = 0;
        if (!engine.GetFrameRange(source, first, last))
            return kFailure;
        engine.SplitFilm(options.sound(), first, last, parts, source, target);
        int result = kSuccess;
        for (int k = 1; k <= parts; ++k) {
            const QString part = TAviCapture::SplitPartName(target, k);
            if (filmResult(part) != kSuccess)
                result = kFailure;
            else
                std::printf("%s\n", part.toLocal8Bit().constData());
        }
        return result;
    });
}

int joinCommand(const QStringList& words) {
    const Verb& verb = verbNamed("join");
    const CommandLine line(words, FilmOptions::valueOptions(), FilmOptions::flags());
    if (!line.ok())
        return usageError(verb, line.error());
    if (line.positional().size() < 2)
        return usageError(verb, QStringLiteral("expected a target film and at least one film"));
    FilmOptions options;
    if (!options.parse(line))
        return usageError(verb, options.error());
    const QString target = line.positional()[0];
    return guarded([&] {
        FilmSession session(options);
        TAviCapture& engine = session.engine();
        QStringList films;
        int total = 0;
        for (const QString& film : line.positional().mid(1)) {
            // Each film is taken whole: its frame count, as the join window lists it.
            TAviCapture probe;
            if (!probe.ReadFileInfo(film)) {
                printError(QStringLiteral("cannot read %1").arg(film));
                return kFailure;
            }
            films.append(film + QLatin1Char('=') + QString::number(probe.Frames));
            total += probe.Frames;
        }
        engine.JoinFilms(options.sound(), films, target, total);
        return filmResult(target);
    });
}

int compressCommand(const QStringList& words) {
    const Verb& verb = verbNamed("compress");
    const CommandLine line(words, FilmOptions::valueOptions(), FilmOptions::flags());
    if (!line.ok())
        return usageError(verb, line.error());
    if (line.positional().size() != 2)
        return usageError(verb, QStringLiteral("expected a source and a target film"));
    FilmOptions options;
    if (!options.parse(line))
        return usageError(verb, options.error());
    const QString source = line.positional()[0];
    const QString target = line.positional()[1];
    return guarded([&] {
        FilmSession session(options);
        if (!session.engine().CompressFile(source, target))
            return kFailure;
        return filmResult(target);
    });
}

} // namespace qdx::cli
