// TAviCapture: the editing operations of the film windows. Each works on the picture alone or,
// keeping the sound, writes the picture into a temporary film through the user's compressor
// choice, copies the sound into a temporary sound file and merges both into the target.

#include "avi/TAviCapture.h"

#include "avi/FilmTarget.h"
#include "platform/core/Exception.h"
#include "platform/core/WorkFileLock.h"

#include <optional>

namespace {

// The work film and sound file of one operation and its compressor options. Both files are
// locked while the operation uses them (the clean-up of temporary files leaves them alone), and
// removed and the options freed when the operation ends, whatever its outcome.
struct SoundWork {
    qdx::WorkFileLock film = qdx::WorkFileLock::create(QStringLiteral(".avi"));
    qdx::WorkFileLock sound = qdx::WorkFileLock::create(QStringLiteral(".wav"));
    AVICOMPRESSOPTIONS options;

    SoundWork() = default;
    ~SoundWork() {
        AVICOMPRESSOPTIONS* list[] = {&options};
        AVISaveOptionsFree(1, list);
        film.remove();
        sound.remove();
    }
    SoundWork(const SoundWork&) = delete;
    SoundWork& operator=(const SoundWork&) = delete;
};

// A target that may not be replaced (a read-only film) is refused before any work starts.
std::optional<FilmOutcome> refusedTarget(const QString& target) {
    try {
        FilmTarget::requireReplaceable(target);
    } catch (const qdx::Exception& e) {
        return FilmOutcome{FilmOutcome::Failed, e.Message()};
    }
    return std::nullopt;
}

} // namespace

// Every step writes its target under a temporary name and renames it into place only when it is
// complete, so the target (which may name the source film) is never deleted beforehand: a
// cancelled or failed operation leaves the file of that name as it was. The operations show
// nothing themselves: their outcome carries the reason of a failure.

FilmOutcome TAviCapture::CopySelection(bool keepSound, int first, int last, const QString& source,
                                       const QString& target) {
    beginOperation();
    if (const auto refused = refusedTarget(target))
        return *refused;
    if (!keepSound)
        return outcomeOf(ExtractFrames(first, last, source, target), target);
    SoundWork work;
    if (!ExtractFrames(first, last, source, work.film.path(), &work.options)) {
        FilmOutcome outcome = outcomeOf(false, target);
        if (outcome.failed())
            outcome.reason = QStringLiteral("Não foi possível extrair os quadros do filme!") +
                             QLatin1Char('\r') + outcome.reason;
        return outcome;
    }
    // A stream copy that had to start at a key frame before the selection: the sound follows
    // the frames written.
    if (const auto copied = StreamCopyRange()) {
        first = copied->first;
        last = copied->second;
    }
    if (!ExtractSound(first, last, source, work.sound.path(), 0)) {
        if (AskYesNo(QStringLiteral("Não foi possível extrair o som do video, você deseja extrair "
                                    "o arquivo de video sem som?"))) {
            beginOperation();
            return outcomeOf(ExtractFrames(first, last, source, target), target);
        }
        // No: nothing is written, as the user chose.
        return {FilmOutcome::Cancelled, QString()};
    }
    return outcomeOf(mergeStreams(&work.options, work.film.path(), work.sound.path(), target),
                     target);
}

FilmOutcome TAviCapture::RemoveSelection(bool keepSound, int first, int last, const QString& source,
                                         const QString& target) {
    beginOperation();
    if (const auto refused = refusedTarget(target))
        return *refused;
    if (!keepSound)
        return outcomeOf(ExcludeFrames(first, last, source, target), target);
    SoundWork work;
    if (!ExcludeFrames(first, last, source, work.film.path(), &work.options))
        return outcomeOf(false, target);
    if (const auto kept = StreamCopyRange()) {
        first = kept->first;
        last = kept->second;
    }
    if (!ExcludeSound(first, last, source, work.sound.path()))
        return outcomeOf(false, target);
    return outcomeOf(mergeStreams(&work.options, work.film.path(), work.sound.path(), target),
                     target);
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

FilmOutcome TAviCapture::SplitFilm(bool keepSound, int first, int last, int parts,
                                   const QString& source, const QString& target) {
    beginOperation();
    if (parts <= 0)
        return {};
    // Every part reads the source as it was: a part that would replace the source is refused
    // before anything is written.
    for (int k = 1; k <= parts; ++k) {
        const QString part = SplitPartName(target, k);
        if (SameFile(part, source))
            return {FilmOutcome::Failed,
                    QStringLiteral("A parte %1 da divisão seria gravada sobre o próprio filme "
                                   "dividido; escolha outro nome de destino.")
                            .arg(k) +
                        QLatin1Char('\r') + QStringLiteral("Arquivo: ") + part};
        if (const auto refused = refusedTarget(part))
            return *refused;
    }
    const int frames = last - first + 1;
    const int each = frames / parts;
    const int extra = frames % parts;
    int partFirst = first;
    for (int k = 1; k <= parts; ++k) {
        const int count = each + (k <= extra ? 1 : 0);
        const FilmOutcome outcome = CopySelection(keepSound, partFirst, partFirst + count - 1,
                                                  source, SplitPartName(target, k));
        if (!outcome.succeeded())
            return outcome;
        partFirst += count;
    }
    return {};
}

FilmOutcome TAviCapture::JoinFilms(bool keepSound, const QStringList& films, const QString& target,
                                   int total) {
    beginOperation();
    if (const auto refused = refusedTarget(target))
        return *refused;
    if (!keepSound)
        return outcomeOf(ConcatenateFrames(films, target, total), target);
    SoundWork work;
    if (!ConcatenateFrames(films, work.film.path(), total, &work.options) ||
        !ConcatenateSound(films, work.sound.path(), total))
        return outcomeOf(false, target);
    return outcomeOf(mergeStreams(&work.options, work.film.path(), work.sound.path(), target),
                     target);
}
