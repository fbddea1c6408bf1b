#include "tools/qdx/Commands.h"

#include "platform/core/PartialFile.h"
#include "platform/core/Prompts.h"

#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qdx::cli {

int pictureCommand(const QStringList& words);
int codecsCommand(const QStringList& words);
int infoCommand(const QStringList& words);
int frameCommand(const QStringList& words);
int copyCommand(const QStringList& words);
int removeCommand(const QStringList& words);
int splitCommand(const QStringList& words);
int joinCommand(const QStringList& words);
int compressCommand(const QStringList& words);
int captureCommand(const QStringList& words);
int recordCommand(const QStringList& words);

#define QDX_FILM_OPTIONS                                                                           \
    "[--codec FOURCC] [--quality 0..100] [--keyframe N] [--datarate KBPS] [--threads N] [--yes]"

const std::vector<Verb>& verbs() {
    static const std::vector<Verb> table = {
        {"picture", "SOURCE TARGET [--colors NAME]",
         "loads a picture by its extension, reduces its colours, saves it by the target's "
         "extension",
         pictureCommand},
        {"codecs", "", "lists the film compressors: FourCC, a tab, the name", codecsCommand},
        {"info", "FILM", "prints frames, width, height, type, rate, video FourCC and sound",
         infoCommand},
        {"frame", "FILM INDEX PICTURE", "writes frame INDEX (from 0) as a picture by its extension",
         frameCommand},
        {"copy", "FILM FIRST LAST TARGET [--sound] " QDX_FILM_OPTIONS,
         "writes frames FIRST to LAST (from 0) as a new film", copyCommand},
        {"remove", "FILM FIRST LAST TARGET [--sound] " QDX_FILM_OPTIONS,
         "writes the film without frames FIRST to LAST", removeCommand},
        {"split", "FILM PARTS TARGET [--sound] " QDX_FILM_OPTIONS,
         "cuts the film into PARTS films named TARGET01.avi, TARGET02.avi, ...", splitCommand},
        {"join", "TARGET FILM... [--sound] " QDX_FILM_OPTIONS, "joins the films into TARGET",
         joinCommand},
        {"compress", "FILM TARGET " QDX_FILM_OPTIONS,
         "writes the whole film through a compressor (its sound kept)", compressCommand},
        {"capture", "PICTURE [--colors NAME]", "writes one copy of the screen (X11) as a picture",
         captureCommand},
        {"record",
         "FILM --seconds S [--rate R] [--colors NAME] [--compress | --live] " QDX_FILM_OPTIONS,
         "records the screen (X11), then prints the frame count and the dropped frames",
         recordCommand},
    };
    return table;
}

} // namespace qdx::cli

namespace {

void printHelp() {
    std::printf("qdx - command-line front end of Quadrix's picture and film routines\n\n"
                "usage: qdx VERB [ARGUMENTS]\n\nverbs:\n");
    for (const auto& verb : qdx::cli::verbs())
        std::printf("  %s %s\n      %s\n", verb.name, verb.usage, verb.summary);
    std::printf("\n  --help\n      this text\n");
}

// SIGINT, SIGTERM and SIGHUP end qdx as they always did, but first remove the partial files of
// the operation that runs (a film being written beside its target). The signals are blocked in
// every thread and waited for by one thread of their own, which may take locks, unlike a handler.
void removePartialFilesOnSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    // Before any other thread starts: threads inherit the mask.
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        return;
    std::thread([signals] {
        int received = 0;
        if (sigwait(&signals, &received) != 0)
            return;
        qdx::PartialFile::removeAllOfProcess();
        // Ended by the signal itself, so that the caller sees how qdx ended.
        std::signal(received, SIG_DFL);
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        std::raise(received);
        std::_Exit(128 + received);
    }).detach();
}

} // namespace

int main(int argc, char** argv) {
    removePartialFilesOnSignals();
    // Pictures and fonts need a GUI application object, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printHelp();
        return argc < 2 ? qdx::cli::kUsage : qdx::cli::kSuccess;
    }
    // Qt warns on every start without a runtime folder; give it the one it would pick anyway.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = "/tmp/runtime-" + QByteArray::number(::getuid());
        ::mkdir(runtime.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
    // The film verbs touch no picture that needs one (no fonts, no screen): a core application
    // starts and ends faster.
    const char* verb = argv[1];
    const bool films = std::strcmp(verb, "info") == 0 || std::strcmp(verb, "copy") == 0 ||
                       std::strcmp(verb, "remove") == 0 || std::strcmp(verb, "split") == 0 ||
                       std::strcmp(verb, "join") == 0 || std::strcmp(verb, "compress") == 0;
    std::unique_ptr<QCoreApplication> app(films ? new QCoreApplication(argc, argv)
                                                : new QGuiApplication(argc, argv));
    qdx::ConsolePrompts consolePrompts;
    qdx::setPrompts(&consolePrompts);

    const QStringList arguments = QCoreApplication::arguments();
    const QString name = arguments.value(1);
    for (const auto& verb : qdx::cli::verbs()) {
        if (name == QLatin1String(verb.name))
            return verb.run(arguments.mid(2));
    }
    qdx::cli::printError(QStringLiteral("unknown verb '%1' (see qdx --help)").arg(name));
    return qdx::cli::kUsage;
}
