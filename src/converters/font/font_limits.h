#pragma once

#include <cstddef>
#include <cstdint>

#include "converters/font/font_converter.h"
#include "core/conversion_error.h"

namespace calvoro::font_limits {

// Readers: directories may claim anything, tables may overlap; memory follows the real data.
inline void checkDecodedTotal(uint64_t total) {
    if (total > FontConverter::maxDecodedSize)
        throw ConversionError::corruptFile("Font data would take more than 256 MB once decoded.");
}

// Writers: refuse what the container's fields cannot hold instead of writing a broken font.
inline void checkTableCount(size_t count, size_t limit) {
    if (count >= limit) throw ConversionError::corruptFile("Font has too many tables to be written.");
}
inline void checkFits32(uint64_t value) {
    if (value > 0xFFFFFFFFull) throw ConversionError::corruptFile("Font is too large to be written.");
}

inline uint64_t padded4(uint64_t n) { return (n + 3) & ~uint64_t(3); }

}  // namespace calvoro::font_limits
