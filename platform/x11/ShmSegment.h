#pragma once

#include <xcb/shm.h>

#include <cstddef>
#include <cstdint>

namespace qdx::x11 {

class XcbConnection;

// A shared-memory segment attached both to this process and to the X server (MIT-SHM), into
// which the server writes screen images without sending them over the socket. The segment is
// marked for removal as soon as both sides hold it, so it never outlives the process.
class ShmSegment {
public:
    // Throws X11Error when the segment cannot be made or the server refuses it (a remote display,
    // another IPC namespace).
    ShmSegment(const XcbConnection& connection, std::size_t size);
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    xcb_shm_seg_t id() const { return m_segment; }
    uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    const XcbConnection& m_connection;
    xcb_shm_seg_t m_segment = 0;
    uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_attached = false;
};

} // namespace qdx::x11
