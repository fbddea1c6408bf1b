#include "shared/CoresImagem.h"

#include "shared/Configuracoes.h"

#include <array>

namespace {

struct CoresNomeadas {
    const char* nome;
    const char* plural; // nullptr when only the listed name is recognised
    TPixelFormat formato;
};

constexpr std::array<CoresNomeadas, 6> kCores = {{
    {"2 color", "2 colors", pf1bit},
    {"16 color", "16 colors", pf4bit},
    {"256 color", "256 colors", pf8bit},
    {"Hight Color (16 bits)", nullptr, pf16bit},
    {"True Color (24 bits)", nullptr, pf24bit},
    {"(32 bits)", nullptr, pf32bit},
}};

} // namespace

const QStringList& NomesCores() {
    static const QStringList nomes = [] {
        QStringList list;
        for (const CoresNomeadas& c : kCores)
            list.append(QString::fromLatin1(c.nome));
        return list;
    }();
    return nomes;
}

std::optional<TPixelFormat> FormatoCores(const QString& nome) {
    for (const CoresNomeadas& c : kCores) {
        if (nome == QLatin1String(c.nome) || (c.plural && nome == QLatin1String(c.plural)))
            return c.formato;
    }
    return std::nullopt;
}

bool AplicarCores(TBitmap& bitmap, const QString& nome) {
    const std::optional<TPixelFormat> formato = FormatoCores(nome);
    if (!formato)
        return false;
    bitmap.SetPixelFormat(*formato);
    return true;
}

void AplicarCoresImagem(TBitmap& bitmap) {
    AplicarCores(bitmap, numero_cores);
}
