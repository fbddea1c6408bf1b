#include "platform/vfw/StreamFormat.h"

namespace qdx::vfw {

std::optional<QByteArray> readStreamFormat(AviStream* stream, QString* error) {
    auto fail = [&](const char* text) {
        if (error)
            *error = QString::fromUtf8(text);
        return std::nullopt;
    };
    LONG size = 0;
    const LONG start = stream->start();
    if (stream->readFormat(start, nullptr, &size) != AVIERR_OK || size <= 0)
        return fail("The video stream has no format.");
    // A format is a header and at most a colour table or some codec data; anything past a few
    // megabytes is not a format.
    if (size > (8 << 20))
        return fail("The video format is too large.");
    QByteArray bytes(size, '\0');
    LONG got = size;
    if (stream->readFormat(start, bytes.data(), &got) != AVIERR_OK || got <= 0)
        return fail("The video stream's format cannot be read.");
    bytes.truncate(std::min(got, size));
    return bytes;
}

std::optional<VideoFormat> videoFormatOf(AviStream* stream, QString* error) {
    const std::optional<QByteArray> bytes = readStreamFormat(stream, error);
    if (!bytes)
        return std::nullopt;
    return VideoFormat::parse(*bytes, error);
}

} // namespace qdx::vfw
