#include "avi/TAviCapture.h"
#include "platform/core/AppFolder.h"
#include "platform/core/WorkFileLock.h"
#include "platform/vfw/CompressorChooser.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
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
    EXPECT_EQ(joined(ffmpegPictures(target, 16, 16)),
              joined(ffmpegPictures(source, 16, 16)).mid(5 * 16 * 16 * 3, 16 * 16 * 3));
}

// A target is replaced only by a complete film: a cancelled or failed operation leaves the file
// of that name as it was, and leaves no partial file behind. The outcome tells a cancel (nothing
// shown) from a failure, whose reason names the film; the engine itself shows nothing.
TEST_F(AviEditing, ACancelledOrFailedOperationKeepsTheFileOfTheTargetsName) {
    const QString source = film(QStringLiteral("src.avi"), 4, true);
    const QString target = dir.file(QStringLiteral("old.avi"));
    ASSERT_TRUE(writeAll(target, QByteArray(5000, 'x')));
    chooser.setCancel(true);
    for (const FilmOutcome& cancelled :
         {engine.CopySelection(false, 0, 3, source, target),
          engine.CopySelection(true, 0, 3, source, target),
          engine.RemoveSelection(false, 0, 1, source, target),
          engine.RemoveSelection(true, 0, 1, source, target),
          engine.SplitFilm(true, 0, 3, 2, source, dir.file(QStringLiteral("part"))),
          engine.JoinFilms(true, {source + QStringLiteral("=4")}, target, 4)}) {
        EXPECT_EQ(cancelled.kind, FilmOutcome::Cancelled) << cancelled.reason.toStdString();
        EXPECT_TRUE(cancelled.reason.isEmpty());
    }
    EXPECT_FALSE(engine.CompressFile(source, target));
    EXPECT_TRUE(prompts.asked.empty()) << "a cancel shows nothing";
    chooser.setCancel(false);

    // A missing source, and a target whose name a folder holds (the rename fails): failures.
    const FilmOutcome missing =
        engine.CopySelection(false, 0, 3, dir.file(QStringLiteral("gone.avi")), target);
    EXPECT_EQ(missing.kind, FilmOutcome::Failed);
    EXPECT_TRUE(missing.reason.contains(dir.file(QStringLiteral("gone.avi"))))
        << missing.reason.toStdString();
    const QString folder = dir.file(QStringLiteral("folder.avi"));
    ASSERT_TRUE(QDir().mkdir(folder));
    for (bool sound : {false, true}) {
        const FilmOutcome renamed = engine.RemoveSelection(sound, 0, 1, source, folder);
        EXPECT_EQ(renamed.kind, FilmOutcome::Failed) << sound;
        EXPECT_TRUE(renamed.reason.contains(folder)) << renamed.reason.toStdString();
    }
    const FilmOutcome joined = engine.JoinFilms(false, {source + QStringLiteral("=4")}, folder, 4);
    EXPECT_EQ(joined.kind, FilmOutcome::Failed);
    EXPECT_TRUE(joined.reason.contains(QStringLiteral("Is a directory")))
        << joined.reason.toStdString();
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(readAll(target), QByteArray(5000, 'x'));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    expectNoTemporaries();
}

// The work films and sound files of an operation are locked while it runs: a clean-up of
// temporary files (this program's or another's) cannot delete one from under it.
TEST_F(AviEditing, WorkFilesAreHeldWhileTheOperationUsesThem) {
    const QString talk = film(QStringLiteral("talk.avi"), 25, true);
    int seen = 0;
    int removed = 0;
    auto cleanUp = [&] {
        for (const QString& name : QDir(appFolder.path()).entryList(QDir::Files)) {
            ++seen;
            if (qdx::WorkFileLock::removeIfUnused(QDir(appFolder.path()).filePath(name)))
                ++removed;
        }
    };
    engine.OnExtractFramesProgress = [&](int, int, int, TAviCapture*, bool&) {
        cleanUp();
    };
    engine.OnProgress = [&](int, TAviCapture*, bool&) {
        cleanUp();
    };
    const QString target = dir.file(QStringLiteral("out.avi"));
    ASSERT_TRUE(engine.CompressFile(talk, target));
    engine.CopySelection(true, 0, 9, talk, dir.file(QStringLiteral("cut.avi")));
    EXPECT_GT(seen, 0);
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(probeFrameCount(target), 25);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("cut.avi"))), 10);
    expectNoTemporaries();
}

