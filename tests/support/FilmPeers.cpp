#include "tests/support/FilmPeers.h"

#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace qdx::test {

namespace {

ProcessResult ffmpeg(const QStringList& arguments) {
    return run(
        QStringLiteral("ffmpeg"),
        QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error")} +
            arguments);
}

QString probe(const QString& film, const QStringList& what) {
    QStringList args = {QStringLiteral("-v"), QStringLiteral("error")};
    args << what << QStringLiteral("-of") << QStringLiteral("default=nokey=1:noprint_wrappers=1")
         << film;
    return QString::fromUtf8(run(QStringLiteral("ffprobe"), args).out).trimmed();
}

} // namespace

bool ffmpegWrites(const QStringList& arguments) {
    const ProcessResult r = ffmpeg(QStringList{QStringLiteral("-y")} + arguments);
    if (r.exitCode != 0)
        ADD_FAILURE() << "ffmpeg failed: " << r.err.toStdString();
    return r.exitCode == 0;
}

QByteArray ffmpegOutput(const QString& path, const QStringList& outputArguments) {
    const ProcessResult r =
        ffmpeg(QStringList{QStringLiteral("-i"), path} + outputArguments + QStringList{"-"});
    if (r.exitCode != 0)
        ADD_FAILURE() << "ffmpeg failed on " << path.toStdString() << ": " << r.err.toStdString();
    return r.out;
}

std::vector<QByteArray> ffmpegPictures(const QString& film, int width, int height,
                                       PeerPixels pixels) {
    const QByteArray out = ffmpegOutput(
        film, {QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-fps_mode"),
               QStringLiteral("passthrough"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
               QStringLiteral("-pix_fmt"),
               pixels == PeerPixels::Rgb24 ? QStringLiteral("rgb24") : QStringLiteral("bgr24")});
    std::vector<QByteArray> pictures;
    const qsizetype size = qsizetype(width) * height * 3;
    if (size <= 0)
        return pictures;
    for (qsizetype at = 0; at + size <= out.size(); at += size)
        pictures.push_back(out.mid(at, size));
    if (out.size() % size != 0)
        ADD_FAILURE() << film.toStdString() << " does not hold pictures of " << width << "x"
                      << height;
    return pictures;
}

QStringList frameMd5s(const QString& film) {
    const QByteArray out = ffmpegOutput(
        film, {QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-fps_mode"),
               QStringLiteral("passthrough"), QStringLiteral("-f"), QStringLiteral("framemd5")});
    QStringList md5s;
    for (const QByteArray& line : out.split('\n'))
        if (!line.startsWith('#') && !line.trimmed().isEmpty())
            md5s.append(QString::fromLatin1(line.split(',').last().trimmed()));
    return md5s;
}

QByteArray decodeComplaints(const QString& film) {
    const ProcessResult r =
        ffmpeg({QStringLiteral("-xerror"), QStringLiteral("-i"), film, QStringLiteral("-f"),
                QStringLiteral("null"), QStringLiteral("-")});
    return r.exitCode == 0 ? r.err : r.err + "(ffmpeg failed)";
}

int probeFrameCount(const QString& film) {
    return probe(film, {QStringLiteral("-count_packets"), QStringLiteral("-select_streams"),
                        QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                        QStringLiteral("stream=nb_read_packets")})
        .toInt();
}

int probeDecodedFrames(const QString& film) {
    return probe(film, {QStringLiteral("-count_frames"), QStringLiteral("-select_streams"),
                        QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                        QStringLiteral("stream=nb_read_frames")})
        .toInt();
}

QString probePictureKinds(const QString& film) {
    const ProcessResult r =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
             QStringLiteral("v:0"), QStringLiteral("-show_entries"),
             QStringLiteral("frame=key_frame,pict_type"), QStringLiteral("-of"),
             QStringLiteral("csv=p=0"), film});
    QString kinds;
    for (const QByteArray& line : r.out.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() >= 2)
            kinds += fields[0] == "1" ? QLatin1Char('K') : QLatin1Char(fields[1].at(0));
    }
    return kinds;
}

