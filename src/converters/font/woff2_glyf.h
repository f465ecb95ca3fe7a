#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "converters/font/byte_io.h"

namespace calvoro {

// Bounded big-endian reader over a window of a buffer; reads past the window are
// "WOFF2 stream ended early.".
struct Cursor {
    std::span<const uint8_t> data;
    size_t position = 0;
    size_t end = 0;

    Cursor() = default;
    Cursor(std::span<const uint8_t> d, size_t start, size_t stop) : data(d), position(start), end(stop) {}

    uint8_t u8();
    uint16_t u16();
    int16_t s16() { return static_cast<int16_t>(u16()); }
    std::span<const uint8_t> take(ptrdiff_t count);
    int read255UInt16();
};

// The WOFF2 transformed glyf table (transform version 0) and back; loca travels inside it.
class WOFF2Glyf {
public:
    struct Result {
        std::vector<uint8_t> glyf;
        std::vector<uint8_t> loca;
        int indexFormat = 0;
    };

    // Nothing when the font cannot be taken apart completely; never throws.
    static std::optional<std::vector<uint8_t>> transform(std::span<const uint8_t> glyf, std::span<const uint8_t> loca,
                                                         int indexFormat, int numGlyphs);
    static Result reconstruct(std::span<const uint8_t> table);

    // Number and point encodings, public for their tests.
    static void encode255UInt16(int value, ByteOut& out);
    struct Triplet {
        uint8_t code = 0;
        uint8_t bytes[4] = {0, 0, 0, 0};
        uint8_t count = 0;
    };
    static std::optional<Triplet> encodeTriplet(int dx, int dy);
    static std::pair<int, int> readTriplet(int code, Cursor& glyphStream);
    static void encodePoints(std::span<const int64_t> xs, std::span<const int64_t> ys, const std::vector<bool>& onCurve, ByteOut& out);
    static void skipComposite(Cursor& cursor);
    static bool compositeHasInstructions(std::span<const uint8_t> records);
};

}  // namespace calvoro
