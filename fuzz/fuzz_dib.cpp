// Packed DIBs as the AVI layer and the BMP reader meet them.
#include "platform/core/Dib.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString error;
    const TBitmap bitmap = qdx::decodePackedDib({data, size}, &error);
    if (!bitmap.Empty())
        (void)bitmap.Image().pixel(bitmap.Width() - 1, bitmap.Height() - 1);
    return 0;
}