QStringList h264ParameterValues(const QString& film) {
    const ProcessResult r =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("trace"),
             QStringLiteral("-i"), film, QStringLiteral("-map"), QStringLiteral("0:v:0"),
             QStringLiteral("-c:v"), QStringLiteral("copy"), QStringLiteral("-bsf:v"),
             QStringLiteral("trace_headers"), QStringLiteral("-f"), QStringLiteral("null"),
             QStringLiteral("-")});
    static const QStringList names = {QStringLiteral("profile_idc"),
                                      QStringLiteral("level_idc"),
                                      QStringLiteral("chroma_format_idc"),
                                      QStringLiteral("bit_depth_luma_minus8"),
                                      QStringLiteral("frame_mbs_only_flag"),
                                      QStringLiteral("max_num_ref_frames"),
                                      QStringLiteral("entropy_coding_mode_flag")};
    QStringList values;
    for (const QByteArray& line : r.err.split('\n')) {
        if (!line.contains("trace_headers"))
            continue;
        const QStringList fields =
            QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        // "[trace_headers @ 0x..] BIT NAME BITS = VALUE"
        if (fields.size() >= 8 && names.contains(fields[4]) && fields[fields.size() - 2] == "=")
            values << fields[4] + QLatin1Char('=') + fields.last();
    }
    values.removeDuplicates();
    values.sort();
    return values;
}

qint64 probeAudioSamples(const QString& film) {
    // Decoded sample count: the sum of every audio frame's samples.
    const ProcessResult r = run(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("a:0"), QStringLiteral("-show_entries"), QStringLiteral("frame=nb_samples"),
         QStringLiteral("-of"), QStringLiteral("csv=p=0"), film});
    qint64 total = 0;
    for (const QByteArray& line : r.out.split('\n'))
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

std::vector<ProbedPacket> probePackets(const QString& path) {
    const ProcessResult r =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
             QStringLiteral("packet=stream_index,pts,size,flags,data_hash"),
             QStringLiteral("-show_data_hash"), QStringLiteral("MD5"), QStringLiteral("-of"),
             QStringLiteral("json"), path});
    std::vector<ProbedPacket> packets;
    if (r.exitCode != 0) {
        ADD_FAILURE() << "ffprobe failed: " << r.err.toStdString();
        return packets;
    }
    const QJsonArray list =
        QJsonDocument::fromJson(r.out).object()[QStringLiteral("packets")].toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        ProbedPacket p;
        p.stream = o[QStringLiteral("stream_index")].toInt();
        p.size = o[QStringLiteral("size")].toString().toLongLong();
        p.pts = o[QStringLiteral("pts")].toVariant().toLongLong();
        p.key = o[QStringLiteral("flags")].toString().startsWith(QLatin1Char('K'));
        p.md5 = o[QStringLiteral("data_hash")].toString().section(QLatin1Char(':'), 1);
        packets.push_back(p);
    }
    return packets;
}

std::vector<QJsonObject> probeStreams(const QString& path, QJsonObject* format) {
    const ProcessResult r =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_packets"),
             QStringLiteral("-show_streams"), QStringLiteral("-show_format"), QStringLiteral("-of"),
             QStringLiteral("json"), path});
    std::vector<QJsonObject> streams;
    if (r.exitCode != 0) {
        ADD_FAILURE() << "ffprobe failed: " << r.err.toStdString();
        return streams;
    }
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    for (const QJsonValue& v : root[QStringLiteral("streams")].toArray())
        streams.push_back(v.toObject());
    if (format)
        *format = root[QStringLiteral("format")].toObject();
    return streams;
}

QByteArray joined(const std::vector<QByteArray>& pictures) {
    QByteArray all;
    for (const QByteArray& p : pictures)
        all += p;
    return all;
}

} // namespace qdx::test
