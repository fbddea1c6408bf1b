#include "shared/CopiaTela.h"

#include "platform/x11/ScreenGrabber.h"
#include "shared/CoresImagem.h"

std::unique_ptr<TBitmap> CopiarTela(qdx::x11::ScreenSource& screen) {
    try {
        // The depth is decided on the empty bitmap, before it has a size; the copy is converted
        // to it.
        TBitmap bitmap;
        AplicarCoresImagem(bitmap);
        auto copy = std::make_unique<TBitmap>(screen.grab(bitmap.PixelFormat()));
        if (copy->Empty())
            return nullptr;
        return copy;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<TBitmap> CopiarTela() {
    try {
        qdx::x11::ScreenGrabber grabber(qdx::x11::ScreenGrabber::Pointer::Left);
        return CopiarTela(grabber);
    } catch (...) {
        return nullptr;
    }
}
