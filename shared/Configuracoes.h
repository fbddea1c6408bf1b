#pragma once

// The settings of config.ini (section "configuracoes") held in program-wide values that bear the
// key names, the name counters and the version text. Both programs load them at start, before
// their first window; only the configuration dialog writes them.

#include "shared/IniFile.h"

#include <QString>

#include <cstdint>

extern bool salvar_automaticamente;
extern bool mostrar_banner;
extern QString nome_arquivo_padrao;
extern QString caminho_padrao;
extern QString tipo_arquivo_padrao;
extern QString numero_cores;
extern QString comando_captura_tela;
extern bool salvar_automaticamente_video;
extern QString nome_arquivo_video_padrao;
extern QString caminho_video_padrao;
extern QString tipo_arquivo_video_padrao;
extern QString numero_cores_video;
extern int32_t numero_quadros_por_milisegundo;
extern bool compactar_video;
// Compress while recording (off by default: files without the keys record as before), with the
// compressor of that FourCC and its quality 0..100 (-1: the compressor's own).
extern bool compactar_durante_gravacao;
extern QString compressor_gravacao;
extern int32_t qualidade_gravacao;
extern QString comando_captura_video;

// Name counters, all 1 at start: pictures ("%1" of nome_arquivo_padrao), films ("%1" of
// nome_arquivo_video_padrao) and picture windows (unique window names).
extern int32_t ContadorImagens;
extern int32_t ContadorVideos;
extern int32_t ContadorJanelas;

// "6.2.0", sent in contact messages.
extern QString VersaoPrograma;

// The path of config.ini: the application folder followed by "config.ini".
QString ArquivoConfiguracoes();

// Reads all eighteen keys into the values above, each with its default.
void CarregarConfiguracoes();

// Start of either program: loads the settings, sets the three counters to 1 and the version.
void IniciarConfiguracoes();

// Writing one key of the section "configuracoes" (the configuration dialog does it key by key).
// Each write reaches the file at once; a refused write throws qdx::IniWriteError with the text
// "Unable to write to <path>".
void GravarTexto(const QString& key, const QString& value);
void GravarBooleano(const QString& key, bool value);
void GravarInteiro(const QString& key, int32_t value);
