#include "platform/x11/ScreenGrabber.h"

#include "platform/x11/RowConversion.h"
#include "platform/x11/ShmSegment.h"
#include "platform/x11/X11Error.h"
#include "platform/x11/XcbConnection.h"

#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <cstring>

namespace qdx::x11 {

namespace {

// A reused picture of the given size and storage, or a new one when the last picture handed out
// is still held elsewhere (writing into it would detach, that is copy, it anyway).
QImage& reusable(QImage& image, const QSize& size, QImage::Format format) {
    if (image.isNull() || !image.isDetached() || image.size() != size || image.format() != format)
        image = QImage(size, format);
    if (image.isNull())
        throw X11Error("Not enough memory for a screen copy");
    return image;
}

const xcb_query_extension_reply_t* extensionOf(xcb_connection_t* c, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present ? data : nullptr;
}

} // namespace

ScreenGrabber::ScreenGrabber(Pointer pointer, Transfer transfer, const QByteArray& display)
    : m_connection(std::make_unique<XcbConnection>(display)),
      m_drawPointer(pointer == Pointer::Drawn) {
    xcb_connection_t* c = m_connection->get();
    const xcb_visualtype_t* visual = m_connection->rootVisual();
    if (!visual || (visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
                    visual->_class != XCB_VISUAL_CLASS_DIRECT_COLOR))
        throw X11Error("The screen's colours cannot be read: the root window is not TrueColor");
    m_layout = ImageLayout(m_connection->rootBitsPerPixel(), visual->red_mask, visual->green_mask,
                           visual->blue_mask,
                           m_connection->setup()->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST);
    if (!m_layout.supported())
        throw X11Error("The screen's pixel layout (" +
                       std::to_string(m_connection->rootBitsPerPixel()) +
                       " bits per pixel) cannot be read");
    m_scanlinePad = m_connection->rootScanlinePad();

    // Ask for every extension at once; the replies come back together.
    xcb_prefetch_extension_data(c, &xcb_shm_id);
    xcb_prefetch_extension_data(c, &xcb_randr_id);
    xcb_prefetch_extension_data(c, &xcb_xfixes_id);
    const xcb_window_t root = m_connection->root();

    if (transfer == Transfer::SharedMemory && extensionOf(c, &xcb_shm_id)) {
        XcbReply<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        m_shmAvailable = version != nullptr;
    }
    if (const auto* randr = extensionOf(c, &xcb_randr_id)) {
        XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        if (version) {
            m_randrVersion = int(version->major_version) * 100 + int(version->minor_version);
            m_randrEvents = randr->first_event;
            uint16_t mask = XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE;
            if (m_randrVersion >= 102)
                mask |= XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE;
            if (m_randrVersion >= 104)
                mask |= XCB_RANDR_NOTIFY_MASK_RESOURCE_CHANGE;
            xcb_randr_select_input(c, root, mask);
        }
    }
    if (const auto* xfixes = extensionOf(c, &xcb_xfixes_id)) {
        XcbReply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        if (version && version->major_version >= 2) {
            m_xfixes = true;
            m_xfixesEvents = xfixes->first_event;
            // The server says when the shown cursor changes, so its image is fetched only then.
            xcb_xfixes_select_cursor_input(c, root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        }
    }
    // A resized root window (without RandR) is seen through its configure events.
    const uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &events);
    updateArea();
    if (m_shmAvailable)
        prepareSegment();
}

ScreenGrabber::~ScreenGrabber() = default;

void ScreenGrabber::readEvents() {
    xcb_connection_t* c = m_connection->get();
    while (XcbEvent event{xcb_poll_for_event(c)}) {
        const uint8_t type = event->response_type & 0x7F;
        if (m_xfixes && type == m_xfixesEvents + XCB_XFIXES_CURSOR_NOTIFY) {
            const auto* notify = reinterpret_cast<xcb_xfixes_cursor_notify_event_t*>(event.get());
            if (notify->cursor_serial != m_pointer.serial || m_pointer.empty())
                m_pointerStale = true;
        } else if (m_randrVersion && (type == m_randrEvents + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                      type == m_randrEvents + XCB_RANDR_NOTIFY)) {
            m_areaStale = true;
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            m_areaStale = true;
        }
    }
    if (m_connection->broken())
        throw X11Error("The connection to the X display was lost");
}

QRect ScreenGrabber::primaryMonitor(const QRect& root) const {
    xcb_connection_t* c = m_connection->get();
    if (m_randrVersion >= 105) {
        XcbReply<xcb_randr_get_monitors_reply_t> monitors(xcb_randr_get_monitors_reply(
            c, xcb_randr_get_monitors(c, m_connection->root(), 1), nullptr));
        if (monitors) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                if (it.data->primary)
                    return QRect(it.data->x, it.data->y, it.data->width, it.data->height);
            }
        }
        return root;
    }
    if (m_randrVersion >= 103) {
        XcbReply<xcb_randr_get_output_primary_reply_t> primary(xcb_randr_get_output_primary_reply(
            c, xcb_randr_get_output_primary(c, m_connection->root()), nullptr));
        if (!primary || primary->output == XCB_NONE)
            return root;
        XcbReply<xcb_randr_get_output_info_reply_t> output(xcb_randr_get_output_info_reply(
            c, xcb_randr_get_output_info(c, primary->output, XCB_CURRENT_TIME), nullptr));
        if (!output || output->crtc == XCB_NONE)
            return root;
        XcbReply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
            c, xcb_randr_get_crtc_info(c, output->crtc, XCB_CURRENT_TIME), nullptr));
        if (crtc && crtc->width && crtc->height)
            return QRect(crtc->x, crtc->y, crtc->width, crtc->height);
    }
    return root;
}

