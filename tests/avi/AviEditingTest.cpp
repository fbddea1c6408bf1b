#include "avi/TAviCapture.h"
#include "platform/core/AppFolder.h"
#include "platform/vfw/CompressorChooser.h"
#include "tests/avi/FilmMaker.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using namespace qdx::test;

class AviEditing : public ::testing::Test {
protected:
    TempDir dir;
    TempDir appFolder;
    ScriptedPrompts prompts;
    qdx::vfw::PresetCompressorChooser chooser;
    qdx::vfw::CompressorChooser* previousChooser = qdx::vfw::setCompressorChooser(&chooser);
    TAviCapture engine;

    void SetUp() override { qdx::setApplicationFolder(appFolder.path()); }
    void TearDown() override { qdx::vfw::setCompressorChooser(previousChooser); }

    QString film(const QString& name, int frames, bool sound = false) {
        FilmRecipe recipe;
        recipe.width = 16;
        recipe.height = 16;
        recipe.frames = frames;
        recipe.sound = sound;
        return makeFilm(dir, name, recipe);
    }
    // Temporary films and sound files of the editing operations do not stay behind.
    void expectNoTemporaries() {
        EXPECT_TRUE(
            QDir(appFolder.path()).entryList({QStringLiteral("tmp_*")}, QDir::Files).isEmpty());
    }
};

TEST_F(AviEditing, CopyingOneFrameGivesAOneFrameFilm) {
    const QString source = film(QStringLiteral("src.avi"), 10);
    const QString target = dir.file(QStringLiteral("one.avi"));
    engine.CopySelection(false, 5, 5, source, target);
    EXPECT_EQ(probeFrameCount(target), 1);
    EXPECT_EQ(decodeFrames(target, 16, 16),
              decodeFrames(source, 16, 16).mid(5 * 16 * 16 * 3, 16 * 16 * 3));
}

TEST_F(AviEditing, AnExistingTargetIsDeletedBeforeTheCompressorDialog) {
    const QString source = film(QStringLiteral("src.avi"), 4);
    const QString target = dir.file(QStringLiteral("old.avi"));
    ASSERT_TRUE(writeAll(target, QByteArray(5000, 'x')));
    chooser.setCancel(true);
    engine.CopySelection(false, 0, 3, source, target);
    ASSERT_TRUE(QFileInfo::exists(target));
    EXPECT_NE(readAll(target), QByteArray(5000, 'x'));
    EXPECT_EQ(probeFrameCount(target), 0);
}

TEST_F(AviEditing, SplitPartitionsAndNamesTheParts) {
    const QString source = film(QStringLiteral("src.avi"), 10);
    const QString target = dir.file(QStringLiteral("clip.avi"));
    engine.SplitFilm(false, 0, 9, 3, source, target);
    EXPECT_EQ(chooser.timesAsked(), 3);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("clip01.avi"))), 4);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("clip02.avi"))), 3);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("clip03.avi"))), 3);
    const QByteArray all = decodeFrames(source, 16, 16);
    const int frame = 16 * 16 * 3;
    EXPECT_EQ(decodeFrames(dir.file(QStringLiteral("clip02.avi")), 16, 16),
              all.mid(4 * frame, 3 * frame));
}

TEST_F(AviEditing, MorePartsThanFramesGiveEmptyParts) {
    const QString source = film(QStringLiteral("src.avi"), 10);
    engine.SplitFilm(false, 0, 9, 12, source, dir.file(QStringLiteral("p")));
    for (int k = 1; k <= 10; ++k)
        EXPECT_EQ(
            probeFrameCount(dir.file(QStringLiteral("p%1.avi").arg(k, 2, 10, QLatin1Char('0')))), 1)
            << k;
    for (int k : {11, 12}) {
        const QString part = dir.file(QStringLiteral("p%1.avi").arg(k));
        EXPECT_TRUE(QFileInfo::exists(part)) << k;
        EXPECT_EQ(probeFrameCount(part), 0) << k;
    }
}

