#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace calvoro::compression {

// Brotli (RFC 7932) over libbrotli. Decoding streams into a buffer that grows with what
// really comes out, so a claimed size never decides an allocation.
class BrotliCodec {
public:
    enum class Mode { generic, text, font };
    struct Options {
        int quality = 11;   // 0 to 11
        int window = 22;    // log2 of the sliding window, 10 to 24
        Mode mode = Mode::generic;
    };

    // The whole input as one Brotli stream; nothing when the encoder fails or the result
    // would exceed capacity bytes (0: no limit beyond the encoder's own bound).
    static std::optional<std::vector<uint8_t>> compress(std::span<const uint8_t> input, Options options, size_t capacity = 0);
    static std::optional<std::vector<uint8_t>> compress(std::span<const uint8_t> input) { return compress(input, Options{}); }

    // Decodes until the stream ends or maxOutput bytes came out, whichever is first; when it
    // stopped at the cap, *cutOff (if given) is set. Nothing when the stream is damaged or
    // truncated before the cap.
    static std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> input, size_t maxOutput,
                                                          bool* cutOff = nullptr);
};

}  // namespace calvoro::compression
