// The film verbs of qdx: a target that names the source, ranges outside the film, targets that
// cannot be written whole, the target's permissions and links, and the partial files of ended
// operations. qdx exits 0 only when the target holds exactly the frames asked for.

#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"

#include "platform/core/PartialFile.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

// A split whose first part is named as its source is refused before anything is written, and
// every failure of an editing verb prints the engine's reason and exits non-zero.
TEST_F(FilmTool, ASplitOverItsSourceIsRefusedAndFailuresSayWhy) {
    const QString source = film(QStringLiteral("clip01.avi"), 60, true);
    const QByteArray before = readAll(source);
    ProcessResult r = qdx({QStringLiteral("split"), source, QStringLiteral("3"),
                           dir.file(QStringLiteral("clip.avi")), QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(source.toUtf8())) << r.err.constData();
    EXPECT_EQ(readAll(source), before);
    EXPECT_EQ(files(), QStringList{QStringLiteral("clip01.avi")});

    // A target that a folder holds: the rename fails, and qdx says so.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.avi")));
    r = qdx({QStringLiteral("copy"), source, QStringLiteral("0"), QStringLiteral("9"),
             dir.file(QStringLiteral("folder.avi"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Is a directory")) << r.err.constData();
    EXPECT_EQ(files(), QStringList{QStringLiteral("clip01.avi")});
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

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A film is replaced as the user's files expect, by every kind of write (the frame pipeline, the
// merge with sound, the compression of a film in place): a read-only film is refused and stays as
// it was, for root too; a replaced film keeps its permissions; a link stays a link and the film
// it names is the one replaced, and a dangling link gets the film it names.
TEST_F(FilmTool, FilmWritesRespectTheTargetsPermissionsAndLinks) {
    const QString source = film(QStringLiteral("source.avi"), 20, true);
    const QString locked = dir.file(QStringLiteral("locked.avi"));
    ASSERT_TRUE(QFile::copy(source, locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0444), 0);
    const QByteArray lockedBytes = readAll(locked);
    for (const QStringList& words :
         {QStringList{QStringLiteral("copy"), source, QStringLiteral("0"), QStringLiteral("9"),
                      locked},
          QStringList{QStringLiteral("copy"), source, QStringLiteral("0"), QStringLiteral("9"),
                      locked, QStringLiteral("--sound")},
          QStringList{QStringLiteral("compress"), locked, locked, QStringLiteral("--codec"),
                      QStringLiteral("MJPG")}}) {
        const ProcessResult r = qdx(words);
        EXPECT_EQ(r.exitCode, 1) << words.join(' ').toLocal8Bit().constData();
        EXPECT_TRUE(r.err.contains("locked.avi: the film there is read-only")) << r.err.constData();
        EXPECT_EQ(readAll(locked), lockedBytes);
        EXPECT_EQ(modeOf(locked), mode_t(0444));
    }

    const QString secret = dir.file(QStringLiteral("secret.avi"));
    ASSERT_TRUE(writeAll(secret, "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
    ProcessResult r = qdx({QStringLiteral("copy"), source, QStringLiteral("0"), QStringLiteral("9"),
                           secret, QStringLiteral("--sound")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(probeFrameCount(secret), 10);
    EXPECT_EQ(modeOf(secret), mode_t(0600));

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("films")));
    const QString named = dir.file(QStringLiteral("films/named.avi"));
    ASSERT_TRUE(writeAll(named, "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(named).constData(), 0640), 0);
    const QString link = dir.file(QStringLiteral("link.avi"));
    ASSERT_TRUE(QFile::link(named, link));
    const QString dangling = dir.file(QStringLiteral("dangling.avi"));
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("films/new.avi")), dangling));
    for (const bool sound : {false, true}) {
        QStringList words{QStringLiteral("copy"), source, QStringLiteral("5"), QStringLiteral("9"),
                          link};
        if (sound)
            words << QStringLiteral("--sound");
        r = qdx(words);
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(probeFrameCount(named), 5);
        EXPECT_EQ(modeOf(named), mode_t(0640));
    }
    r = qdx({QStringLiteral("compress"), dangling, dangling}); // nothing to read there
    EXPECT_NE(r.exitCode, 0);
    r = qdx({QStringLiteral("copy"), source, QStringLiteral("0"), QStringLiteral("3"), dangling});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
    EXPECT_EQ(probeFrameCount(dir.file(QStringLiteral("films/new.avi"))), 4);
    // No partial file stays anywhere.
    EXPECT_EQ(
        QDir(dir.file(QStringLiteral("films"))).entryList(QDir::Files | QDir::Hidden, QDir::Name),
        (QStringList{QStringLiteral("named.avi"), QStringLiteral("new.avi")}));
    EXPECT_EQ(files(), (QStringList{QStringLiteral("dangling.avi"), QStringLiteral("link.avi"),
                                    QStringLiteral("locked.avi"), QStringLiteral("secret.avi"),
                                    QStringLiteral("source.avi")}));
}

// The partial files that ended operations leave are removed: qdx removes its own when a signal
// ends it, and the next film written into a folder removes those that no living process holds.
// Nothing but partial names is touched, and a partial file whose writer lives stays.
TEST_F(FilmTool, PartialFilesOfEndedOperationsAreRemoved) {
    FilmRecipe recipe;
    recipe.width = 1280;
    recipe.height = 720;
    recipe.frames = 60;
    const QString big = makeFilm(dir, QStringLiteral("big.avi"), recipe);
    const QString target = dir.file(QStringLiteral("out.avi"));
    const QByteArray program = QFile::encodeName(builtProgram(QStringLiteral("qdx")));
    ASSERT_EQ(::setenv("QUADRIX_HOME", QFile::encodeName(home.path()).constData(), 1), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::vector<QByteArray> words{program,
                                      "compress",
                                      QFile::encodeName(big),
                                      QFile::encodeName(target),
                                      "--codec",
                                      "H264",
                                      "--threads",
                                      "1"};
        std::vector<char*> argv;
        for (QByteArray& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        // Signalled once its partial file is there, while it encodes.
        bool writing = false;
        for (int i = 0; i < 3000 && !writing; ++i) {
            writing =
                !QDir(dir.path())
                     .entryList({QStringLiteral(".out.partial-*")}, QDir::Files | QDir::Hidden)
                     .isEmpty();
            if (!writing)
                QThread::msleep(5);
        }
        EXPECT_TRUE(writing);
        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(files(), (QStringList{QStringLiteral("big.avi")})) << signal;
    }

    // What a SIGKILL (or a crash) leaves, beside names that only look alike and a partial file
    // whose writer is still at work.
    const QString hex(32, QLatin1Char('a'));
    const QStringList stale{QStringLiteral(".old.partial-") + hex + QStringLiteral(".avi"),
                            QStringLiteral(".x.y.partial-") + hex + QStringLiteral(".wav"),
                            QStringLiteral(".noext.partial-") + hex};
    const QStringList alike{QStringLiteral("old.partial-") + hex + QStringLiteral(".avi"),
                            QStringLiteral(".old.partial-") + hex.left(31) + QStringLiteral(".avi"),
                            QStringLiteral(".old.partial-") + hex.toUpper() +
                                QStringLiteral(".avi"),
                            QStringLiteral(".old.partial-") + hex + QStringLiteral(".avi.keep")};
    for (const QString& name : stale + alike)
        ASSERT_TRUE(writeAll(dir.file(name), "x"));
    const qdx::PartialFile working(dir.file(QStringLiteral("busy.avi")));
    ASSERT_TRUE(working.held());
    const ProcessResult r = qdx({QStringLiteral("copy"), big, QStringLiteral("0"),
                                 QStringLiteral("1"), dir.file(QStringLiteral("two.avi"))});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    QStringList expected = alike;
    expected << QStringLiteral("big.avi") << QStringLiteral("two.avi")
             << QFileInfo(working.path()).fileName();
    expected.sort();
    EXPECT_EQ(files(), expected);
}

} // namespace
