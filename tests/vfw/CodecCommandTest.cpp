// qdx codecs lists the compressors the AVI layer offers.

#include "platform/codec/FourccMap.h"
#include "platform/vfw/CompressorChooser.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace qdx::vfw;

namespace {

TEST(CodecCommand, ListsEveryCompressorWithItsFourcc) {
    const auto r =
        qdx::test::run(qdx::test::builtProgram(QStringLiteral("qdx")), {QStringLiteral("codecs")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), qsizetype(compressors().size()));
    for (size_t i = 0; i < compressors().size(); ++i) {
        const QStringList fields = lines[qsizetype(i)].split(QLatin1Char('\t'));
        ASSERT_EQ(fields.size(), 2) << lines[qsizetype(i)].toStdString();
        EXPECT_EQ(fields[0], FourccMap::text(compressors()[i].fourcc));
        EXPECT_EQ(fields[1], compressors()[i].name);
    }
    EXPECT_EQ(lines.value(0), QStringLiteral("DIB \tFull Frames (Uncompressed)"));
    EXPECT_TRUE(lines.contains(QStringLiteral("MJPG\tMotion JPEG")));

    const auto wrong = qdx::test::run(qdx::test::builtProgram(QStringLiteral("qdx")),
                                      {QStringLiteral("codecs"), QStringLiteral("extra")});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.out.isEmpty());
}

} // namespace
