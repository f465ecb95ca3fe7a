#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace calvoro::compression {

// zlib-wrapped DEFLATE (RFC 1950) over libdeflate, plus the bare DEFLATE body for
// containers that write the zlib framing themselves. Every decoder is bounded by the
// caller's cap and never allocates more than DEFLATE's largest ratio allows.
class ZlibCodec {
public:
    // DEFLATE expands at most about 1032 times; anything that claims more is not DEFLATE.
    static constexpr size_t maxRatio = 1032;
    // Largest output a DEFLATE stream of inputSize bytes can inflate to.
    static size_t maxInflatedSize(size_t inputSize);

    static constexpr int defaultLevel = 6;

    // A complete zlib stream: header, DEFLATE body and Adler-32 trailer.
    static std::vector<uint8_t> compress(std::span<const uint8_t> input, int level = defaultLevel);
    // The whole content of a zlib stream, with header and trailer checked; nothing when the
    // stream is damaged or would inflate to more than maxOutput bytes.
    static std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> input, size_t maxOutput);

    // A bare DEFLATE stream (RFC 1951); nothing when it does not fit into capacity bytes.
    static std::optional<std::vector<uint8_t>> deflateBody(std::span<const uint8_t> input, int level, size_t capacity);
    // The first bytes, at most capacity, that a bare DEFLATE stream inflates to; nothing when
    // the stream is damaged before that many bytes came out.
    static std::optional<std::vector<uint8_t>> inflateBody(std::span<const uint8_t> input, size_t capacity);

    static uint32_t adler32(std::span<const uint8_t> input);
};

}  // namespace calvoro::compression
