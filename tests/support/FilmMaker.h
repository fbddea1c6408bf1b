#pragma once

// Films for the engine's tests, made by ffmpeg at test time in a temporary folder.

#include "tests/support/TestSupport.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace qdx::test {

struct FilmRecipe {
    int width = 64;
    int height = 48;
    int frames = 10;
    int rate = 25;
    int scale = 1; // frames per second: rate / scale (30000 / 1001 for NTSC's 29.97)
    QString codec = QStringLiteral("rawvideo");    // ffmpeg encoder name
    QString pixelFormat = QStringLiteral("bgr24"); // ffmpeg pixel format
    bool sound = false;
    int soundRate = 44100;
    QStringList extra; // further output options (e.g. "-g", "5")
};

// Makes the film with ffmpeg (testsrc2 picture, a sine tone as sound); fails the test when it
// cannot.
QString makeFilm(const TempDir& dir, const QString& name, const FilmRecipe& recipe);

// ffmpeg's own decode of every frame as packed 24-bit RGB rows, frame after frame.
QByteArray decodeFrames(const QString& film, int width, int height);

// Every picture ffmpeg decodes, as the decoder gives them (none repeated or dropped for timing):
// the MD5 of each in the film's own pixel format, and each as packed 24-bit RGB rows.
QStringList frameMd5s(const QString& film);
std::vector<QByteArray> decodedPictures(const QString& film, int width, int height);
// What `ffmpeg -v error -i FILM -f null -` prints: empty when every sample decodes cleanly.
QByteArray decodeComplaints(const QString& film);

// The number of video frames and audio samples ffprobe counts in a film.
int probeFrameCount(const QString& film);
qint64 probeAudioSamples(const QString& film);
QString probeVideoCodec(const QString& film);
// The video stream's duration in seconds as ffprobe reads it.
double probeDuration(const QString& film);

} // namespace qdx::test
