// The BMP reader on hostile bytes: a picture or a PictureError, nothing else.
#include "shared/BmpFile.h"
#include "shared/PictureError.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Whole, and reduced for a thumbnail while the rows are read.
    for (const QSize atLeast : {QSize(), QSize(3, 2)}) {
        try {
            const TBitmap bitmap = qdx::BmpFile::decode({data, size}, atLeast);
            if (!bitmap.Empty())
                (void)bitmap.Image().pixel(bitmap.Width() - 1, bitmap.Height() - 1);
        } catch (const qdx::PictureError&) {
        }
    }
    return 0;
}
