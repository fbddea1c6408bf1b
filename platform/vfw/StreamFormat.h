#pragma once

// The format of a stream at its start, as AVIStreamReadFormat gives it, read with its size
// checked: for video a BITMAPINFOHEADER with what follows it, parsed into a VideoFormat.

#include "platform/avifile/AviObjects.h"
#include "platform/codec/VideoFormat.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qdx::vfw {

// The format's bytes, or nullopt with the reason.
std::optional<QByteArray> readStreamFormat(AviStream* stream, QString* error);
// The video format of a stream, or nullopt with the reason.
std::optional<VideoFormat> videoFormatOf(AviStream* stream, QString* error);

} // namespace qdx::vfw
