// qdx picture: exit codes and messages, and a failed write that keeps the old file.

#include "tests/pictures/PictureTestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace qdx::test;

namespace {

ProcessResult qdxPicture(const QStringList& words) {
    return run(builtProgram(QStringLiteral("qdx")), QStringList{QStringLiteral("picture")} + words);
}

TEST(QdxPicture, ConvertsAndReducesWithTheListedNames) {
    TempDir dir;
    ASSERT_TRUE(testPicture(30, 20).save(dir.file(QStringLiteral("in.bmp"))));
    ProcessResult r =
        qdxPicture({dir.file(QStringLiteral("in.bmp")), dir.file(QStringLiteral("out.gif")),
                    QStringLiteral("--colors"), QStringLiteral("16 colors")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    r = qdxPicture({dir.file(QStringLiteral("out.gif")), dir.file(QStringLiteral("back.bmp"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray bmp = readAll(dir.file(QStringLiteral("back.bmp")));
    ASSERT_GT(bmp.size(), 30);
    EXPECT_EQ(int(bmp[28]), 4) << "a 16-colour GIF comes back as a 4-bit bitmap";
}

TEST(QdxPicture, ExitCodesTellUsageFromFailure) {
    TempDir dir;
    const QString in = dir.file(QStringLiteral("in.bmp"));
    ASSERT_TRUE(testPicture(8, 8).save(in));
    EXPECT_EQ(qdxPicture({in}).exitCode, 2);
    EXPECT_EQ(qdxPicture({in, dir.file(QStringLiteral("a.bmp")), QStringLiteral("--colors"),
                          QStringLiteral("256 Colors")})
                  .exitCode,
              2);
    EXPECT_EQ(
        qdxPicture({in, dir.file(QStringLiteral("a.bmp")), QStringLiteral("--bogus")}).exitCode, 2);

    ProcessResult r = qdxPicture({in, dir.file(QStringLiteral("a.JPG"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(".JPG")) << r.err.constData();
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("a.JPG"))));

    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("junk.gif")), "GIF89a but not really"));
    r = qdxPicture({dir.file(QStringLiteral("junk.gif")), dir.file(QStringLiteral("a.bmp"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("junk.gif")) << r.err.constData();

    r = qdxPicture({in, dir.file(QStringLiteral("missing/a.bmp"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("No such file or directory")) << r.err.constData();
}

TEST(QdxPicture, AFullDiskKeepsTheExistingTarget) {
    TempDir dir;
    const QString in = dir.file(QStringLiteral("big.bmp"));
    ASSERT_TRUE(testPicture(300, 200).save(in));
    const QString target = dir.file(QStringLiteral("target.bmp"));
    ASSERT_TRUE(testPicture(4, 4).save(target));
    const QByteArray before = readAll(target);
    // The shell ignores SIGXFSZ so that the write fails with EFBIG instead of killing qdx.
    const ProcessResult r =
        run(QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("trap '' XFSZ; ulimit -f 8; exec \"$0\" picture \"$1\" \"$2\""),
             builtProgram(QStringLiteral("qdx")), in, target});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("target.bmp")) << r.err.constData();
    EXPECT_EQ(readAll(target), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

} // namespace
