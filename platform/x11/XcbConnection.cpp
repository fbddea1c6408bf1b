#include "platform/x11/XcbConnection.h"

#include "platform/x11/NoDisplayError.h"
#include "platform/x11/XcbReply.h"

#include <string>

namespace qdx::x11 {

namespace {

std::string connectionProblem(int code) {
    switch (code) {
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return "not enough memory";
    case XCB_CONN_CLOSED_PARSE_ERR:
        return "the display name cannot be read";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "the display has no such screen";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "an extension is missing";
    default:
        return "the server cannot be reached";
    }
}

} // namespace

XcbConnection::XcbConnection(const QByteArray& display) {
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    if (name.isEmpty())
        throw NoDisplayError("No X display: DISPLAY is not set (screen copies and global hot keys "
                             "need an X11 or XWayland session)");
    int screenNumber = 0;
    m_connection = xcb_connect(name.constData(), &screenNumber);
    if (const int code = xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        throw NoDisplayError("Cannot connect to the X display \"" + name.toStdString() +
                             "\": " + connectionProblem(code));
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; it.rem && i < screenNumber; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        throw NoDisplayError("The X display \"" + name.toStdString() + "\" has no screen " +
                             std::to_string(screenNumber));
    }
    m_screen = it.data;

    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(m_screen); d.rem;
         xcb_depth_next(&d)) {
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem;
             xcb_visualtype_next(&v)) {
            if (v.data->visual_id == m_screen->root_visual)
                m_rootVisual = v.data;
        }
    }
    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup()); f.rem;
         xcb_format_next(&f)) {
        if (f.data->depth == m_screen->root_depth) {
            m_bitsPerPixel = f.data->bits_per_pixel;
            m_scanlinePad = f.data->scanline_pad;
        }
    }
}

XcbConnection::~XcbConnection() {
    if (m_connection)
        xcb_disconnect(m_connection);
}

const xcb_setup_t* XcbConnection::setup() const {
    return xcb_get_setup(m_connection);
}

int XcbConnection::fileDescriptor() const {
    return xcb_get_file_descriptor(m_connection);
}

bool XcbConnection::broken() const {
    return xcb_connection_has_error(m_connection) != 0;
}

bool XcbConnection::sync() const {
    // GetInputFocus is the cheapest request with a reply: once it is answered, everything sent
    // before it has been handled.
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return reply != nullptr;
}

} // namespace qdx::x11
