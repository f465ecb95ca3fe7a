#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace calvoro {

// Whole-buffer xz: every concatenated stream is decoded, never more than the caller's cap.
class XZCodec {
public:
    static bool isXZ(std::span<const uint8_t> data);
    static std::vector<uint8_t> decompress(std::span<const uint8_t> data, int64_t maxOutputBytes);
    static std::vector<uint8_t> compress(std::span<const uint8_t> data);
};

}  // namespace calvoro
