#include "shared/Configuracoes.h"

#include "platform/core/AppFolder.h"
#include "shared/IniFile.h"

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
bool compactar_durante_gravacao = false;
QString compressor_gravacao = QStringLiteral("H264");
int32_t qualidade_gravacao = -1;
QString comando_captura_video = QStringLiteral("Ctrl+Alt+V");

int32_t ContadorImagens = 1;
int32_t ContadorVideos = 1;
int32_t ContadorJanelas = 1;

QString VersaoPrograma = QStringLiteral("6.2.0");

namespace {

const QString kSecao = QStringLiteral("configuracoes");

} // namespace

QString ArquivoConfiguracoes() {
    return qdx::applicationFolder() + QStringLiteral("config.ini");
}

void CarregarConfiguracoes() {
    const qdx::IniFile ini(ArquivoConfiguracoes());
    const QString pasta = qdx::applicationFolder();
    const QString cores = QStringLiteral("True Color (24 bits)");
    salvar_automaticamente = ini.readBool(kSecao, QStringLiteral("salvar_automaticamente"), true);
    mostrar_banner = ini.readBool(kSecao, QStringLiteral("mostrar_banner"), true);
    nome_arquivo_padrao =
        ini.readString(kSecao, QStringLiteral("nome_arquivo_padrao"), QStringLiteral("Image%1"));
    caminho_padrao = ini.readString(kSecao, QStringLiteral("caminho_padrao"), pasta);
    tipo_arquivo_padrao =
        ini.readString(kSecao, QStringLiteral("tipo_arquivo_padrao"), QStringLiteral("*.bmp"));
    numero_cores = ini.readString(kSecao, QStringLiteral("numero_cores"), cores);
    comando_captura_tela = ini.readString(kSecao, QStringLiteral("comando_captura_tela"),
                                          QStringLiteral("Ctrl+Alt+C"));
    salvar_automaticamente_video =
        ini.readBool(kSecao, QStringLiteral("salvar_automaticamente_video"), false);
    nome_arquivo_video_padrao = ini.readString(kSecao, QStringLiteral("nome_arquivo_video_padrao"),
                                               QStringLiteral("Video%1"));
    caminho_video_padrao = ini.readString(kSecao, QStringLiteral("caminho_video_padrao"), pasta);
    tipo_arquivo_video_padrao = ini.readString(kSecao, QStringLiteral("tipo_arquivo_video_padrao"),
                                               QStringLiteral("*.avi"));
    numero_cores_video = ini.readString(kSecao, QStringLiteral("numero_cores_video"), cores);
    numero_quadros_por_milisegundo =
        ini.readInteger(kSecao, QStringLiteral("numero_quadros_por_milisegundo"), 1);
    compactar_video = ini.readBool(kSecao, QStringLiteral("compactar_video"), true);
    compactar_durante_gravacao =
        ini.readBool(kSecao, QStringLiteral("compactar_durante_gravacao"), false);
    compressor_gravacao =
        ini.readString(kSecao, QStringLiteral("compressor_gravacao"), QStringLiteral("H264"));
    qualidade_gravacao = ini.readInteger(kSecao, QStringLiteral("qualidade_gravacao"), -1);
    comando_captura_video = ini.readString(kSecao, QStringLiteral("comando_captura_video"),
                                           QStringLiteral("Ctrl+Alt+V"));
}

void IniciarConfiguracoes() {
    CarregarConfiguracoes();
    ContadorImagens = 1;
    ContadorVideos = 1;
    ContadorJanelas = 1;
    VersaoPrograma = QStringLiteral("6.2.0");
}

void GravarTexto(const QString& key, const QString& value) {
    qdx::IniFile(ArquivoConfiguracoes()).writeString(kSecao, key, value);
}

void GravarBooleano(const QString& key, bool value) {
    qdx::IniFile(ArquivoConfiguracoes()).writeBool(kSecao, key, value);
}

void GravarInteiro(const QString& key, int32_t value) {
    qdx::IniFile(ArquivoConfiguracoes()).writeInteger(kSecao, key, value);
}
