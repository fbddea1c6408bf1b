// The JPEG reader on hostile bytes: a picture or a PictureError, nothing else.
#include "shared/JpegFile.h"
#include "shared/PictureError.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const TBitmap bitmap = qdx::JpegFile::decode({data, size});
        if (!bitmap.Empty())
            (void)bitmap.Image().pixel(bitmap.Width() - 1, bitmap.Height() - 1);
    } catch (const qdx::PictureError&) {
    }
    return 0;
}
