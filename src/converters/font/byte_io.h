#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/byte_order.h"

namespace calvoro {

// Forward reader over font bytes; every read past the end is "Unexpected end of font data.".
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : d_(data) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    void skip(size_t count);
    // The WOFF2 variable-length 32-bit number.
    uint32_t uintBase128();

    size_t offset() const { return offset_; }
    size_t size() const { return d_.size(); }

private:
    std::span<const uint8_t> d_;
    size_t offset_ = 0;
};

// Growable big-endian byte buffer.
struct ByteOut {
    std::vector<uint8_t> bytes;

    void u8(uint8_t value) { bytes.push_back(value); }
    void u16(uint16_t value) { byte_order::putBE16(bytes, value); }
    void u32(uint32_t value) { byte_order::putBE32(bytes, value); }
    void append(std::span<const uint8_t> data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    void zeros(size_t count) { bytes.resize(bytes.size() + count, 0); }
    size_t size() const { return bytes.size(); }
};

// Big-endian reads at a known-good position.
inline uint16_t readU16(std::span<const uint8_t> d, size_t at) { return byte_order::be16(d, at); }
inline uint32_t readU32(std::span<const uint8_t> d, size_t at) { return byte_order::be32(d, at); }

}  // namespace calvoro
