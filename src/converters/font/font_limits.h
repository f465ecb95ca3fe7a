#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "converters/font/font_converter.h"
#include "core/byte_order.h"
#include "core/conversion_error.h"

namespace calvoro::font_limits {

// Readers: directories may claim anything, tables may overlap; memory follows the real data.
inline void checkDecodedTotal(uint64_t total) {
    if (total > FontConverter::maxDecodedSize)
        throw ConversionError::corruptFile("Font data would take more than 256 MB once decoded.");
}

// Sums what every directory record that lies inside data claims (claim(recordOffset)), so
// that a font whose tables add up to too much is refused before the first table is made.
template <typename Claim>
void checkDirectoryTotal(std::span<const uint8_t> data, size_t first, size_t stride, size_t count, Claim claim) {
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = first + stride * i;
        if (at + stride > data.size()) break;
        total += claim(at);
    }
    checkDecodedTotal(total);
}

// Wide, so that sums of table lengths cannot wrap.
inline uint64_t be32(std::span<const uint8_t> d, size_t at) { return byte_order::be32(d, at); }

// Writers: refuse what the container's fields cannot hold instead of writing a broken font.
inline void checkTableCount(size_t count, size_t limit) {
    if (count >= limit) throw ConversionError::corruptFile("Font has too many tables to be written.");
}
inline void checkFits32(uint64_t value) {
    if (value > 0xFFFFFFFFull) throw ConversionError::corruptFile("Font is too large to be written.");
}

inline uint64_t padded4(uint64_t n) { return (n + 3) & ~uint64_t(3); }

}  // namespace calvoro::font_limits
