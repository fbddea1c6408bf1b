#include "tests/x11/XClient.h"

#include <xcb/randr.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace qdx::test {

namespace {

struct Free {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Free>;

uint16_t wide(int channel) {
    return uint16_t(channel * 257);
}

} // namespace

XClient::XClient() {
    m_c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_c))
        return;
    m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
}

XClient::~XClient() {
    if (m_screen)
        for (xcb_window_t w : m_windows)
            xcb_destroy_window(m_c, w);
    xcb_disconnect(m_c);
}

QRect XClient::rootRect() const {
    Reply<xcb_get_geometry_reply_t> g(
        xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, root()), nullptr));
    return g ? QRect(0, 0, g->width, g->height) : QRect();
}

void XClient::sync() {
    Reply<xcb_get_input_focus_reply_t> r(
        xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}

xcb_window_t XClient::window(const QRect& rect, QRgb colour) {
    Reply<xcb_alloc_color_reply_t> pixel(
        xcb_alloc_color_reply(m_c,
                              xcb_alloc_color(m_c, m_screen->default_colormap, wide(qRed(colour)),
                                              wide(qGreen(colour)), wide(qBlue(colour))),
                              nullptr));
    const xcb_window_t w = xcb_generate_id(m_c);
    const uint32_t values[] = {pixel ? pixel->pixel : 0, 1};
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, root(), int16_t(rect.x()), int16_t(rect.y()),
                      uint16_t(rect.width()), uint16_t(rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(m_c, w);
    m_windows.push_back(w);
    sync();
    return w;
}

void XClient::destroy(xcb_window_t window) {
    xcb_destroy_window(m_c, window);
    std::erase(m_windows, window);
    sync();
}

void XClient::focus(xcb_window_t window) {
    xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    sync();
}

xcb_cursor_t XClient::cursor(QSize size, QPoint hot, QRect foreRect, QRgb fore, QRgb back) {
    const xcb_pixmap_t source = xcb_generate_id(m_c);
    const xcb_pixmap_t mask = xcb_generate_id(m_c);
    xcb_create_pixmap(m_c, 1, source, root(), uint16_t(size.width()), uint16_t(size.height()));
    xcb_create_pixmap(m_c, 1, mask, root(), uint16_t(size.width()), uint16_t(size.height()));
    const xcb_gcontext_t gc = xcb_generate_id(m_c);
    uint32_t ink = 0;
    xcb_create_gc(m_c, gc, source, XCB_GC_FOREGROUND, &ink);
    const xcb_rectangle_t whole{0, 0, uint16_t(size.width()), uint16_t(size.height())};
    xcb_poly_fill_rectangle(m_c, source, gc, 1, &whole);
    ink = 1;
    xcb_change_gc(m_c, gc, XCB_GC_FOREGROUND, &ink);
    xcb_poly_fill_rectangle(m_c, mask, gc, 1, &whole);
    const xcb_rectangle_t part{int16_t(foreRect.x()), int16_t(foreRect.y()),
                               uint16_t(foreRect.width()), uint16_t(foreRect.height())};
    xcb_poly_fill_rectangle(m_c, source, gc, 1, &part);
    const xcb_cursor_t cursor = xcb_generate_id(m_c);
    xcb_create_cursor(m_c, cursor, source, mask, wide(qRed(fore)), wide(qGreen(fore)),
                      wide(qBlue(fore)), wide(qRed(back)), wide(qGreen(back)), wide(qBlue(back)),
                      uint16_t(hot.x()), uint16_t(hot.y()));
    xcb_free_gc(m_c, gc);
    xcb_free_pixmap(m_c, source);
    xcb_free_pixmap(m_c, mask);
    sync();
    return cursor;
}

void XClient::showCursor(xcb_window_t window, xcb_cursor_t cursor) {
    xcb_change_window_attributes(m_c, window, XCB_CW_CURSOR, &cursor);
    sync();
}

std::vector<xcb_keycode_t> XClient::keycodesOf(uint32_t keysym) {
    std::vector<xcb_keycode_t> result;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(m_c);
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
        for (xcb_keycode_t* k = codes; *k != XCB_NO_SYMBOL; ++k)
            result.push_back(*k);
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    return result;
}

std::vector<uint32_t> XClient::mapKey(xcb_keycode_t keycode, uint32_t keysym) {
    std::vector<uint32_t> before;
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(m_c, xcb_get_keyboard_mapping(m_c, keycode, 1), nullptr));
    if (!mapping)
        return before;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    before.assign(syms, syms + mapping->keysyms_per_keycode);
    restoreKey(keycode, std::vector<uint32_t>(before.size(), keysym));
    return before;
}

void XClient::restoreKey(xcb_keycode_t keycode, const std::vector<uint32_t>& keysyms) {
    if (keysyms.empty())
        return;
    xcb_change_keyboard_mapping(m_c, 1, keycode, uint8_t(keysyms.size()), keysyms.data());
    sync();
}

uint16_t XClient::modifierState() {
    Reply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(m_c, xcb_query_pointer(m_c, root()), nullptr));
    return pointer ? uint16_t(pointer->mask & 0xFF) : 0;
}

