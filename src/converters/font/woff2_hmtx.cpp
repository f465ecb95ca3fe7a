#include "converters/font/woff2_hmtx.h"

#include "converters/font/byte_io.h"
#include "core/conversion_error.h"

namespace calvoro {

std::vector<uint8_t> WOFF2Hmtx::reconstruct(std::span<const uint8_t> table, int numGlyphs, int numberOfHMetrics,
                                            std::span<const uint8_t> glyf, std::span<const uint8_t> loca, int indexFormat) {
    if (numberOfHMetrics < 1 || numGlyphs < numberOfHMetrics)
        throw ConversionError::corruptFile("WOFF2 hmtx has an implausible metric count.");

    const bool longLoca = indexFormat != 0;
    const size_t locaEntries = loca.size() / (longLoca ? 4 : 2);
    auto off = [&](size_t i) -> size_t { return longLoca ? readU32(loca, 4 * i) : size_t(readU16(loca, 2 * i)) * 2; };
    // Unreachable glyphs get 0: short glyf or loca data is no failure here.
    auto glyphXMin = [&](int i) -> int16_t {
        if (size_t(i) + 1 >= locaEntries) return 0;
        const size_t start = off(size_t(i));
        const size_t end = off(size_t(i) + 1);
        if (start >= end) return 0;
        if (glyf.size() < start + 4) return 0;
        return static_cast<int16_t>(readU16(glyf, start + 2));
    };

    size_t pos = 0;
    auto u8 = [&]() -> uint8_t {
        if (pos >= table.size()) throw ConversionError::corruptFile("WOFF2 stream ended early.");
        return table[pos++];
    };
    auto u16 = [&]() -> uint16_t {
        if (table.size() - pos < 2) throw ConversionError::corruptFile("WOFF2 stream ended early.");
        pos += 2;
        return byte_order::be16(table, pos - 2);
    };

    const uint8_t flags = u8();
    std::vector<uint16_t> advances(static_cast<size_t>(numberOfHMetrics));
    for (auto& a : advances) a = u16();
    std::vector<uint16_t> bearings(static_cast<size_t>(numGlyphs));
    for (int i = 0; i < numberOfHMetrics; ++i)
        bearings[size_t(i)] = (flags & 0x01) ? static_cast<uint16_t>(glyphXMin(i)) : u16();
    for (int i = numberOfHMetrics; i < numGlyphs; ++i)
        bearings[size_t(i)] = (flags & 0x02) ? static_cast<uint16_t>(glyphXMin(i)) : u16();

    ByteOut out;
    out.bytes.reserve(4 * size_t(numberOfHMetrics) + 2 * size_t(numGlyphs - numberOfHMetrics));
    for (int i = 0; i < numberOfHMetrics; ++i) {
        out.u16(advances[size_t(i)]);
        out.u16(bearings[size_t(i)]);
    }
    for (int i = numberOfHMetrics; i < numGlyphs; ++i) out.u16(bearings[size_t(i)]);
    return std::move(out.bytes);
}

}  // namespace calvoro
