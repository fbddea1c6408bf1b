#pragma once

#include "platform/x11/ImageLayout.h"
#include "platform/x11/PointerImage.h"
#include "platform/x11/ScreenSource.h"
#include "platform/x11/XcbReply.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <memory>
#include <vector>

namespace qdx::x11 {

class ShmSegment;
class XcbConnection;

// Copies the primary monitor's rectangle of the X root window, the way the screen looks to the
// user: through a shared-memory segment (MIT-SHM) reused from frame to frame, or with plain
// GetImage requests when the server cannot share memory with us. The mouse pointer is blended in
// at its hot spot and real size, as XFixes reports it. The grabber has its own X connection and
// may be used on any one thread at a time.
class ScreenGrabber final : public ScreenSource {
public:
    enum class Pointer { Drawn, Left };
    // How the pixels travel: through shared memory when the server allows it, or always through
    // the socket (what happens anyway with a remote server).
    enum class Transfer { SharedMemory, Socket };

    // Throws NoDisplayError without a display, X11Error when the root window's pixels cannot be
    // read (a visual that is not TrueColor).
    explicit ScreenGrabber(Pointer pointer = Pointer::Drawn,
                           Transfer transfer = Transfer::SharedMemory,
                           const QByteArray& display = {});
    ~ScreenGrabber() override;
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // The copy at `format`: pf24bit and pf32bit straight from the grab; pfDevice and pfCustom
    // give a 32-bit picture; the reduced depths follow TBitmap's rules. The picture handed out
    // last is reused for the next grab when its holder has let go of it.
    TBitmap grab(TPixelFormat format) override;
    QSize size() const override { return m_area.size(); }

    // The copied rectangle in root-window coordinates: the RandR primary monitor, else the whole
    // root window. It follows changes of the screen configuration.
    QRect area() const { return m_area; }
    // Whether grabs go through shared memory.
    bool sharedMemory() const { return m_segment != nullptr; }

private:
    void readEvents();
    void updateArea();
    QRect primaryMonitor(const QRect& root) const;
    uint8_t* fetchImage(int& stride);
    uint8_t* fetchWithGetImage();
    void prepareSegment();

    std::unique_ptr<XcbConnection> m_connection;
    bool m_drawPointer = true;
    ImageLayout m_layout;
    int m_scanlinePad = 32;
    std::unique_ptr<ShmSegment> m_segment;
    bool m_shmAvailable = false;
    XcbReply<xcb_get_image_reply_t> m_plainImage; // the last GetImage reply, without SHM
    int m_randrVersion = 0;                       // major * 100 + minor, 0 without RandR
    uint8_t m_randrEvents = 0;
    uint8_t m_xfixesEvents = 0;
    bool m_xfixes = false;
    QRect m_area;
    bool m_areaStale = true;
    PointerImage m_pointer;
    bool m_pointerStale = true;
    std::vector<uint32_t> m_work; // 32-bit copy of frames whose layout is not already RGB32
    QImage m_out24;
    QImage m_out32;
};

} // namespace qdx::x11
