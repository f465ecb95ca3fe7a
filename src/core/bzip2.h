#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace calvoro {

// bzip2 over libbz2, opened at run time; its absence makes bz2 unavailable.
class BZip2 {
public:
    static bool isAvailable();
    static bool isBZip2(std::span<const uint8_t> data);
    // Every concatenated stream, never more than maxOutputBytes.
    static std::vector<uint8_t> decompress(std::span<const uint8_t> data, int64_t maxOutputBytes);
    static std::vector<uint8_t> compress(std::span<const uint8_t> data, int blockSize100k);

    // Tests only: behave from now on as if the library were absent (or present again).
    static void simulateAbsenceForTesting(bool absent);
};

}  // namespace calvoro