// Every operation may name its source as its target: the source is read to the end before the
// new film takes its name.
TEST_F(AviEditing, ATargetThatNamesTheSourceIsReplacedByTheWholeFilm) {
    const QString talk = film(QStringLiteral("talk.avi"), 50, true);
    const qint64 samples = probeAudioSamples(talk);
    const QByteArray pictures = joined(ffmpegPictures(talk, 16, 16));
    const int frame = 16 * 16 * 3;
    const qdx::vfw::Compressor* mjpeg = qdx::vfw::findCompressor(mmioFOURCC('M', 'J', 'P', 'G'));
    ASSERT_NE(mjpeg, nullptr);
    chooser.setAnswer(qdx::vfw::defaultOptions(*mjpeg));
    ASSERT_TRUE(engine.CompressFile(talk, talk));
    EXPECT_EQ(probeVideoCodec(talk), QStringLiteral("mjpeg"));
    EXPECT_EQ(probeFrameCount(talk), 50);
    EXPECT_EQ(probeAudioSamples(talk), samples);

    chooser.setAnswer(qdx::vfw::defaultOptions(qdx::vfw::compressors()[0]));
    const QString silent = film(QStringLiteral("silent.avi"), 20);
    const QByteArray silentPictures = joined(ffmpegPictures(silent, 16, 16));
    ASSERT_TRUE(engine.CompressFile(silent, silent));
    EXPECT_EQ(joined(ffmpegPictures(silent, 16, 16)), silentPictures);
    engine.CopySelection(false, 5, 9, silent, silent);
    EXPECT_EQ(joined(ffmpegPictures(silent, 16, 16)), silentPictures.mid(5 * frame, 5 * frame));
    engine.JoinFilms(false, {silent + QStringLiteral("=5"), silent + QStringLiteral("=5")}, silent,
                     10);
    EXPECT_EQ(probeFrameCount(silent), 10);

    const QString again = film(QStringLiteral("again.avi"), 50, true);
    engine.RemoveSelection(true, 0, 9, again, again);
    EXPECT_EQ(probeFrameCount(again), 40);
    EXPECT_EQ(probeAudioSamples(again), 88200 - 17640);
    engine.SplitFilm(true, 0, 39, 1, again, dir.file(QStringLiteral("again")));
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("again01.avi"))), 40);
    EXPECT_EQ(joined(ffmpegPictures(dir.file(QStringLiteral("again01.avi")), 16, 16)),
              pictures.mid(10 * frame));
    expectNoTemporaries();
}

TEST_F(AviEditing, SplitPartitionsAndNamesTheParts) {
    const QString source = film(QStringLiteral("src.avi"), 10);
    const QString target = dir.file(QStringLiteral("clip.avi"));
    engine.SplitFilm(false, 0, 9, 3, source, target);
    EXPECT_EQ(chooser.timesAsked(), 3);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("clip01.avi"))), 4);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("clip02.avi"))), 3);
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("clip03.avi"))), 3);
    const QByteArray all = joined(ffmpegPictures(source, 16, 16));
    const int frame = 16 * 16 * 3;
    EXPECT_EQ(joined(ffmpegPictures(dir.file(QStringLiteral("clip02.avi")), 16, 16)),
              all.mid(4 * frame, 3 * frame));
}

// A split whose part would be written over its own source (by its name or through a link) is
// refused before anything is written: every part must read the source as it was.
TEST_F(AviEditing, ASplitThatWouldWriteOverItsSourceIsRefused) {
    const QString source = film(QStringLiteral("clip01.avi"), 12, true);
    const QByteArray before = readAll(source);
    const QString link = dir.file(QStringLiteral("other02.avi"));
    ASSERT_TRUE(QFile::link(source, link));
    for (const QString& target :
         {dir.file(QStringLiteral("clip.avi")), dir.file(QStringLiteral("./other.AVI"))}) {
        const FilmOutcome outcome = engine.SplitFilm(true, 0, 11, 3, source, target);
        EXPECT_EQ(outcome.kind, FilmOutcome::Failed) << target.toStdString();
        EXPECT_TRUE(outcome.reason.contains(TAviCapture::SplitPartName(target, 1)) ||
                    outcome.reason.contains(TAviCapture::SplitPartName(target, 2)))
            << outcome.reason.toStdString();
    }
    EXPECT_EQ(chooser.timesAsked(), 0);
    EXPECT_EQ(readAll(source), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
    expectNoTemporaries();
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

QByteArray pcm(const QString& file);

// A film without sound takes its place in the joined sound as silence as long as its frames, so
// that every later film's sound plays with its own frames.
TEST_F(AviEditing, JoiningWithSoundPutsEachFilmsSoundWithItsFrames) {
    const QString a = film(QStringLiteral("a.avi"), 25, true);
    const QString b = film(QStringLiteral("b.avi"), 50, true);
    const QString silent = film(QStringLiteral("s.avi"), 5);
    const QString target = dir.file(QStringLiteral("joined.avi"));
    EXPECT_TRUE(engine
                    .JoinFilms(true,
                               {silent + QStringLiteral("=5"), a + QStringLiteral("=25"),
                                silent + QStringLiteral("=5"), b + QStringLiteral("=50")},
                               target, 85)
                    .succeeded());
    EXPECT_EQ(probeFrameCount(target), 85);
    EXPECT_EQ(probeAudioSamples(target), 8820 + 44100 + 8820 + 88200);
    const QByteArray quiet(8820 * 2, '\0');
    EXPECT_EQ(pcm(target), quiet + pcm(a) + quiet + pcm(b));
    EXPECT_EQ(chooser.timesAsked(), 1) << "the merge reuses the choice of the picture step";
    // No film with sound: a failure that says so.
    const FilmOutcome none = engine.JoinFilms(true, {silent + QStringLiteral("=5")},
                                              dir.file(QStringLiteral("n.avi")), 5);
    EXPECT_EQ(none.kind, FilmOutcome::Failed);
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("n.avi"))));
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
    EXPECT_EQ(probeAudioSamples(target), 44100) << "the 25th frame's sound is copied too";
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
    const FilmOutcome outcome =
        engine.CopySelection(true, 0, 3, dir.file(QStringLiteral("gone.avi")), target);
    EXPECT_EQ(outcome.kind, FilmOutcome::Failed);
    EXPECT_TRUE(outcome.reason.startsWith(
        QStringLiteral("Não foi possível extrair os quadros do filme!\r")))
        << outcome.reason.toStdString();
    EXPECT_TRUE(outcome.reason.endsWith(QStringLiteral("Arquivo: ") +
                                        dir.file(QStringLiteral("gone.avi"))));
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_FALSE(QFileInfo::exists(target));
}

