#include "shared/ConfiguracoesVideo.h"

#include "avi/TAviCapture.h"
#include "platform/codec/Compressors.h"
#include "shared/Configuracoes.h"
#include "shared/CoresImagem.h"

void AplicarCoresVideo(TAviCapture& engine) {
    if (const std::optional<TPixelFormat> format = FormatoCores(numero_cores_video))
        engine.PixelFormat = *format;
}

void AplicarConfiguracoesVideo(TAviCapture& engine) {
    AplicarCoresVideo(engine);
    engine.Rate = numero_quadros_por_milisegundo;
    engine.PermitirCompactacao = compactar_video;
    AplicarCompactacaoGravacao(engine);
}

void AplicarCompactacaoGravacao(TAviCapture& engine) {
    engine.CompressWhileRecording = compactar_durante_gravacao;
    const QByteArray fcc = compressor_gravacao.leftJustified(4, QLatin1Char(' '), true).toLatin1();
    const FOURCC fourcc = mmioFOURCC(fcc[0], fcc[1], fcc[2], fcc[3]);
    if (const qdx::vfw::Compressor* compressor = qdx::vfw::findCompressor(fourcc)) {
        engine.LiveCompressor = qdx::vfw::defaultOptions(*compressor);
        if (qualidade_gravacao >= 0 && qualidade_gravacao <= 100)
            engine.LiveCompressor.dwQuality = DWORD(qualidade_gravacao) * 100;
    } else {
        engine.LiveCompressor = AVICOMPRESSOPTIONS{};
        engine.LiveCompressor.fccType = streamtypeVIDEO;
        engine.LiveCompressor.fccHandler = fourcc;
    }
}
