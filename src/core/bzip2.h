#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/byte_pipe.h"

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
    // of its own; the encoder writes one stream.
    static std::unique_ptr<ByteSource> decoder(ByteSource& from);
    static std::unique_ptr<ByteSink> encoder(ByteSink& to, int blockSize100k);

    // Tests only: behave from now on as if the library were absent (or present again).
    static void simulateAbsenceForTesting(bool absent);
};

}  // namespace calvoro
