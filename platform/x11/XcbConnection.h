#pragma once

#include <QByteArray>

#include <xcb/xcb.h>

namespace qdx::x11 {

// One connection of our own to the X server, independent of the one Qt's xcb platform uses, so
// that it works on any thread (the recorder's worker) and in programs without a GUI (qdx).
// One thread at a time may use it.
class XcbConnection {
public:
    // Connects to `display`, or to $DISPLAY when empty. Throws NoDisplayError when there is no
    // display or the server cannot be reached.
    explicit XcbConnection(const QByteArray& display = {});
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return m_connection; }
    const xcb_setup_t* setup() const;
    xcb_screen_t* screen() const { return m_screen; }
    xcb_window_t root() const { return m_screen->root; }
    // The socket; readable when events or replies arrive.
    int fileDescriptor() const;
    // True once the connection broke (the server went away, a protocol error of XCB itself).
    bool broken() const;
    // Waits until the server has handled every request sent so far; false when the connection
    // broke meanwhile.
    bool sync() const;

    // The visual of the root window, and the bits per pixel and scan-line padding (in bits) of
    // images of the root window's depth.
    const xcb_visualtype_t* rootVisual() const { return m_rootVisual; }
    int rootBitsPerPixel() const { return m_bitsPerPixel; }
    int rootScanlinePad() const { return m_scanlinePad; }

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_screen_t* m_screen = nullptr;
    const xcb_visualtype_t* m_rootVisual = nullptr;
    int m_bitsPerPixel = 0;
    int m_scanlinePad = 32;
};

} // namespace qdx::x11
