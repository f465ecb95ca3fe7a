#pragma once

// Fixed-width integers read from and appended to byte buffers, least or most significant byte
// first, for the formats whose headers the program reads and writes itself.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace calvoro::byte_order {

constexpr uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
constexpr uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
constexpr uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
constexpr uint32_t be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) | (static_cast<uint32_t>(p[2]) << 8) |
           static_cast<uint32_t>(p[3]);
}

// The same at an offset the caller has checked.
inline uint16_t le16(std::span<const uint8_t> data, size_t at) { return le16(data.data() + at); }
inline uint32_t le32(std::span<const uint8_t> data, size_t at) { return le32(data.data() + at); }
inline uint16_t be16(std::span<const uint8_t> data, size_t at) { return be16(data.data() + at); }
inline uint32_t be32(std::span<const uint8_t> data, size_t at) { return be32(data.data() + at); }

// Appenders; a value wider than the field keeps its low bytes.
inline void putLE16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
inline void putLE32(std::vector<uint8_t>& out, uint32_t v) {
    putLE16(out, v & 0xFFFF);
    putLE16(out, v >> 16);
}
inline void putBE16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}
inline void putBE32(std::vector<uint8_t>& out, uint32_t v) {
    putBE16(out, v >> 16);
    putBE16(out, v & 0xFFFF);
}

}  // namespace calvoro::byte_order
