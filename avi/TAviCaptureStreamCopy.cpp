// TAviCapture: the frame operations by direct stream copy. The source's stored samples go to the
// target stream with their key flags; only the frames between key frames at the ends of a range
// are re-encoded (qdx::vfw::StreamCopier). A join copies only films whose video formats match.

#include "avi/TAviCapture.h"

#include "platform/core/AppFolder.h"
#include "platform/core/Prompts.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "platform/vfw/StreamCopy.h"

#include <vector>

namespace {

struct CopySource {
    QString path;
    int count = 0;
    qdx::vfw::FileHandle file;
    qdx::vfw::StreamHandle stream;
    std::unique_ptr<qdx::vfw::StreamCopier> copier;
};

} // namespace

bool TAviCapture::copyFrames(FrameOperation operation, int first, int last, PAVISTREAM source,
                             PGETFRAME sourceGetter, const QStringList& films,
                             PAVISTREAM targetStream, int progressMax, int progressMin,
                             int framingValue) {
    using qdx::vfw::StreamCopier;
    QString error;
    // Every refusal and failure is shown with its reason; a stop from the progress events has
    // none and shows nothing.
    auto failed = [this, &error](const QString& text = {}) {
        const QString shown = text.isEmpty() ? error : text;
        if (!shown.isEmpty())
            ShowError(shown);
        return false;
    };
    std::vector<CopySource> sources;
    if (operation == FrameOperation::Concatenate) {
        // Every film is read, and its format compared with the first film's, before anything is
        // written: a join that cannot be copied writes nothing.
        for (const QString& entryText : films) {
            CopySource film;
            const qsizetype eq = entryText.indexOf(QLatin1Char('='));
            film.path = eq < 0 ? entryText : entryText.left(eq);
            film.count = eq < 0 ? 0 : entryText.mid(eq + 1).trimmed().toInt();
            PAVIFILE file = nullptr;
            const HRESULT hr = AVIFileOpen(&file, film.path, OF_READ);
            if (hr != AVIERR_OK)
                return failed(openErrorText(hr));
            film.file.reset(file);
            PAVISTREAM stream = nullptr;
            if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK)
                return failed(QStringLiteral("%1 has no video to copy.").arg(film.path));
            film.stream.reset(stream);
            film.copier = StreamCopier::open(stream, &error);
            if (!film.copier)
                return failed(QStringLiteral("%1 cannot be copied: %2").arg(film.path, error));
            if (!sources.empty()) {
                const QString difference = sources.front().copier->differenceFrom(*film.copier);
                if (!difference.isEmpty())
                    return failed(QStringLiteral("%1 cannot follow %2 by direct stream copy: %3. "
                                                 "Choose a compressor to join these films.")
                                      .arg(film.path, sources.front().path, difference));
            }
            sources.push_back(std::move(film));
        }
    } else {
        CopySource film;
        // The pipeline's getter has decoded the range's first frame already: the copy goes on
        // from there.
        film.copier = StreamCopier::open(source, &error,
                                         dynamic_cast<qdx::vfw::FrameGetterImpl*>(sourceGetter));
        if (!film.copier)
            return failed(QStringLiteral("The film cannot be copied: %1").arg(error));
        sources.push_back(std::move(film));
    }
    StreamCopier& main = *sources.front().copier;
    if (AVIStreamSetFormat(targetStream, 0, main.format().constData(),
                           LONG(main.format().size())) != AVIERR_OK)
        return failed(QStringLiteral("The copy's video format cannot be written."));

    if (raiseFrameProgress(progressMax, progressMin, framingValue))
        return false;
    auto frameProgress = [this, progressMax, progressMin](LONG offset) {
        return [this, progressMax, progressMin, offset](LONG frame) {
            return !raiseFrameProgress(progressMax, progressMin, int(frame + offset));
        };
    };
    // Cuts that had to move to key frames (a codec without an encoder here, or a bridge that
    // cannot code like the source) are said once the frames are written, with the reason.
    QStringList moved;
    switch (operation) {
    case FrameOperation::Extract: {
        const StreamCopier::Result r =
            main.append(targetStream, 0, first, last, frameProgress(0), &error);
        if (!r.ok)
            return failed();
        if (first <= last && (r.first != first || r.last != last)) {
            m_streamCopyRange = std::make_pair(int(r.first), int(r.last));
            if (r.first != first)
                moved << QStringLiteral("The copy starts at frame %1, the key frame before the "
                                        "selection.")
                             .arg(r.first + 1);
            if (r.last != last)
                moved << QStringLiteral("The copy ends at frame %1, where its stored frames can "
                                        "end.")
                             .arg(r.last + 1);
        }
        break;
    }
    case FrameOperation::Exclude: {
        const StreamCopier::Result before =
            main.append(targetStream, 0, main.start(), first - 1, frameProgress(0), &error);
        if (!before.ok)
            return failed();
        const StreamCopier::Result after = main.append(targetStream, before.next, last + 1,
                                                       main.end() - 1, frameProgress(0), &error);
        if (!after.ok)
            return failed();
        // The frames left out: after the part before (which may have had to end later) and
        // before the part after (which may have had to start at the key frame before).
        const int removedFirst = first > main.start() ? int(before.last) + 1 : first;
        const int removedLast = last + 1 < main.end() ? int(after.first) - 1 : last;
        if (removedFirst > removedLast)
            return failed(QStringLiteral("Frames %1 to %2 lie between two key frames: a direct "
                                         "stream copy cannot remove them. Choose a compressor "
                                         "to remove them.")
                              .arg(first + 1)
                              .arg(last + 1));
        if (removedFirst != first || removedLast != last) {
            m_streamCopyRange = std::make_pair(removedFirst, removedLast);
            if (removedFirst != first)
                moved << QStringLiteral("The film goes on to frame %1, where its stored frames "
                                        "can end.")
                             .arg(removedFirst);
            if (removedLast != last)
                moved << QStringLiteral("The film resumes at frame %1, the key frame before the "
                                        "end of the selection.")
                             .arg(removedLast + 2);
        }
        break;
    }
    case FrameOperation::Concatenate: {
        LONG position = 0;
        LONG visited = 0;
        for (CopySource& film : sources) {
            StreamCopier& c = *film.copier;
            const StreamCopier::Result r =
                c.append(targetStream, position, c.start(), c.start() + film.count - 1,
                         frameProgress(visited - c.start()), &error);
            if (!r.ok)
                return failed();
            position = r.next;
            visited += film.count;
        }
        break;
    }
    }
    if (!moved.isEmpty()) {
        if (!main.bridgeNote().isEmpty())
            moved << QStringLiteral("Frames between key frames are not re-encoded: %1.")
                         .arg(main.bridgeNote());
        qdx::prompts().information(qdx::applicationTitle(), moved.join(QLatin1Char(' ')));
    }
    raiseFrameProgress(progressMax, progressMin, framingValue);
    return true;
}
