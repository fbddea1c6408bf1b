#include "shared/ConfiguracoesVideo.h"

#include "avi/TAviCapture.h"
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
}
