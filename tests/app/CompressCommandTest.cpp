// "Compress AVI" on a film made by ffmpeg: the dialogs with their titles, the film settings given
// to the engine, the written film checked by ffprobe, the message and the emptied progress bar.

#include "avi/TAviCapture.h"
#include "shared/Configuracoes.h"
#include "tests/app/AppTestSupport.h"

#include <QFile>
#include <QProgressBar>

using namespace qdx;
using namespace qdx::test;

namespace {

class CompressCommand : public MainWindowFixture {};

TEST_F(CompressCommand, ASourceFilmIsWrittenAgainAndTheSuccessIsSaidOnce) {
    if (!haveTool(QStringLiteral("ffmpeg")) || !haveTool(QStringLiteral("ffprobe")))
        GTEST_SKIP() << "ffmpeg is missing";
    const QString source = path(QStringLiteral("source.avi"));
    const ProcessResult made =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("testsrc=size=64x48:rate=10"), QStringLiteral("-t"),
             QStringLiteral("1"), QStringLiteral("-c:v"), QStringLiteral("mjpeg"), source});
    ASSERT_EQ(made.exitCode, 0) << made.err.constData();

    numero_cores_video = QStringLiteral("256 colors");
    numero_quadros_por_milisegundo = 12;
    compactar_video = false;
    const QString target = path(QStringLiteral("target.avi"));
    prompts.files = {source, target};
    int progressSeen = 0;
    // The engine's progress reaches the bar, whichever event it raises.
    form->AviCapture->OnProgress = [&](int i, TAviCapture* sender, bool& abort) {
        form->AviCaptureProgress(i, sender, abort);
        progressSeen = std::max(progressSeen, form->ProgressBarCompactar->value());
    };
    form->AviCapture->OnExtractFramesProgress = [&](int max, int min, int value,
                                                    TAviCapture* sender, bool& abort) {
        form->AviCaptureExtractFramesProgress(max, min, value, sender, abort);
        progressSeen = std::max(progressSeen, form->ProgressBarCompactar->value());
    };
    form->Comprimir1->trigger();

    ASSERT_EQ(prompts.asked.size(), 3u);
    EXPECT_EQ(prompts.asked[0].text, QStringLiteral("Select the archive to compress."));
    EXPECT_EQ(prompts.asked[0].request.filter, QStringLiteral("Arquivo de Video|*.avi"));
    EXPECT_EQ(prompts.asked[1].text, QStringLiteral("Select the file name to destination."));
    EXPECT_EQ(prompts.asked[1].request.defaultSuffix, QStringLiteral("avi"));
    EXPECT_EQ(prompts.texts(QStringLiteral("information")),
              QStringList{QStringLiteral("File compress successfully!")});
    EXPECT_EQ(form->AviCapture->PixelFormat, pf8bit);
    EXPECT_EQ(form->AviCapture->Rate, 12);
    EXPECT_FALSE(form->AviCapture->PermitirCompactacao);
    EXPECT_GT(progressSeen, 0);
    EXPECT_EQ(form->ProgressBarCompactar->value(), 0);

    const ProcessResult probe =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
             QStringLiteral("-select_streams"), QStringLiteral("v:0"),
             QStringLiteral("-show_entries"), QStringLiteral("stream=width,height,nb_read_frames"),
             QStringLiteral("-of"), QStringLiteral("csv=p=0"), target});
    ASSERT_EQ(probe.exitCode, 0) << probe.err.constData();
    EXPECT_EQ(probe.out.trimmed(), QByteArray("64,48,10"));
}

TEST_F(CompressCommand, CancelledDialogsAndAMissingSourceEndTheCommandSilently) {
    prompts.files = {std::nullopt};
    form->Comprimir1->trigger();
    EXPECT_EQ(prompts.asked.size(), 1u);
    prompts.files = {path(QStringLiteral("a.avi")), std::nullopt};
    form->Comprimir1->trigger();
    EXPECT_EQ(prompts.asked.size(), 3u);
    prompts.files = {path(QStringLiteral("missing.avi")), path(QStringLiteral("out.avi"))};
    form->Comprimir1->trigger();
    EXPECT_EQ(prompts.asked.size(), 5u);
    EXPECT_TRUE(prompts.texts(QStringLiteral("information")).isEmpty());
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("out.avi"))));
}

} // namespace
