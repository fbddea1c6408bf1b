// Settings files as users and other tools leave them: the reader must survive any content, and
// a write followed by a read must find exactly what was written, whatever surrounds it.
#include "shared/IniFile.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString section = QStringLiteral("configuracoes");

    QBuffer in;
    in.setData(file);
    in.open(QIODevice::ReadOnly);
    for (const char* key : {"salvar_automaticamente", "numero_quadros_por_milisegundo", "k"}) {
        in.seek(0);
        if (const auto text = qdx::IniFile::lookup(in, section, QLatin1StringView(key))) {
            if (text->size() > qdx::IniFile::kMaxValueLength)
                std::abort();
            (void)qdx::IniFile::parseInteger(*text);
        }
    }

    // A value taken from the first line of the input, written and read back.
    QString value = QString::fromUtf8(file.left(file.indexOf('\n') < 0 ? 64 : file.indexOf('\n')));
    value.remove(QLatin1Char('\r'));
    value.truncate(qdx::IniFile::kMaxValueLength);
    if (!value.isEmpty() && value.back().isHighSurrogate())
        value.chop(1);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    if (!qdx::IniFile::rewrite(in, out, section, QStringLiteral("k"),
                               qdx::IniFile::storedForm(value)))
        std::abort();
    QBuffer check;
    check.setData(out.data());
    check.open(QIODevice::ReadOnly);
    if (qdx::IniFile::lookup(check, section, QStringLiteral("K")) != value)
        std::abort();
    return 0;
}