TEST(AviSplitNames, FollowTheTargetsName) {
    EXPECT_EQ(TAviCapture::SplitPartName(QStringLiteral("/v/clip.avi"), 1),
              QStringLiteral("/v/clip01.avi"));
    EXPECT_EQ(TAviCapture::SplitPartName(QStringLiteral("/v/clip"), 2),
              QStringLiteral("/v/clip02.avi"));
    EXPECT_EQ(TAviCapture::SplitPartName(QStringLiteral("/v/Clip.AVI"), 1),
              QStringLiteral("/v/Clip01.avi"));
    EXPECT_EQ(TAviCapture::SplitPartName(QStringLiteral("/v/clip.avi"), 100),
              QStringLiteral("/v/clip100.avi"));
    // A folder whose name holds ".avi" does not cut the path.
    EXPECT_EQ(TAviCapture::SplitPartName(QStringLiteral("/films.avi/clip.avi"), 3),
              QStringLiteral("/films.avi/clip03.avi"));
}

TEST_F(AviEditing, JoiningWithSoundPutsTheSecondFilmsSoundAfterTheFirsts) {
    const QString a = film(QStringLiteral("a.avi"), 25, true);
    const QString b = film(QStringLiteral("b.avi"), 50, true);
    const QString target = dir.file(QStringLiteral("joined.avi"));
    engine.JoinFilms(true, {a + QStringLiteral("=25"), b + QStringLiteral("=50")}, target, 75);
    EXPECT_EQ(probeFrameCount(target), 75);
    EXPECT_EQ(probeAudioSamples(target), 44100 + 88200);
    EXPECT_EQ(chooser.timesAsked(), 1) << "the merge reuses the choice of the picture step";
    expectNoTemporaries();
}

TEST_F(AviEditing, CopyingWithSoundKeepsPictureAndSound) {
    const QString source = film(QStringLiteral("talk.avi"), 50, true);
    const QString target = dir.file(QStringLiteral("cut.avi"));
    int percent = -1;
    engine.OnProgress = [&](int i, TAviCapture*, bool&) {
        EXPECT_GE(i, percent);
        percent = i;
    };
    engine.CopySelection(true, 0, 24, source, target);
    EXPECT_EQ(probeFrameCount(target), 25);
    EXPECT_EQ(probeAudioSamples(target), 42336);
    EXPECT_GE(percent, 0);
    expectNoTemporaries();
}

TEST_F(AviEditing, CopyingWithSoundFromASilentFilmAsksAndCanKeepThePicture) {
    const QString source = film(QStringLiteral("silent.avi"), 6);
    const QString target = dir.file(QStringLiteral("picture.avi"));
    prompts.answers = {true};
    engine.CopySelection(true, 0, 5, source, target);
    EXPECT_EQ(prompts.texts(QStringLiteral("question")),
              QStringList{QStringLiteral("Não foi possível extrair o som do video, você deseja "
                                         "extrair o arquivo de video sem som?")});
    EXPECT_EQ(probeFrameCount(target), 6);
    EXPECT_EQ(chooser.timesAsked(), 2) << "the picture alone goes through the dialog again";

    prompts.answers = {false};
    const QString none = dir.file(QStringLiteral("nothing.avi"));
    engine.CopySelection(true, 0, 5, source, none);
    EXPECT_FALSE(QFileInfo::exists(none));
    expectNoTemporaries();
}

TEST_F(AviEditing, RemovingWithSoundFromASilentFilmEndsWithoutATarget) {
    const QString source = film(QStringLiteral("silent.avi"), 6);
    const QString target = dir.file(QStringLiteral("rest.avi"));
    engine.RemoveSelection(true, 1, 2, source, target);
    EXPECT_EQ(chooser.timesAsked(), 1);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(AviEditing, RemovingWithSoundKeepsTheRestOfBoth) {
    const QString source = film(QStringLiteral("talk.avi"), 50, true);
    const QString target = dir.file(QStringLiteral("rest.avi"));
    engine.RemoveSelection(true, 0, 9, source, target);
    EXPECT_EQ(probeFrameCount(target), 40);
    EXPECT_EQ(probeAudioSamples(target), 88200 - 17640);
}

TEST_F(AviEditing, APictureStepThatFailsIsReported) {
    const QString target = dir.file(QStringLiteral("x.avi"));
    engine.CopySelection(true, 0, 3, dir.file(QStringLiteral("gone.avi")), target);
    const QStringList errors = prompts.texts(QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[1], QStringLiteral("Não foi possível extrair os quadros do filme!"));
    EXPECT_FALSE(QFileInfo::exists(target));
}

} // namespace
