#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace qdx::x11 {

// XCB hands out replies, events and errors as malloc'ed blocks that the caller frees.
struct XcbFree {
    void operator()(void* block) const { std::free(block); }
};

// Owner of one reply (or event, or error) of XCB.
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

using XcbError = XcbReply<xcb_generic_error_t>;
using XcbEvent = XcbReply<xcb_generic_event_t>;

} // namespace qdx::x11