void ScreenGrabber::updateArea() {
    xcb_connection_t* c = m_connection->get();
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, m_connection->root()), nullptr));
    if (!geometry)
        throw X11Error("The size of the screen cannot be read");
    const QRect root(0, 0, geometry->width, geometry->height);
    QRect area = primaryMonitor(root).intersected(root);
    if (area.isEmpty())
        area = root;
    m_area = area;
    m_areaStale = false;
    m_pointerStale = m_pointerStale || m_pointer.empty();
}

void ScreenGrabber::prepareSegment() {
    const std::size_t needed =
        std::size_t(m_layout.rowBytes(m_area.width(), m_scanlinePad)) * m_area.height();
    if (m_segment && m_segment->size() >= needed)
        return;
    m_segment.reset();
    try {
        m_segment = std::make_unique<ShmSegment>(*m_connection, needed);
    } catch (const X11Error&) {
        // No shared memory with this server (remote, other IPC namespace, limits): the screen
        // is copied through the socket from now on.
        m_shmAvailable = false;
    }
}

uint8_t* ScreenGrabber::fetchWithGetImage() {
    xcb_connection_t* c = m_connection->get();
    m_plainImage.reset();
    XcbError error;
    xcb_generic_error_t* raw = nullptr;
    m_plainImage.reset(
        xcb_get_image_reply(c,
                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_connection->root(),
                                          int16_t(m_area.x()), int16_t(m_area.y()),
                                          uint16_t(m_area.width()), uint16_t(m_area.height()), ~0u),
                            &raw));
    error.reset(raw);
    const std::size_t needed =
        std::size_t(m_layout.rowBytes(m_area.width(), m_scanlinePad)) * m_area.height();
    if (!m_plainImage || error ||
        std::size_t(xcb_get_image_data_length(m_plainImage.get())) < needed)
        throw X11Error("The screen could not be copied");
    return xcb_get_image_data(m_plainImage.get());
}

uint8_t* ScreenGrabber::fetchImage(int& stride) {
    stride = m_layout.rowBytes(m_area.width(), m_scanlinePad);
    if (m_shmAvailable)
        prepareSegment();
    if (!m_segment)
        return fetchWithGetImage();
    xcb_connection_t* c = m_connection->get();
    xcb_generic_error_t* raw = nullptr;
    XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, m_connection->root(), int16_t(m_area.x()), int16_t(m_area.y()),
                          uint16_t(m_area.width()), uint16_t(m_area.height()), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, m_segment->id(), 0),
        &raw));
    XcbError error(raw);
    const std::size_t needed = std::size_t(stride) * m_area.height();
    if (!reply || error || reply->size < needed) {
        if (m_connection->broken())
            throw X11Error("The connection to the X display was lost");
        // The server took the segment but will not fill it: go on without shared memory.
        m_segment.reset();
        m_shmAvailable = false;
        return fetchWithGetImage();
    }
    return m_segment->data();
}

