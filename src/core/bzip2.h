#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/byte_pipe.h"
#include "core/cancellation.h"

namespace calvoro {

// bzip2 over libbz2, opened at run time; its absence makes bz2 unavailable.
class BZip2 {
public:
    static bool isAvailable();
    static bool isBZip2(std::span<const uint8_t> data);
    // Every concatenated stream, never more than maxOutputBytes.
    static std::vector<uint8_t> decompress(std::span<const uint8_t> data, int64_t maxOutputBytes);
    static std::vector<uint8_t> compress(std::span<const uint8_t> data, int blockSize100k);

    // The same as streams holding only the codec's own blocks: the decoder reads every
    // concatenated stream and throws corruptFile while reading as decompress does, without a cap
    // of its own.
    static std::unique_ptr<ByteSource> decoder(ByteSource& from);
    // One stream, its blocks compressed on `threads` threads (0: the processors this process may
    // use, at most encoderThreadLimit), byte for byte what the bzip2 tool writes at that block size
    // whatever the threads. It holds at most encoderMemoryBudget: the blocks not yet written, the
    // one being filled among them, within encoderBlockBudget, and on each thread the library's
    // tables and the output of the block under way. A cancelled token stops it at the next block,
    // or while it waits for blocks, with CancellationError.
    static std::unique_ptr<ByteSink> encoder(ByteSink& to, int blockSize100k, const CancellationToken& cancellation = {},
                                             int threads = 0);
    static constexpr int encoderThreadLimit = 16;
    static constexpr size_t encoderBlockBudget = size_t{64} << 20;
    // The library's 400 KB and 8 bytes a block byte; at most three times a block's room for the
    // output as it grows and is trimmed; the piece it is written into.
    static constexpr size_t encoderThreadMemory(int blockSize100k) {
        return 400'000 + 11 * 100'000 * static_cast<size_t>(blockSize100k) + 65'536;
    }
    static constexpr size_t encoderMemoryBudget(int blockSize100k, int threads) {
        return encoderBlockBudget + static_cast<size_t>(threads) * encoderThreadMemory(blockSize100k);
    }

    // Tests only: behave from now on as if the library were absent (or present again).
    static void simulateAbsenceForTesting(bool absent);
};

}  // namespace calvoro
