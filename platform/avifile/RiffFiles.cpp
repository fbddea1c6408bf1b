#include "platform/avifile/RiffFiles.h"

#include "platform/avifile/RiffAviFile.h"
#include "platform/avifile/WaveFile.h"

namespace qdx::vfw {

HRESULT openRiffAviFile(const QString& path, UINT mode, AviFile** file) {
    return RiffAviFile::open(path, mode, file);
}

HRESULT openWaveFile(const QString& path, UINT mode, AviFile** file) {
    return WaveFile::open(path, mode, file);
}

} // namespace qdx::vfw
