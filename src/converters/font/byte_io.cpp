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
    const size_t at = offset_;
    skip(2);
    return byte_order::be16(d_, at);
}

uint32_t ByteReader::u32() {
    const size_t at = offset_;
    skip(4);
    return byte_order::be32(d_, at);
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
