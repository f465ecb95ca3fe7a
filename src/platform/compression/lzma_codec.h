#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace calvoro::compression {

// The xz container over liblzma. Decoding reads every concatenated stream, grows its buffer
// only as output arrives and never beyond the caller's limit; the decoder's own memory is
// capped as well.
class LzmaCodec {
public:
    static constexpr uint32_t defaultPreset = 6;
    // Enough for every preset of the xz tool (xz -9 needs about 65 MB to decode).
    static constexpr uint64_t decoderMemoryLimit = uint64_t{1} << 30;

    enum class Status { ok, damaged, limitExceeded, needsTooMuchMemory, outOfMemory };
    struct DecodeResult {
        Status status = Status::damaged;
        int code = 0;  // liblzma's return code when it failed
    };
    // Appends the decoded content of every stream in input onto out, at most limit bytes.
    static DecodeResult decode(std::span<const uint8_t> input, size_t limit, std::vector<uint8_t>& out);

    // Encoding is threaded, in blocks of a fixed size so that the bytes never depend on the
    // threads: as large as preset 6's dictionary, which a shorter block could not fill.
    static constexpr uint64_t encoderBlockSize = uint64_t{8} << 20;
    // What the encoder may hold by liblzma's own count: four threads at preset 6 (93 MiB of
    // match finder each, and their blocks in and out).
    static constexpr uint64_t encoderMemoryBudget = uint64_t{480} << 20;
    // The threads an encoder gets: `wanted` (0: the processors this process may use), fewer
    // while the budget would not hold them, at least 1.
    static uint32_t encoderThreads(uint32_t wanted, uint32_t preset = defaultPreset);

    // One xz stream (CRC-64 check) as the stream encoder writes it; empty when the encoder fails.
    static std::vector<uint8_t> encode(std::span<const uint8_t> input, uint32_t preset = defaultPreset);
};

}  // namespace calvoro::compression
