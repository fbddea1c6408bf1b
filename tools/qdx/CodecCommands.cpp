// qdx codecs: the compressors the AVI layer offers, one a line: the FourCC, a tab, the name.

#include "tools/qdx/Commands.h"

#include "platform/codec/FourccMap.h"
#include "platform/vfw/CompressorChooser.h"

#include <cstdio>

namespace qdx::cli {

int codecsCommand(const QStringList& words) {
    if (!words.isEmpty()) {
        for (const Verb& verb : verbs())
            if (QLatin1String(verb.name) == QLatin1String("codecs"))
                return usageError(verb, QStringLiteral("takes no arguments"));
        return kUsage;
    }
    for (const vfw::Compressor& c : vfw::compressors()) {
        const QByteArray line =
            (vfw::FourccMap::text(c.fourcc) + QLatin1Char('\t') + c.name + QLatin1Char('\n'))
                .toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    return std::fflush(stdout) == 0 ? kSuccess : kFailure;
}

} // namespace qdx::cli
