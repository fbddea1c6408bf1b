#include "tests/support/FilmMaker.h"

#include <gtest/gtest.h>

namespace qdx::test {

QString makeFilm(const TempDir& dir, const QString& name, const FilmRecipe& recipe) {
    const QString path = dir.file(name);
    const double seconds = double(recipe.frames) * recipe.scale / recipe.rate;
    QStringList args = {QStringLiteral("-v"),
                        QStringLiteral("error"),
                        QStringLiteral("-y"),
                        QStringLiteral("-f"),
                        QStringLiteral("lavfi"),
                        QStringLiteral("-i"),
                        QStringLiteral("testsrc2=size=%1x%2:rate=%3/%4")
                            .arg(recipe.width)
                            .arg(recipe.height)
                            .arg(recipe.rate)
                            .arg(recipe.scale)};
    if (recipe.sound)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=%1").arg(recipe.soundRate);
    // With sound, the duration alone ends both streams, so the sound is exactly as long as the
    // picture; a frame limit would cut the sound wherever the muxer happened to be.
    args << QStringLiteral("-t") << QString::number(seconds, 'f', 6);
    if (!recipe.sound)
        args << QStringLiteral("-frames:v") << QString::number(recipe.frames);
    args << QStringLiteral("-c:v") << recipe.codec;
    if (!recipe.pixelFormat.isEmpty())
        args << QStringLiteral("-pix_fmt") << recipe.pixelFormat;
    if (recipe.sound)
        args << QStringLiteral("-c:a") << QStringLiteral("pcm_s16le") << QStringLiteral("-ac")
             << QStringLiteral("1");
    args << recipe.extra << path;
    const ProcessResult result = run(QStringLiteral("ffmpeg"), args);
    EXPECT_EQ(result.exitCode, 0) << result.err.constData();
    return path;
}

QByteArray decodeFrames(const QString& film, int width, int height) {
    const ProcessResult result =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), film,
             QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
             QStringLiteral("rgb24"), QStringLiteral("-s"),
             QStringLiteral("%1x%2").arg(width).arg(height), QStringLiteral("-")});
    EXPECT_EQ(result.exitCode, 0) << result.err.constData();
    return result.out;
}

QStringList frameMd5s(const QString& film) {
    const ProcessResult result =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), film,
             QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-fps_mode"),
             QStringLiteral("passthrough"), QStringLiteral("-f"), QStringLiteral("framemd5"),
             QStringLiteral("-")});
    EXPECT_EQ(result.exitCode, 0) << result.err.constData();
    QStringList md5s;
    for (const QByteArray& line : result.out.split('\n'))
        if (!line.startsWith('#') && !line.trimmed().isEmpty())
            md5s.append(QString::fromLatin1(line.split(',').last().trimmed()));
    return md5s;
}

std::vector<QByteArray> decodedPictures(const QString& film, int width, int height) {
    const ProcessResult result =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), film,
             QStringLiteral("-fps_mode"), QStringLiteral("passthrough"), QStringLiteral("-f"),
             QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"),
             QStringLiteral("-")});
    EXPECT_EQ(result.exitCode, 0) << result.err.constData();
    const qsizetype size = qsizetype(width) * height * 3;
    std::vector<QByteArray> pictures;
    for (qsizetype at = 0; at + size <= result.out.size(); at += size)
        pictures.push_back(result.out.mid(at, size));
    return pictures;
}

QByteArray decodeComplaints(const QString& film) {
    const ProcessResult result =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), film,
             QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    return result.exitCode == 0 ? result.err : result.err + "(ffmpeg failed)";
}

namespace {

QString probe(const QString& film, const QStringList& what) {
    QStringList args = {QStringLiteral("-v"), QStringLiteral("error")};
    args << what << QStringLiteral("-of") << QStringLiteral("default=nokey=1:noprint_wrappers=1")
         << film;
    return QString::fromUtf8(run(QStringLiteral("ffprobe"), args).out).trimmed();
}

} // namespace

int probeFrameCount(const QString& film) {
    return probe(film, {QStringLiteral("-count_packets"), QStringLiteral("-select_streams"),
                        QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                        QStringLiteral("stream=nb_read_packets")})
        .toInt();
}

qint64 probeAudioSamples(const QString& film) {
    // Decoded sample count: the sum of every audio frame's samples.
    const ProcessResult result = run(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("a:0"), QStringLiteral("-show_entries"), QStringLiteral("frame=nb_samples"),
         QStringLiteral("-of"), QStringLiteral("csv=p=0"), film});
    qint64 total = 0;
    for (const QByteArray& line : result.out.split('\n'))
        total += line.trimmed().toLongLong();
    return total;
}

QString probeVideoCodec(const QString& film) {
    return probe(film, {QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                        QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name")});
}

double probeDuration(const QString& film) {
    return probe(film, {QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                        QStringLiteral("-show_entries"), QStringLiteral("stream=duration")})
        .toDouble();
}

} // namespace qdx::test