// The sound of a range and the sound of the rest of the film are together exactly the film's
// sound, at any frame rate: a film cut into parts and joined again sounds as it did, and one frame
// has its sound.
class AviSoundRanges : public AviEditing, public ::testing::WithParamInterface<int> {};

QByteArray pcm(const QString& file) {
    const ProcessResult r =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file,
             QStringLiteral("-vn"), QStringLiteral("-f"), QStringLiteral("s16le"),
             QStringLiteral("-")});
    EXPECT_EQ(r.exitCode, 0) << file.toStdString() << r.err.constData();
    return r.out;
}

TEST_P(AviSoundRanges, ARangeAndTheRestHoldEverySampleOnce) {
    FilmRecipe recipe;
    recipe.width = 16;
    recipe.height = 16;
    recipe.sound = true;
    recipe.rate = GetParam();
    recipe.scale = GetParam() == 25 ? 1 : 1001;
    recipe.frames = GetParam() == 25 ? 50 : 60;
    const QString source = makeFilm(dir, QStringLiteral("tone.avi"), recipe);
    int first = 0;
    int last = 0;
    ASSERT_TRUE(engine.GetFrameRange(source, first, last));
    const QByteArray all = pcm(source);
    ASSERT_GT(all.size(), 0);

    const QString part = dir.file(QStringLiteral("part.wav"));
    const QString rest = dir.file(QStringLiteral("rest.wav"));
    for (auto [from, to] :
         {std::pair{0, 0}, {3, 17}, {20, last}, {last, last}, {0, last}, {9, 4}}) {
        ASSERT_TRUE(engine.ExtractSound(from, to, source, part, 0)) << from << ".." << to;
        ASSERT_TRUE(engine.ExcludeSound(from, to, source, rest)) << from << ".." << to;
        const QByteArray a = pcm(part);
        const QByteArray b = pcm(rest);
        EXPECT_EQ(a.size() + b.size(), all.size()) << from << ".." << to;
        if (from > to) {
            EXPECT_TRUE(a.isEmpty());
            EXPECT_EQ(b, all) << "an empty range removes nothing";
            continue;
        }
        EXPECT_GT(a.size(), 0) << "frames " << from << ".." << to << " have their sound";
        // The rest is the film's sound with the range's sound taken out of it, in place.
        const qsizetype at = all.indexOf(a);
        EXPECT_EQ(b, all.left(at) + all.mid(at + a.size())) << from << ".." << to;
    }

    // Cut into three parts and joined again: the whole sound, sample for sample.
    engine.SplitFilm(true, first, last, 3, source, dir.file(QStringLiteral("cut")));
    QStringList films;
    int total = 0;
    for (int k = 1; k <= 3; ++k) {
        const QString name = TAviCapture::SplitPartName(dir.file(QStringLiteral("cut")), k);
        const int frames = probeFrameCount(name);
        films << name + QLatin1Char('=') + QString::number(frames);
        total += frames;
    }
    EXPECT_EQ(total, last - first + 1);
    const QString joined = dir.file(QStringLiteral("joined.avi"));
    engine.JoinFilms(true, films, joined, total);
    EXPECT_EQ(probeFrameCount(joined), total);
    EXPECT_EQ(pcm(joined), all);
    expectNoTemporaries();
}

INSTANTIATE_TEST_SUITE_P(FramesPerSecond, AviSoundRanges, ::testing::Values(25, 30000),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 25 ? std::string("Rate25")
                                                     : std::string("Rate29_97");
                         });

} // namespace
