// The factories of the RIFF AVI and WAVE files, which the layer's AVIFileOpen calls.
#include "platform/vfw/AviObjects.h"
#include "platform/vfw/RiffAviFile.h"
#include "platform/vfw/WaveFile.h"

namespace qdx::vfw {

HRESULT openRiffAviFile(const QString& path, UINT mode, AviFile** file) {
    return RiffAviFile::open(path, mode, file);
}

HRESULT openWaveFile(const QString& path, UINT mode, AviFile** file) {
    return WaveFile::open(path, mode, file);
}
} // namespace qdx::vfw
