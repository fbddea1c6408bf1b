// The metafile player on hostile bytes: a picture or a PictureError, nothing else. Text needs a
// GUI application (fonts); pictures over a million pixels are only checked as far as their
// headers, so each run stays quick while every record type is still reached.
#include "shared/PictureError.h"
#include "shared/WmfFile.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>

// fontconfig keeps caches for the life of the process, allocated the first time each font name is
// looked up; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const qdx::WmfFile::Header header = qdx::WmfFile::readHeader({data, size});
        if (int64_t(header.pixels.width()) * header.pixels.height() > 1000000)
            return 0;
        const TBitmap bitmap = qdx::WmfFile::decode({data, size});
        (void)bitmap.Image().pixel(bitmap.Width() - 1, bitmap.Height() - 1);
    } catch (const qdx::PictureError&) {
    }
    return 0;
}
