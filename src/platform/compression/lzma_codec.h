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

    // One xz stream (CRC-64 check); empty when the encoder fails.
    static std::vector<uint8_t> encode(std::span<const uint8_t> input, uint32_t preset = defaultPreset);
};

}  // namespace calvoro::compression