bool XClient::grabKey(uint32_t keysym, uint16_t modifiers) {
    bool ok = true;
    for (xcb_keycode_t k : keycodesOf(keysym)) {
        Reply<xcb_generic_error_t> error(
            xcb_request_check(m_c, xcb_grab_key_checked(m_c, 0, root(), modifiers, k,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        ok = ok && !error;
    }
    return ok;
}

void XClient::ungrabKey(uint32_t keysym, uint16_t modifiers) {
    for (xcb_keycode_t k : keycodesOf(keysym))
        xcb_ungrab_key(m_c, k, root(), modifiers);
    sync();
}

bool XClient::canGrabAllVariants(uint32_t keysym, uint16_t modifiers) {
    bool ok = true;
    for (uint16_t lock : {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2),
                          int(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)}) {
        ok = grabKey(keysym, uint16_t(modifiers | lock)) && ok;
        ungrabKey(keysym, uint16_t(modifiers | lock));
    }
    return ok;
}

bool XClient::addMonitor(const char* name, const QRect& rect, bool primary) {
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr));
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(m_c, xcb_randr_query_version(m_c, 1, 5), nullptr));
    if (!atom || !version)
        return false;
    // libxcb's generated SetMonitor miscounts the request length, so the request is put
    // together here: header, window, then the monitor record without outputs.
    struct Request {
        uint8_t major;
        uint8_t minor;
        uint16_t length;
        uint32_t window;
        uint32_t name;
        uint8_t primary;
        uint8_t automatic;
        uint16_t outputs;
        int16_t x, y;
        uint16_t width, height;
        uint32_t widthMm, heightMm;
    } request{};
    static_assert(sizeof(Request) == 32);
    request.window = root();
    request.name = atom->atom;
    request.primary = primary ? 1 : 0;
    request.x = int16_t(rect.x());
    request.y = int16_t(rect.y());
    request.width = uint16_t(rect.width());
    request.height = uint16_t(rect.height());
    request.widthMm = uint32_t(rect.width() / 4);
    request.heightMm = uint32_t(rect.height() / 4);
    iovec parts[3];
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    xcb_protocol_request_t protocol{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    const xcb_void_cookie_t cookie{
        xcb_send_request(m_c, XCB_REQUEST_CHECKED, &parts[2], &protocol)};
    Reply<xcb_generic_error_t> error(xcb_request_check(m_c, cookie));
    return !error && !xcb_connection_has_error(m_c);
}

void XClient::removeMonitor(const char* name) {
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr));
    if (atom)
        xcb_randr_delete_monitor(m_c, root(), atom->atom);
    sync();
}

} // namespace qdx::test
