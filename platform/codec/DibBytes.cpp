#include "platform/codec/DibBytes.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace qdx::vfw {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
// From this size on an allocation is mapped by itself. (Not under AddressSanitizer, which then
// watches every DIB and picture for bytes read or written past their end.)
#ifdef __SANITIZE_ADDRESS__
constexpr size_t kMappedFrom = SIZE_MAX;
#else
constexpr size_t kMappedFrom = size_t(1) << 20;
#endif
// What decoded pictures need (AVX-512 loads).
constexpr std::align_val_t kAlignment{64};

size_t roundedUp(size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void* allocateDibMemory(size_t bytes) {
    if (bytes < kMappedFrom)
        return ::operator new(bytes, kAlignment);
    if (bytes > SIZE_MAX - 2 * kHugePage)
        throw std::bad_alloc();
    const size_t size = roundedUp(bytes);
    // Mapped one huge page larger, then trimmed to a range that starts on a huge page.
    void* mapped =
        mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const uintptr_t start = uintptr_t(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        munmap(mapped, aligned - start);
    const size_t tail = start + kHugePage - aligned;
    if (tail > 0)
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    void* memory = reinterpret_cast<void*>(aligned);
    madvise(memory, size, MADV_HUGEPAGE); // a hint: without it the pages are 4 KiB ones
    return memory;
}

void freeDibMemory(void* memory, size_t bytes) noexcept {
    if (!memory)
        return;
    if (bytes < kMappedFrom)
        ::operator delete(memory, kAlignment);
    else
        munmap(memory, roundedUp(bytes));
}

} // namespace qdx::vfw
