#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "core/byte_pipe.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

}  // namespace

// Small pieces are held back and large ones go straight out: whatever the mix, the file holds
// every byte in the order written.
TEST(FileSink, KeepsOrderAcrossHeldAndWrittenThroughPieces) {
    TempDir dir;
    const std::vector<size_t> sizes = {10, 300 * 1024, 512, 256 * 1024, 256 * 1024 - 1, 3 << 20, 1, (1 << 20) - 5, 700 * 1024, 0, 17};
    std::vector<uint8_t> expected;
    {
        FileSink sink(dir / "out.bin");
        uint8_t seed = 1;
        for (size_t size : sizes) {
            auto piece = pattern(size, seed++);
            sink.write(piece);
            expected.insert(expected.end(), piece.begin(), piece.end());
        }
        sink.finish();
    }
    EXPECT_EQ(readFile(dir / "out.bin"), expected);
}

TEST(FileSink, UnwritablePlaceThrowsAndNothingIsMade) {
    TempDir dir;
    EXPECT_THROW(FileSink(dir / "missing" / "out.bin"), std::filesystem::filesystem_error);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}
