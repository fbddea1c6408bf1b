#pragma once

// The bytes of a packed DIB a frame getter or converter writes. Large ones are mapped straight
// from the kernel, on whole 2 MiB pages it may back with transparent huge pages: a frame buffer
// touched for the first time then costs a page fault or two instead of hundreds (several
// milliseconds a 720p frame on a virtual machine, where each fault exits to the hypervisor).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qdx::vfw {

// Memory for `bytes`, aligned to 64 bytes; throws std::bad_alloc. (Decoded pictures use it too.)
void* allocateDibMemory(size_t bytes);
void freeDibMemory(void* memory, size_t bytes) noexcept;

template <class T>
struct DibAllocator {
    using value_type = T;
    DibAllocator() = default;
    template <class U>
    DibAllocator(const DibAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return static_cast<T*>(allocateDibMemory(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { freeDibMemory(p, n * sizeof(T)); }
    friend bool operator==(const DibAllocator&, const DibAllocator&) { return true; }
};

using DibBytes = std::vector<uint8_t, DibAllocator<uint8_t>>;

} // namespace qdx::vfw
