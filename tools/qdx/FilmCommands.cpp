// The film verbs: information, one frame as a picture, and the editing operations of the film
// windows (copy, remove, split, join, compress), all through the engine the windows use.

#include "tools/qdx/Commands.h"
#include "tools/qdx/FilmOptions.h"

#include "avi/TAviCapture.h"
#include "platform/core/Exception.h"
#include "shared/ArquivosImagem.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cstdio>
#include <new>
#include <sys/stat.h>
#include <vector>

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

// Which file a path names, so that a target put in place by an operation can be told from the
// file that was there before (every film is written under a temporary name and renamed into
// place, so a new film is a new file).
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, st.st_dev, st.st_ino};
}

// The target of a film operation counts as written when the operation put a new film in its
// place that holds exactly the frames asked for.
int filmResult(const QString& target, const FileIdentity& before, int frames) {
    const FileIdentity after = identityOf(target);
    TAviCapture probe;
    if (!after.exists || after == before || !probe.ReadFileInfo(target)) {
        printError(
            before.exists
                ? QStringLiteral("%1 was not written; the file there is as it was").arg(target)
                : QStringLiteral("%1 was not written").arg(target));
        return kFailure;
    }
    if (probe.Frames != frames) {
        printError(QStringLiteral("%1 holds %2 frames instead of %3")
                       .arg(target)
                       .arg(probe.Frames)
                       .arg(frames));
        return kFailure;
    }
    return kSuccess;
}

// An editing operation that wrote nothing says why: the engine's reason, or the cancel.
bool outcomeWritten(const FilmOutcome& outcome) {
    if (outcome.succeeded())
        return true;
    QString reason = outcome.reason;
    reason.replace(QLatin1Char('\r'), QLatin1Char(' '));
    printError(outcome.failed() ? reason : QStringLiteral("the operation was cancelled"));
    return false;
}

// The frames of a film, first and last; false (with the reason said) when it cannot be read.
bool filmFrames(TAviCapture& engine, const QString& film, int& first, int& last) {
    if (engine.GetFrameRange(film, first, last))
        return true;
    printError(QStringLiteral("cannot read %1").arg(film));
    return false;
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
    if (first > last)
        return usageError(verb, QStringLiteral("the first frame %1 comes after the last frame %2")
                                    .arg(first)
                                    .arg(last));
    const QString source = line.positional()[0];
    const QString target = line.positional()[3];
    return guarded([&] {
        FilmSession session(options);
        TAviCapture& engine = session.engine();
        int filmFirst = 0;
        int filmLast = 0;
        if (!filmFrames(engine, source, filmFirst, filmLast))
            return kFailure;
        // A range wholly outside the film is refused; one that runs past the end is cut to it.
        if (first > filmLast || last < filmFirst) {
            printError(QStringLiteral("frames %1 to %2 lie outside %3, whose frames are %4 to %5")
                           .arg(first)
                           .arg(last)
                           .arg(source)
                           .arg(filmFirst)
                           .arg(filmLast));
            return kFailure;
        }
        if (first < filmFirst || last > filmLast) {
            const int cutFirst = std::max(first, filmFirst);
            const int cutLast = std::min(last, filmLast);
            printError(QStringLiteral("%1 has frames %2 to %3: taking frames %4 to %5")
                           .arg(source)
                           .arg(filmFirst)
                           .arg(filmLast)
                           .arg(cutFirst)
                           .arg(cutLast));
            first = cutFirst;
            last = cutLast;
        }
        int selected = last - first + 1;
        const FileIdentity before = identityOf(target);
        const FilmOutcome outcome =
            copy ? engine.CopySelection(options.sound(), first, last, source, target)
                 : engine.RemoveSelection(options.sound(), first, last, source, target);
        if (!outcomeWritten(outcome))
            return kFailure;
        // A stream copy that could not cut exactly says which frames it took.
        if (const auto range = engine.StreamCopyRange())
            selected = range->second - range->first + 1;
        return filmResult(target, before, copy ? selected : (filmLast - filmFirst + 1) - selected);
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
        if (!filmFrames(engine, source, first, last))
            return kFailure;
        std::vector<FileIdentity> before;
        for (int k = 1; k <= parts; ++k)
            before.push_back(identityOf(TAviCapture::SplitPartName(target, k)));
        if (!outcomeWritten(engine.SplitFilm(options.sound(), first, last, parts, source, target)))
            return kFailure;
        // The parts share the frames out as the engine does: the first ones take one more.
        const int frames = last - first + 1;
        int result = kSuccess;
        for (int k = 1; k <= parts; ++k) {
            const QString part = TAviCapture::SplitPartName(target, k);
            const int expected = frames / parts + (k <= frames % parts ? 1 : 0);
            if (filmResult(part, before[size_t(k - 1)], expected) != kSuccess)
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
        const FileIdentity before = identityOf(target);
        if (!outcomeWritten(engine.JoinFilms(options.sound(), films, target, total)))
            return kFailure;
        return filmResult(target, before, total);
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
        TAviCapture& engine = session.engine();
        int first = 0;
        int last = 0;
        if (!filmFrames(engine, source, first, last))
            return kFailure;
        const FileIdentity before = identityOf(target);
        // The target may be the source: it is replaced only by a complete film.
        if (!engine.CompressFile(source, target)) {
            printError(
                before.exists
                    ? QStringLiteral("%1 was not written; the file there is as it was").arg(target)
                    : QStringLiteral("%1 was not written").arg(target));
            return kFailure;
        }
        return filmResult(target, before, last - first + 1);
    });
}

} // namespace qdx::cli
