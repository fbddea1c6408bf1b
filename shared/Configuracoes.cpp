#include "shared/Configuracoes.h"

// Program-wide values; CarregarConfiguracoes fills them from config.ini.
bool salvar_automaticamente = true;
bool mostrar_banner = true;
QString nome_arquivo_padrao = QStringLiteral("Image%1");
QString caminho_padrao;
QString tipo_arquivo_padrao = QStringLiteral("*.bmp");
QString numero_cores = QStringLiteral("True Color (24 bits)");
QString comando_captura_tela = QStringLiteral("Ctrl+Alt+C");
bool salvar_automaticamente_video = false;
QString nome_arquivo_video_padrao = QStringLiteral("Video%1");
QString caminho_video_padrao;
QString tipo_arquivo_video_padrao = QStringLiteral("*.avi");
QString numero_cores_video = QStringLiteral("True Color (24 bits)");
int32_t numero_quadros_por_milisegundo = 1;
bool compactar_video = true;
QString comando_captura_video = QStringLiteral("Ctrl+Alt+V");

int32_t ContadorImagens = 1;
int32_t ContadorVideos = 1;
int32_t ContadorJanelas = 1;

QString VersaoPrograma = QStringLiteral("6.2.0");
