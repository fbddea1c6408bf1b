#pragma once

// What the peers no one here wrote say of a film: ffprobe's counts and streams, ffmpeg's decode
// of every picture and its complaints; and films that ffmpeg itself writes, for the tests whose
// subject is reading what other programs write.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace qdx::test {

// Runs `ffmpeg -v error -y` with the arguments (the output path last); fails the test when
// ffmpeg does.
bool ffmpegWrites(const QStringList& arguments);
// What ffmpeg writes to standard output for `-i path <outputArguments> -`.
QByteArray ffmpegOutput(const QString& path, const QStringList& outputArguments);

enum class PeerPixels { Rgb24, Bgr24 };
// Every picture ffmpeg decodes from the film's first video stream, each once in display order
// (none repeated or dropped for timing), as packed top-down rows.
std::vector<QByteArray> ffmpegPictures(const QString& film, int width, int height,
                                       PeerPixels pixels = PeerPixels::Rgb24);
// The MD5 of each of those pictures in the film's own pixel format.
QStringList frameMd5s(const QString& film);
// What `ffmpeg -v error -xerror -i FILM -f null -` prints: empty when every sample decodes
// cleanly.
QByteArray decodeComplaints(const QString& film);

// The number of video packets and decoded audio samples ffprobe counts, the video codec's name,
// the video stream's duration in seconds.
int probeFrameCount(const QString& film);
qint64 probeAudioSamples(const QString& film);
QString probeVideoCodec(const QString& film);
// The pictures ffprobe decodes (`-count_frames`), and each one's kind in display order: 'K' for
// a key frame, else its picture type ('I', 'P', 'B').
int probeDecodedFrames(const QString& film);
QString probePictureKinds(const QString& film);
// The values an H.264 film's parameter sets take, each "name=value" once, sorted (profile, level,
// chroma format, bit depth, frame coding, reference count, entropy coder), as ffmpeg's header
// trace reads them from the format and the samples.
QStringList h264ParameterValues(const QString& film);
double probeDuration(const QString& film);

struct ProbedPacket {
    int stream = 0;
    int64_t size = 0;
    int64_t pts = 0;
    bool key = false;
    QString md5;
};
std::vector<ProbedPacket> probePackets(const QString& path);
// Stream records with counted packets ("nb_read_packets") and the container's "format" record.
std::vector<QJsonObject> probeStreams(const QString& path, QJsonObject* format = nullptr);

// Pictures joined end to end (to compare whole films).
QByteArray joined(const std::vector<QByteArray>& pictures);

} // namespace qdx::test
