#include "shared/CopiaTela.h"

#include "platform/x11/ScreenGrabber.h"
#include "shared/CoresImagem.h"

std::unique_ptr<TBitmap> CopiarTela() {
    try {
        // The depth is given while the bitmap is still empty; the copy is converted to it.
        auto bitmap = std::make_unique<TBitmap>();
        AplicarCoresImagem(*bitmap);
        qdx::x11::ScreenGrabber grabber;
        const TPixelFormat depth =
            bitmap->PixelFormat() == pfDevice ? pf32bit : bitmap->PixelFormat();
        *bitmap = grabber.grab(depth);
        if (bitmap->Empty())
            return nullptr;
        return bitmap;
    } catch (...) {
        return nullptr;
    }
}
