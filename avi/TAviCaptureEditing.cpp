// TAviCapture: the editing operations of the film windows. Each works on the picture alone or,
// keeping the sound, writes the picture into a temporary film through the user's compressor
// choice, copies the sound into a temporary sound file and merges both into the target.

#include "avi/TAviCapture.h"

#include "platform/core/AppFolder.h"

#include <QFile>

namespace {

// The temporary film and sound file of one operation and its compressor options. The files are
// removed and the options freed when the operation ends, whatever its outcome.
struct SoundWork {
    QString film = qdx::applicationFolder() + TAviCapture::NewTempName() + QStringLiteral(".avi");
    QString sound = qdx::applicationFolder() + TAviCapture::NewTempName() + QStringLiteral(".wav");
    AVICOMPRESSOPTIONS options;

    SoundWork() { QFile::remove(film); }
    ~SoundWork() {
        AVICOMPRESSOPTIONS* list[] = {&options};
        AVISaveOptionsFree(1, list);
        QFile::remove(film);
        QFile::remove(sound);
    }
    SoundWork(const SoundWork&) = delete;
    SoundWork& operator=(const SoundWork&) = delete;
};

void removeExisting(const QString& path) {
    if (QFile::exists(path))
        QFile::remove(path);
}

} // namespace

void TAviCapture::CopySelection(bool keepSound, int first, int last, const QString& source,
                                const QString& target) {
    removeExisting(target);
    if (!keepSound) {
        ExtractFrames(first, last, source, target);
        return;
    }
    SoundWork work;
    if (!ExtractFrames(first, last, source, work.film, &work.options)) {
        ShowError(QStringLiteral("Não foi possível extrair os quadros do filme!"));
        return;
    }
    if (!ExtractSound(first, last, source, work.sound, 0)) {
        if (AskYesNo(QStringLiteral("Não foi possível extrair o som do video, você deseja extrair "
                                    "o arquivo de video sem som?"))) {
            ExtractFrames(first, last, source, target);
            return;
        }
        // No: the merge below finds no sound file and writes no target.
    }
    MergeStreams(&work.options, work.film, work.sound, target);
}

void TAviCapture::RemoveSelection(bool keepSound, int first, int last, const QString& source,
                                  const QString& target) {
    removeExisting(target);
    if (!keepSound) {
        ExcludeFrames(first, last, source, target);
        return;
    }
    SoundWork work;
    if (!ExcludeFrames(first, last, source, work.film, &work.options))
        return;
    if (!ExcludeSound(first, last, source, work.sound))
        return;
    MergeStreams(&work.options, work.film, work.sound, target);
}

QString TAviCapture::SplitPartName(const QString& target, int part) {
    // The base ends before ".AVI" (any letter case) in the file's own name; a folder whose name
    // holds ".avi" does not cut the path.
    const qsizetype nameStart = target.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype extension =
        target.indexOf(QStringLiteral(".AVI"), nameStart, Qt::CaseInsensitive);
    const QString base = extension >= 0 ? target.left(extension) : target;
    return base + QStringLiteral("%1").arg(part, 2, 10, QLatin1Char('0')) + QStringLiteral(".avi");
}

void TAviCapture::SplitFilm(bool keepSound, int first, int last, int parts, const QString& source,
                            const QString& target) {
    if (parts <= 0)
        return;
    const int frames = last - first + 1;
    const int each = frames / parts;
    const int extra = frames % parts;
    int partFirst = first;
    for (int k = 1; k <= parts; ++k) {
        const int count = each + (k <= extra ? 1 : 0);
        CopySelection(keepSound, partFirst, partFirst + count - 1, source,
                      SplitPartName(target, k));
        partFirst += count;
    }
}

void TAviCapture::JoinFilms(bool keepSound, const QStringList& films, const QString& target,
                            int total) {
    removeExisting(target);
    if (!keepSound) {
        ConcatenateFrames(films, target, total);
        return;
    }
    SoundWork work;
    if (!ConcatenateFrames(films, work.film, total, &work.options))
        return;
    if (!ConcatenateSound(films, work.sound, total))
        return;
    MergeStreams(&work.options, work.film, work.sound, target);
}
