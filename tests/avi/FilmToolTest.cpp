// The film verbs of qdx: a target that names the source, ranges outside the film, and targets that
// cannot be written whole. qdx exits 0 only when the target holds exactly the frames asked for.

#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using namespace qdx::test;

class FilmTool : public ::testing::Test {
protected:
    TempDir dir;
    TempDir home;

    ProcessResult qdx(const QStringList& arguments) {
        return run(builtProgram(QStringLiteral("qdx")), arguments, 120000, {},
                   {QStringLiteral("QUADRIX_HOME=") + home.path()});
    }
    QString film(const QString& name, int frames, bool sound) {
        FilmRecipe recipe;
        recipe.width = 32;
        recipe.height = 24;
        recipe.frames = frames;
        recipe.sound = sound;
        return makeFilm(dir, name, recipe);
    }
    QStringList files() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

TEST_F(FilmTool, ATargetThatNamesTheSourceIsRecompressedInPlace) {
    const QString talk = film(QStringLiteral("talk.avi"), 50, true);
    const qint64 samples = probeAudioSamples(talk);
    ProcessResult r = qdx({QStringLiteral("compress"), talk, talk, QStringLiteral("--codec"),
                           QStringLiteral("MJPG")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(probeVideoCodec(talk), QStringLiteral("mjpeg"));
    EXPECT_EQ(probeFrameCount(talk), 50);
    EXPECT_EQ(probeAudioSamples(talk), samples);

    const QString silent = film(QStringLiteral("silent.avi"), 50, false);
    r = qdx({QStringLiteral("compress"), silent, silent, QStringLiteral("--codec"),
             QStringLiteral("MJPG")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(probeFrameCount(silent), 50);

    r = qdx({QStringLiteral("copy"), silent, QStringLiteral("10"), QStringLiteral("19"), silent});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(probeFrameCount(silent), 10);
    EXPECT_EQ(files(), (QStringList{QStringLiteral("silent.avi"), QStringLiteral("talk.avi")}));
}

// "--codec copy" copies the stored frames, cut exactly: H.264 with B-frames decodes cleanly and
// holds the frames asked for. A recording has nothing to copy from.
TEST_F(FilmTool, CodecCopyCutsAFilmWithoutRecompressingIt) {
    FilmRecipe recipe;
    recipe.width = 64;
    recipe.height = 48;
    recipe.frames = 50;
    recipe.sound = true;
    recipe.codec = QStringLiteral("libx264");
    recipe.pixelFormat = QStringLiteral("yuv420p");
    recipe.bFrames = 2;
    recipe.keyFrameEvery = 10;
    const QString source = makeFilm(dir, QStringLiteral("h264.avi"), recipe);
    const QString target = dir.file(QStringLiteral("cut.avi"));
    ProcessResult r =
        qdx({QStringLiteral("copy"), source, QStringLiteral("13"), QStringLiteral("36"), target,
             QStringLiteral("--codec"), QStringLiteral("copy"), QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(decodeComplaints(target), QByteArray());
    EXPECT_EQ(probeFrameCount(target), 24);
    EXPECT_EQ(probeVideoCodec(target), QStringLiteral("h264"));
    EXPECT_EQ(frameMd5s(target).mid(7, 14), frameMd5s(source).mid(20, 14));

    // A codec without a bridge (FFV1 with key frames every 12 frames): a removal inside one group
    // is refused with its reason and a non-zero exit; one that ends between key frames keeps the
    // frames from the key frame before its end, says so, and the sound follows exactly.
    recipe.codec = QStringLiteral("ffv1");
    recipe.bFrames = 0;
    recipe.keyFrameEvery = 12;
    recipe.frames = 60;
    const QString ffv1 = makeFilm(dir, QStringLiteral("ffv1.avi"), recipe);
    const QStringList md5s = frameMd5s(ffv1);
    const QString removed = dir.file(QStringLiteral("removed.avi"));
    r = qdx({QStringLiteral("remove"), ffv1, QStringLiteral("14"), QStringLiteral("16"), removed,
             QStringLiteral("--codec"), QStringLiteral("copy"), QStringLiteral("--sound")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("lie between two key frames")) << r.err.constData();
    EXPECT_FALSE(QFileInfo::exists(removed));
    r = qdx({QStringLiteral("remove"), ffv1, QStringLiteral("14"), QStringLiteral("30"), removed,
             QStringLiteral("--codec"), QStringLiteral("copy"), QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.contains("The film resumes at frame 25")) << r.err.constData();
    EXPECT_EQ(frameMd5s(removed), md5s.mid(0, 14) + md5s.mid(24));
    EXPECT_EQ(probeAudioSamples(removed), probeAudioSamples(ffv1) / 60 * 50);

    r = qdx({QStringLiteral("record"), dir.file(QStringLiteral("rec.avi")),
             QStringLiteral("--seconds"), QStringLiteral("1"), QStringLiteral("--compress"),
             QStringLiteral("--codec"), QStringLiteral("copy")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--codec copy")) << r.err.constData();
}

TEST_F(FilmTool, RangesAreCutToTheFilmOrRefused) {
    const QString source = film(QStringLiteral("a.avi"), 50, true);
    // Past the end: cut to the film, and said.
    ProcessResult r =
        qdx({QStringLiteral("copy"), source, QStringLiteral("40"), QStringLiteral("60"),
             dir.file(QStringLiteral("x.avi")), QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.contains("40 to 49")) << r.err.constData();
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("x.avi"))), 10);
    EXPECT_EQ(probeAudioSamples(dir.file(QStringLiteral("x.avi"))), 17640);
    // Wholly outside: an error, and no target.
    r = qdx({QStringLiteral("copy"), source, QStringLiteral("60"), QStringLiteral("70"),
             dir.file(QStringLiteral("y.avi"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("outside")) << r.err.constData();
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("y.avi"))));
    // A first frame after the last is a usage error, not a film of doubled sound.
    r = qdx({QStringLiteral("remove"), source, QStringLiteral("10"), QStringLiteral("5"),
             dir.file(QStringLiteral("r.avi")), QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("r.avi"))));
    // Removing a range keeps exactly the rest, picture and sound.
    r = qdx({QStringLiteral("remove"), source, QStringLiteral("5"), QStringLiteral("10"),
             dir.file(QStringLiteral("r.avi")), QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("r.avi"))), 44);
    EXPECT_EQ(probeAudioSamples(dir.file(QStringLiteral("r.avi"))), 88200 - 6 * 1764);
}

// A film that cannot be written whole (a file-size limit standing for a full disk) is a failure
// that keeps the file that was there.
TEST_F(FilmTool, AFilmCutShortIsAFailureThatKeepsTheOldFile) {
    const QString source = film(QStringLiteral("a.avi"), 50, false);
    const QString target = dir.file(QStringLiteral("old.avi"));
    ASSERT_TRUE(writeAll(target, "old"));
    // The shell ignores SIGXFSZ so that the write fails with EFBIG instead of killing qdx.
    const ProcessResult r =
        run(QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("trap '' XFSZ; ulimit -f 40; exec \"$0\" compress \"$1\" \"$2\""),
             builtProgram(QStringLiteral("qdx")), source, target},
            120000, {}, {QStringLiteral("QUADRIX_HOME=") + home.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("old.avi")) << r.err.constData();
    EXPECT_EQ(readAll(target), QByteArray("old"));
    EXPECT_EQ(files(), (QStringList{QStringLiteral("a.avi"), QStringLiteral("old.avi")}));
}

} // namespace
