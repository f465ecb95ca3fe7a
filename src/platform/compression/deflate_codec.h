#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace calvoro::compression {

// Raw DEFLATE (RFC 1951, no header or trailer) and CRC-32 for the ZIP and gzip containers.
// Whole buffers go through libdeflate; a stream whose decoded length is not known up front
// is inflated by zlib into a growing buffer. Decoding never allocates beyond the caller's
// limit, nor beyond what DEFLATE's largest ratio allows for the input.
class DeflateCodec {
public:
    static constexpr size_t maxRatio = 1032;
    static constexpr int defaultLevel = 6;

    // Largest output a DEFLATE stream of inputSize bytes can inflate to.
    static size_t maxInflatedSize(size_t inputSize);

    // A complete raw DEFLATE stream of input; empty input gives empty output.
    // Throws std::bad_alloc when the encoder cannot be set up.
    static std::vector<uint8_t> deflate(std::span<const uint8_t> input, int level = defaultLevel);

    // One encoder reused for many inputs: keeps libdeflate's state and its output buffer.
    class Encoder {
    public:
        explicit Encoder(int level = defaultLevel);
        ~Encoder();
        Encoder(const Encoder&) = delete;
        Encoder& operator=(const Encoder&) = delete;
        // The raw DEFLATE stream of input, valid until the next call; empty for empty input.
        // With capacity set, nothing is returned unless the stream fits into that many bytes.
        std::span<const uint8_t> deflate(std::span<const uint8_t> input, size_t capacity = SIZE_MAX);

    private:
        struct State;
        std::unique_ptr<State> state_;
    };

    enum class Status { ok, damaged, limitExceeded };
    struct InflateResult {
        Status status = Status::damaged;
        size_t consumed = 0;  // input bytes the stream occupied, up to its final block
    };
    // Appends what the stream inflates to onto out, at most limit bytes. sizeHint is the size
    // the container claims; it only steers the first buffer and is trusted just so far.
    // Bytes after the stream's final block are left alone (see consumed).
    static InflateResult inflate(std::span<const uint8_t> input, size_t sizeHint, size_t limit, std::vector<uint8_t>& out);

    static uint32_t crc32(std::span<const uint8_t> data, uint32_t previous = 0);
};

}  // namespace calvoro::compression