TBitmap ScreenGrabber::grab(TPixelFormat format) {
    readEvents();
    if (m_areaStale) {
        updateArea();
        m_plainImage.reset();
    }
    xcb_connection_t* c = m_connection->get();
    const bool wantPointer = m_drawPointer && m_xfixes;
    // Pointer position and image are asked for before the screen, so that all replies come
    // back in one round trip.
    xcb_query_pointer_cookie_t position{};
    xcb_xfixes_get_cursor_image_cookie_t image{};
    const bool fetchPointer = wantPointer && m_pointerStale;
    if (wantPointer)
        position = xcb_query_pointer(c, m_connection->root());
    if (fetchPointer)
        image = xcb_xfixes_get_cursor_image(c);

    int stride = 0;
    uint8_t* pixels = nullptr;
    try {
        pixels = fetchImage(stride);
    } catch (...) {
        if (wantPointer)
            xcb_discard_reply(c, position.sequence);
        if (fetchPointer)
            xcb_discard_reply(c, image.sequence);
        throw;
    }

    const int width = m_area.width();
    const int height = m_area.height();
    uint32_t* frame = nullptr;
    int frameStride = 0; // in pixels
    if (m_layout.nativeRgb32()) {
        frame = reinterpret_cast<uint32_t*>(pixels);
        frameStride = stride / 4;
    } else {
        m_work.resize(std::size_t(width) * height);
        for (int y = 0; y < height; ++y)
            m_layout.toRgb32Row(pixels + std::ptrdiff_t(y) * stride, m_work.data() + y * width,
                                width);
        frame = m_work.data();
        frameStride = width;
    }

    if (fetchPointer) {
        XcbReply<xcb_xfixes_get_cursor_image_reply_t> cursor(
            xcb_xfixes_get_cursor_image_reply(c, image, nullptr));
        if (cursor) {
            m_pointer.width = cursor->width;
            m_pointer.height = cursor->height;
            m_pointer.xhot = cursor->xhot;
            m_pointer.yhot = cursor->yhot;
            m_pointer.serial = cursor->cursor_serial;
            const uint32_t* argb = xcb_xfixes_get_cursor_image_cursor_image(cursor.get());
            const int count = xcb_xfixes_get_cursor_image_cursor_image_length(cursor.get());
            m_pointer.pixels.assign(argb, argb + count);
            m_pointerStale = false;
        }
    }
    if (wantPointer) {
        XcbReply<xcb_query_pointer_reply_t> where(xcb_query_pointer_reply(c, position, nullptr));
        if (where && where->same_screen)
            m_pointer.drawOnto(frame, frameStride, width, height, where->root_x - m_area.x(),
                               where->root_y - m_area.y());
    }

    const QSize size(width, height);
    if (format == pf24bit) {
        QImage& out = reusable(m_out24, size, QImage::Format_BGR888);
        uchar* bits = out.bits();
        const qsizetype line = out.bytesPerLine();
        for (int y = 0; y < height; ++y)
            rgb32ToBgr24Row(frame + std::ptrdiff_t(y) * frameStride, bits + y * line, width);
        return TBitmap(out, pf24bit);
    }
    QImage& out = reusable(m_out32, size, QImage::Format_RGB32);
    uchar* bits = out.bits();
    const qsizetype line = out.bytesPerLine();
    for (int y = 0; y < height; ++y)
        rgb32ToOpaqueRow(frame + std::ptrdiff_t(y) * frameStride,
                         reinterpret_cast<uint32_t*>(bits + y * line), width);
    switch (format) {
    case pf32bit:
        return TBitmap(out, pf32bit);
    case pfDevice:
    case pfCustom:
        return TBitmap(out, pfDevice);
    default:
        return TBitmap(TBitmap::convertedTo(out, format), format);
    }
}

} // namespace qdx::x11
