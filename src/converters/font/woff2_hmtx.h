#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace calvoro {

// Rebuilds hmtx from the WOFF2 transformed hmtx, whose left side bearings may be left out
// because they equal each glyph's xMin.
class WOFF2Hmtx {
public:
    static std::vector<uint8_t> reconstruct(std::span<const uint8_t> table, int numGlyphs, int numberOfHMetrics,
                                            std::span<const uint8_t> glyf, std::span<const uint8_t> loca, int indexFormat);
};

}  // namespace calvoro
