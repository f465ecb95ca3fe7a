#include "converters/font/byte_io.h"

#include "core/conversion_error.h"

namespace calvoro {

namespace {
[[noreturn]] void endOfData() { throw ConversionError::corruptFile("Unexpected end of font data."); }
}  // namespace

uint8_t ByteReader::u8() {
    if (offset_ >= d_.size()) endOfData();
    return d_[offset_++];
}

uint16_t ByteReader::u16() {
    uint16_t hi = u8();
    return static_cast<uint16_t>((hi << 8) | u8());
}

uint32_t ByteReader::u32() {
    uint32_t hi = u16();
    return (hi << 16) | u16();
}

void ByteReader::skip(size_t count) {
    if (count > d_.size() - offset_) {
        offset_ = d_.size();
        endOfData();
    }
    offset_ += count;
}

uint32_t ByteReader::uintBase128() {
    uint8_t b = u8();
    if (b == 0x80) throw ConversionError::corruptFile("Malformed WOFF2 length field.");
    uint32_t value = b & 0x7F;
    if (!(b & 0x80)) return value;
    for (int i = 0; i < 4; ++i) {
        b = u8();
        if (value & 0xFE000000u) throw ConversionError::corruptFile("WOFF2 length field overflows.");
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80)) return value;
    }
    throw ConversionError::corruptFile("WOFF2 length field too long.");
}

}  // namespace calvoro
