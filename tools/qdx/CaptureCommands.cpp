// qdx capture and qdx record: the screen copy of the main program and the recording loop of the
// recorder, from the command line.

#include "tools/qdx/Commands.h"
#include "tools/qdx/FilmOptions.h"

#include "platform/vfw/StreamCopy.h"

#include "platform/core/Exception.h"
#include "platform/core/WorkFileLock.h"
#include "shared/ArquivosImagem.h"
#include "shared/Configuracoes.h"
#include "shared/ConfiguracoesVideo.h"
#include "shared/CopiaTela.h"
#include "shared/CoresImagem.h"
#include "shared/PictureError.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <thread>

namespace qdx::cli {

namespace {

// The colour depth named by --colors, checked against the names of the settings.
bool colourOption(const CommandLine& line, QString& name, QString& error) {
    if (!line.has(QStringLiteral("--colors")))
        return true;
    name = line.value(QStringLiteral("--colors"));
    if (FormatoCores(name))
        return true;
    error = QStringLiteral("unknown colour depth \"%1\"; the names are: %2")
                .arg(name, NomesCores().join(QStringLiteral(", ")));
    return false;
}

// Moves a recording whose compression failed beside the target, as "<name>-uncompressed.avi"
// (with a number when that exists already). Gives where the recording now is: its old place when
// it cannot be moved.
QString keepUncompressed(const QString& recorded, const QString& target) {
    const QFileInfo info(target);
    const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName();
    for (int n = 1; n < 1000; ++n) {
        const QString kept =
            base +
            (n == 1 ? QStringLiteral("-uncompressed") : QStringLiteral("-uncompressed-%1").arg(n)) +
            QStringLiteral(".avi");
        if (QFileInfo::exists(kept))
            continue;
        if (QFile::rename(recorded, kept))
            return kept;
        break;
    }
    // Still a work file: marked, so that no program's clean-up deletes it.
    qdx::WorkFileLock::keepRecording(recorded);
    return recorded;
}

} // namespace

int captureCommand(const QStringList& words) {
    const Verb& verb = verbNamed("capture");
    const CommandLine line(words, {QStringLiteral("--colors")}, {});
    if (!line.ok())
        return usageError(verb, line.error());
    if (line.positional().size() != 1)
        return usageError(verb, QStringLiteral("expected one picture"));
    QString colours;
    QString error;
    if (!colourOption(line, colours, error))
        return usageError(verb, error);
    const QString picture = line.positional()[0];
    if (!ExtensaoImagemValida(picture)) {
        printError(QStringLiteral("cannot write %1: the extension is not .bmp, .gif, .jpg, .jpeg "
                                  "or .wmf (letter case counts)")
                       .arg(picture));
        return kFailure;
    }
    // The settings' depth, unless --colors names another.
    IniciarConfiguracoes();
    if (!colours.isEmpty())
        numero_cores = colours;
    std::unique_ptr<TBitmap> screen = CopiarTela();
    if (!screen) {
        printError(QStringLiteral("cannot copy the screen: an X11 display is needed ($DISPLAY)"));
        return kFailure;
    }
    try {
        SalvarImagem(*screen, picture);
    } catch (const qdx::PictureError& e) {
        printError(e.text());
        return kFailure;
    }
    return kSuccess;
}

int recordCommand(const QStringList& words) {
    const Verb& verb = verbNamed("record");
    QStringList values = FilmOptions::valueOptions();
    values << QStringLiteral("--seconds") << QStringLiteral("--rate") << QStringLiteral("--colors");
    QStringList flags = FilmOptions::flags();
    flags << QStringLiteral("--compress") << QStringLiteral("--live");
    const CommandLine line(words, values, flags);
    if (!line.ok())
        return usageError(verb, line.error());
    if (line.positional().size() != 1)
        return usageError(verb, QStringLiteral("expected one film"));
    bool ok = false;
    const double seconds = line.value(QStringLiteral("--seconds")).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 24 * 3600)
        return usageError(verb, QStringLiteral("--seconds takes a duration above 0"));
    int rate = 0;
    if (line.has(QStringLiteral("--rate"))) {
        rate = line.value(QStringLiteral("--rate")).toInt(&ok);
        if (!ok || rate < 1 || rate > 100)
            return usageError(verb, QStringLiteral("--rate takes frames per second from 1 to 100"));
    }
    QString colours;
    QString error;
    if (!colourOption(line, colours, error))
        return usageError(verb, error);
    FilmOptions options;
    if (!options.parse(line))
        return usageError(verb, options.error());
    if (qdx::vfw::isStreamCopy(options.compressor().fccHandler))
        return usageError(verb, QStringLiteral("--codec copy copies a film's stored frames; a "
                                               "recording is compressed with a compressor"));
    // --live: compressed while it records, with the codec given (no work film to compress later).
    const bool live = line.has(QStringLiteral("--live"));
    if (live && line.has(QStringLiteral("--compress")))
        return usageError(verb, QStringLiteral("--live and --compress exclude each other: --live "
                                               "compresses while recording"));
    if (live && !qdx::vfw::findCompressor(options.compressor().fccHandler)->encoder)
        return usageError(verb, QStringLiteral("--live needs --codec naming a compressor"));
    const QString film = QFileInfo(line.positional()[0]).absoluteFilePath();

    // The recorder's settings, with the options in their place.
    IniciarConfiguracoes();
    if (!colours.isEmpty())
        numero_cores_video = colours;
    if (rate > 0)
        numero_quadros_por_milisegundo = rate;
    compactar_video = line.has(QStringLiteral("--compress"));

    FilmSession session(options);
    TAviCapture& engine = session.engine();
    AplicarConfiguracoesVideo(engine);
    engine.FileName = film;
    engine.CompressWhileRecording = live;
    engine.LiveCompressor = options.compressor();
    // Set on the recording thread once the film is closed; StopRecording waits for it.
    bool closedWhole = false;
    engine.OnStop = [&closedWhole](bool resultao) {
        closedWhole = resultao;
    };
    engine.StartRecording();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    engine.StopRecording();
    if (!engine.RecordingError().isEmpty()) {
        printError(engine.RecordingError().replace(QLatin1Char('\r'), QLatin1Char(' ')));
        return kFailure;
    }
    const QString recorded = engine.PermitirCompactacao ? engine.RecordingTempFile() : film;
    if (!closedWhole) {
        // What did reach the disk stays, out of the work files when it was recorded there.
        const QString kept =
            engine.PermitirCompactacao ? keepUncompressed(recorded, film) : recorded;
        printError(QStringLiteral("the recording could not be written completely (is the disk "
                                  "full?); what was written is at %1")
                       .arg(kept));
        return kFailure;
    }
    const int dropped = engine.DroppedFrames();
    if (engine.PermitirCompactacao) {
        bool compressed = false;
        try {
            compressed = engine.CompressFile(recorded, film);
        } catch (const qdx::Exception& e) {
            printError(e.Message());
        }
        if (!compressed) {
            // The recording is not lost: it moves out of the work files (which the programs
            // clear at start) to a name beside the target.
            const QString kept = keepUncompressed(recorded, film);
            printError(QStringLiteral("%1 was not written: compression failed; the uncompressed "
                                      "recording is kept at %2")
                           .arg(film, kept));
            return kFailure;
        }
        QFile::remove(recorded);
    }
    TAviCapture probe;
    if (!probe.ReadFileInfo(film)) {
        printError(QStringLiteral("%1 was not written").arg(film));
        return kFailure;
    }
    std::printf("frames: %d\ndropped: %d\n", probe.Frames, dropped);
    return kSuccess;
}

} // namespace qdx::cli
