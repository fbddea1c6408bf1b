#pragma once

// Films and pictures for the codec bridge's tests: films made by ffmpeg, ffmpeg's own decode of
// them, packed DIBs turned into plain BGR24 pictures, and PSNR.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

#include <ostream>

namespace qdx::vfw {

struct Compressor;
// A compressor as GoogleTest prints a test parameter: its name and FourCC, not its bytes.
void PrintTo(const Compressor& compressor, std::ostream* out);

} // namespace qdx::vfw

namespace qdx::vfw::test {

// Runs ffmpeg -f lavfi on `source` (a lavfi graph) with the output arguments. An empty string
// when it worked, else ffmpeg's complaint.
QString makeFilm(const QString& path, const QString& source, const QStringList& outputArguments,
                 const QString& audioSource = {});

// Every frame ffmpeg decodes from the film (each decoded picture once, in display order), as
// top-down BGR24 rows of width * 3 bytes.
std::vector<QByteArray> ffmpegFrames(const QString& path, int width, int height,
                                     const QStringList& inputArguments = {});

// The bytes of the packed DIB starting at `dib` (header, masks, colours, pixels).
size_t packedDibSize(const void* dib);
// A packed DIB as top-down BGR24 rows; empty when it does not decode.
QByteArray dibToBgr24(const void* dib);
// A picture as top-down BGR24 rows.
QByteArray imageToBgr24(const QImage& image);

// Peak signal-to-noise ratio of two pictures of the same size, in dB (1000 when equal).
double psnr(const QByteArray& a, const QByteArray& b);

} // namespace qdx::vfw::test
