// qdx picture SOURCE TARGET [--colors NAME]: the same loading, colour reduction and saving that
// the picture windows use.

#include "tools/qdx/Commands.h"

#include "shared/ArquivosImagem.h"
#include "shared/CoresImagem.h"
#include "shared/PictureError.h"

#include <new>

namespace qdx::cli {

int pictureCommand(const QStringList& words) {
    const Verb& verb = verbNamed("picture");
    const CommandLine line(words, {QStringLiteral("--colors")}, {});
    if (!line.ok())
        return usageError(verb, line.error());
    if (line.positional().size() != 2)
        return usageError(verb, QStringLiteral("expected a source and a target picture"));
    const QString source = line.positional()[0];
    const QString target = line.positional()[1];
    const bool reduce = line.has(QStringLiteral("--colors"));
    const QString colours = line.value(QStringLiteral("--colors"));
    if (reduce && !FormatoCores(colours))
        return usageError(verb, QStringLiteral("unknown colour depth \"%1\"; the names are: %2")
                                    .arg(colours, NomesCores().join(QStringLiteral(", "))));
    if (!ExtensaoImagemValida(target)) {
        printError(QStringLiteral("cannot write %1: the extension \"%2\" is not .bmp, .gif, .jpg, "
                                  ".jpeg or .wmf (letter case counts)")
                       .arg(target, ExtensaoImagem(target)));
        return kFailure;
    }
    try {
        TBitmap bitmap = CarregarImagem(source);
        if (reduce)
            AplicarCores(bitmap, colours);
        SalvarImagem(bitmap, target);
    } catch (const qdx::PictureError& e) {
        printError(e.text());
        return kFailure;
    } catch (const std::bad_alloc&) {
        printError(QStringLiteral("not enough memory for %1").arg(source));
        return kFailure;
    }
    return kSuccess;
}

} // namespace qdx::cli
