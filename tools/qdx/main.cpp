#include "tools/qdx/Commands.h"

#include "platform/core/Prompts.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstring>

namespace qdx::cli {

int pictureCommand(const QStringList& words);
int codecsCommand(const QStringList& words);

const std::vector<Verb>& verbs() {
    static const std::vector<Verb> table = {
        {"picture", "SOURCE TARGET [--colors NAME]",
         "loads a picture by its extension, reduces its colours, saves it by the target's extension",
         pictureCommand},
        {"codecs", "", "lists the film compressors: FourCC, a tab, the name", codecsCommand},
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

} // namespace

int main(int argc, char** argv) {
    // Pictures and fonts need a GUI application object, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printHelp();
        return argc < 2 ? qdx::cli::kUsage : qdx::cli::kSuccess;
    }
    QGuiApplication app(argc, argv);
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
