#include "shared/Configuracoes.h"
#include "shared/Mensagens.h"
#include "shared/ShortcutText.h"

#include "platform/core/AppFolder.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using qdx::test::readAll;
using qdx::test::TempDir;
using qdx::test::writeAll;

namespace {

// Each test gets its own application folder.
class Configuracoes : public ::testing::Test {
protected:
    void SetUp() override { qdx::setApplicationFolder(dir.path()); }
    QString configPath() const { return dir.file(QStringLiteral("config.ini")); }

    TempDir dir;
};

} // namespace

TEST_F(Configuracoes, EveryKeyHasItsDefaultWithoutAFile) {
    // Values left over from an earlier load must not survive a load without a file.
    salvar_automaticamente = false;
    numero_quadros_por_milisegundo = 99;
    caminho_padrao = QStringLiteral("/elsewhere");
    ContadorImagens = ContadorVideos = ContadorJanelas = 7;
    VersaoPrograma.clear();

    IniciarConfiguracoes();

    const QString folder = qdx::applicationFolder();
    EXPECT_EQ(ArquivoConfiguracoes(), folder + QStringLiteral("config.ini"));
    EXPECT_TRUE(folder.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(salvar_automaticamente);
    EXPECT_TRUE(mostrar_banner);
    EXPECT_EQ(nome_arquivo_padrao, QStringLiteral("Image%1"));
    EXPECT_EQ(caminho_padrao, folder);
    EXPECT_EQ(tipo_arquivo_padrao, QStringLiteral("*.bmp"));
    EXPECT_EQ(numero_cores, QStringLiteral("True Color (24 bits)"));
    EXPECT_EQ(comando_captura_tela, QStringLiteral("Ctrl+Alt+C"));
    EXPECT_FALSE(salvar_automaticamente_video);
    EXPECT_EQ(nome_arquivo_video_padrao, QStringLiteral("Video%1"));
    EXPECT_EQ(caminho_video_padrao, folder);
    EXPECT_EQ(tipo_arquivo_video_padrao, QStringLiteral("*.avi"));
    EXPECT_EQ(numero_cores_video, QStringLiteral("True Color (24 bits)"));
    EXPECT_EQ(numero_quadros_por_milisegundo, 1);
    EXPECT_TRUE(compactar_video);
    // Without its keys a file records as before: uncompressed, compressed after Stop.
    EXPECT_FALSE(compactar_durante_gravacao);
    EXPECT_EQ(compressor_gravacao, QStringLiteral("H264"));
    EXPECT_EQ(qualidade_gravacao, -1);
    EXPECT_EQ(comando_captura_video, QStringLiteral("Ctrl+Alt+V"));
    EXPECT_EQ(ContadorImagens, 1);
    EXPECT_EQ(ContadorVideos, 1);
    EXPECT_EQ(ContadorJanelas, 1);
    EXPECT_EQ(VersaoPrograma, QStringLiteral("6.2.0"));
    EXPECT_FALSE(QFile::exists(configPath())); // reading creates nothing
}

// Hand-edited values: words in boolean keys, hexadecimal numbers, empty texts, small letters.
TEST_F(Configuracoes, HandEditedValuesReadByTheProfileRules) {
    ASSERT_TRUE(writeAll(configPath(), "[configuracoes]\n"
                                       "salvar_automaticamente=false\n"
                                       "mostrar_banner=0\n"
                                       "salvar_automaticamente_video=true\n"
                                       "compactar_video=2\n"
                                       "numero_quadros_por_milisegundo=0x0A\n"
                                       "nome_arquivo_padrao=\n"
                                       "caminho_padrao=/fotos/sem barra\n"
                                       "nome_arquivo_video_padrao=Filme\n"
                                       "comando_captura_tela=ctrl+alt+c\n"
                                       "comando_captura_video=^Alt+C\n"));
    CarregarConfiguracoes();
    EXPECT_TRUE(salvar_automaticamente); // the word false gives the default, true
    EXPECT_FALSE(mostrar_banner);
    EXPECT_FALSE(salvar_automaticamente_video); // the word true gives the default, false
    EXPECT_TRUE(compactar_video);
    EXPECT_EQ(numero_quadros_por_milisegundo, 10);
    EXPECT_EQ(nome_arquivo_padrao, QString()); // present but empty: not the default
    EXPECT_EQ(caminho_padrao, QStringLiteral("/fotos/sem barra")); // kept as it stands
    EXPECT_EQ(nome_arquivo_video_padrao, QStringLiteral("Filme"));
    EXPECT_EQ(comando_captura_tela, QStringLiteral("ctrl+alt+c")); // values hold what was read

    const uint16_t ctrlAltC = scCtrl | scAlt | 'C';
    EXPECT_EQ(TextToShortCut(comando_captura_tela), ctrlAltC);
    EXPECT_EQ(TextToShortCut(comando_captura_video), ctrlAltC);

    // The configuration dialog writes the key back from the value it shows.
    GravarTexto(QStringLiteral("comando_captura_tela"), ShortCutToText(ctrlAltC));
    EXPECT_TRUE(readAll(configPath()).contains("\ncomando_captura_tela=Ctrl+Alt+C\n"));
    CarregarConfiguracoes();
    EXPECT_EQ(comando_captura_tela, QStringLiteral("Ctrl+Alt+C"));
}

TEST_F(Configuracoes, WritesReachTheFileAndKeepWhatElseIsThere) {
    ASSERT_TRUE(writeAll(configPath(), "; edited by hand\n[configuracoes]\nextra=kept\n"
                                       "[outra]\nnumero_cores=2 color\n"));
    GravarBooleano(QStringLiteral("salvar_automaticamente"), false);
    GravarInteiro(QStringLiteral("numero_quadros_por_milisegundo"), 25);
    GravarTexto(QStringLiteral("caminho_padrao"), QStringLiteral("/pasta/"));
    GravarTexto(QStringLiteral("numero_cores"), QStringLiteral("(32 bits)"));
    EXPECT_EQ(readAll(configPath()), QByteArray("; edited by hand\n[configuracoes]\nextra=kept\n"
                                                "salvar_automaticamente=0\n"
                                                "numero_quadros_por_milisegundo=25\n"
                                                "caminho_padrao=/pasta/\n"
                                                "numero_cores=(32 bits)\n"
                                                "[outra]\nnumero_cores=2 color\n"));
    CarregarConfiguracoes();
    EXPECT_FALSE(salvar_automaticamente);
    EXPECT_EQ(numero_quadros_por_milisegundo, 25);
    EXPECT_EQ(caminho_padrao, QStringLiteral("/pasta/"));
    EXPECT_EQ(numero_cores, QStringLiteral("(32 bits)"));
}

TEST_F(Configuracoes, ARefusedWriteNamesTheFileAndKeepsIt) {
    const QByteArray content = "[configuracoes]\nmostrar_banner=1\n";
    ASSERT_TRUE(writeAll(configPath(), content));
    ASSERT_EQ(::chmod(QFile::encodeName(configPath()).constData(), 0444), 0);
    try {
        GravarBooleano(QStringLiteral("mostrar_banner"), false);
        ADD_FAILURE() << "the write was not refused";
    } catch (const qdx::IniWriteError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Unable to write to ") + configPath());
    }
    EXPECT_EQ(readAll(configPath()), content);
}

TEST(Mensagens, ShowTheTextCaptionedWithTheApplicationTitle) {
    qdx::test::ScriptedPrompts prompts;
    MensagemInformacao(QStringLiteral("Picture saved."));
    MensagemErro(QStringLiteral("Invalid folder!"));
    ASSERT_EQ(prompts.asked.size(), 2u);
    EXPECT_EQ(prompts.asked[0].kind, QStringLiteral("information"));
    EXPECT_EQ(prompts.asked[0].caption, QStringLiteral("Quadrix"));
    EXPECT_EQ(prompts.asked[0].text, QStringLiteral("Picture saved."));
    EXPECT_EQ(prompts.asked[1].kind, QStringLiteral("error"));
    EXPECT_EQ(prompts.asked[1].caption, QStringLiteral("Quadrix"));
    EXPECT_EQ(prompts.asked[1].text, QStringLiteral("Invalid folder!"));
}
