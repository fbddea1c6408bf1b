#include "platform/x11/ShmSegment.h"

#include "platform/x11/X11Error.h"
#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbReply.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace qdx::x11 {

ShmSegment::ShmSegment(const XcbConnection& connection, std::size_t size)
    : m_connection(connection), m_size(size) {
    const int shmId = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId < 0)
        throw X11Error(std::string("Cannot create a shared-memory segment: ") +
                       std::strerror(errno));
    void* address = ::shmat(shmId, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        const int error = errno;
        ::shmctl(shmId, IPC_RMID, nullptr);
        throw X11Error(std::string("Cannot attach a shared-memory segment: ") +
                       std::strerror(error));
    }
    m_data = static_cast<uint8_t*>(address);

    xcb_connection_t* c = connection.get();
    m_segment = xcb_generate_id(c);
    XcbError error(xcb_request_check(c, xcb_shm_attach_checked(c, m_segment, shmId, 0)));
    // Either the server holds it now or it never will: the id can go in both cases, and the
    // memory is freed when the last side detaches.
    ::shmctl(shmId, IPC_RMID, nullptr);
    if (error || connection.broken()) {
        ::shmdt(m_data);
        m_data = nullptr;
        throw X11Error("The X server refused the shared-memory segment");
    }
    m_attached = true;
}

ShmSegment::~ShmSegment() {
    if (m_attached && !m_connection.broken()) {
        xcb_shm_detach(m_connection.get(), m_segment);
        xcb_flush(m_connection.get());
    }
    if (m_data)
        ::shmdt(m_data);
}

} // namespace qdx::x11
