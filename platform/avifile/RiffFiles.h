#pragma once

// Opening the two kinds of RIFF file: an AVI film (AVI 1.0 or OpenDML) and a WAVE sound file.

#include "platform/avifile/AviObjects.h"

#include <QString>

namespace qdx::vfw {

HRESULT openRiffAviFile(const QString& path, UINT mode, AviFile** file);
HRESULT openWaveFile(const QString& path, UINT mode, AviFile** file);

} // namespace qdx::vfw
