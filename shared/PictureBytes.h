#pragma once

// Pieces every picture reader uses: reading fixed-size fields at an offset the caller has already
// checked against the data, and failing with a message for the user.

#include "shared/PictureError.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qdx {

[[noreturn]] inline void fail(const char* text) {
    throw PictureError(QString::fromUtf8(text));
}

// The little-endian field of type T at `offset` (the formats and the machines are little-endian).
template <class T>
T readAt(std::span<const uint8_t> data, size_t offset) {
    T value;
    std::memcpy(&value, data.data() + offset, sizeof value);
    return value;
}

} // namespace qdx
