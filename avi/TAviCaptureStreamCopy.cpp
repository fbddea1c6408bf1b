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
            if (hr != AVIERR_OK) {
                ShowError(openErrorText(hr));
                return false;
            }
            film.file.reset(file);
            PAVISTREAM stream = nullptr;
            if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != AVIERR_OK)
                return false;
            film.stream.reset(stream);
            film.copier = StreamCopier::open(stream, &error);
            if (!film.copier)
                return false;
            if (!sources.empty()) {
                const QString difference = sources.front().copier->differenceFrom(*film.copier);
                if (!difference.isEmpty()) {
                    ShowError(QStringLiteral("%1 cannot follow %2 by direct stream copy: %3. "
                                             "Choose a compressor to join these films.")
                                  .arg(film.path, sources.front().path, difference));
                    return false;
                }
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
            return false;
        sources.push_back(std::move(film));
    }
    StreamCopier& main = *sources.front().copier;
    if (AVIStreamSetFormat(targetStream, 0, main.format().constData(),
                           LONG(main.format().size())) != AVIERR_OK)
        return false;

    // A codec without an encoder here cannot cut between key frames: the copy starts at the key
    // frame before, and the user hears so before anything is written.
    if (operation != FrameOperation::Concatenate && !main.allKeyFrames() && !main.canReencode()) {
        const LONG cut = operation == FrameOperation::Extract ? first : last + 1;
        if (cut > main.start() && cut < main.end() && first <= last) {
            const LONG key = main.keyFrameAtOrBefore(cut);
            if (key >= 0 && key != cut)
                qdx::prompts().information(
                    qdx::applicationTitle(),
                    QStringLiteral("The copy starts at frame %1, the key frame before the "
                                   "selection.")
                        .arg(key + 1));
        }
    }

    if (raiseFrameProgress(progressMax, progressMin, framingValue))
        return false;
    auto frameProgress = [this, progressMax, progressMin](LONG offset) {
        return [this, progressMax, progressMin, offset](LONG frame) {
            return !raiseFrameProgress(progressMax, progressMin, int(frame + offset));
        };
    };
    switch (operation) {
    case FrameOperation::Extract: {
        const StreamCopier::Result r =
            main.append(targetStream, 0, first, last, frameProgress(0), &error);
        if (!r.ok)
            return false;
        if (first <= last && (r.first != first || r.last != last))
            m_streamCopyRange = std::make_pair(int(r.first), int(r.last));
        break;
    }
    case FrameOperation::Exclude: {
        const StreamCopier::Result before =
            main.append(targetStream, 0, main.start(), first - 1, frameProgress(0), &error);
        if (!before.ok)
            return false;
        const StreamCopier::Result after = main.append(targetStream, before.next, last + 1,
                                                       main.end() - 1, frameProgress(0), &error);
        if (!after.ok)
            return false;
        if (last + 1 < main.end() && after.first != last + 1)
            m_streamCopyRange = std::make_pair(first, int(after.first) - 1);
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
                return false;
            position = r.next;
            visited += film.count;
        }
        break;
    }
    }
    raiseFrameProgress(progressMax, progressMin, framingValue);
    return true;
}
