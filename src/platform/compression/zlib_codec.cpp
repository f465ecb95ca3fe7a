#include "platform/compression/zlib_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace calvoro::compression {

namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;
using Decompressor = std::unique_ptr<libdeflate_decompressor, DecompressorDeleter>;

Compressor makeCompressor(int level) {
    Compressor c(libdeflate_alloc_compressor(std::clamp(level, 0, 12)));
    if (!c) throw std::bad_alloc();
    return c;
}

Decompressor makeDecompressor() {
    Decompressor d(libdeflate_alloc_decompressor());
    if (!d) throw std::bad_alloc();
    return d;
}

// zlib's streaming inflate, used only when the caller wants the head of a stream that is
// longer than the room it gave: libdeflate cannot stop part way.
std::optional<std::vector<uint8_t>> inflatePrefix(std::span<const uint8_t> input, size_t capacity) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) throw std::bad_alloc();
    struct End {
        z_stream* s;
        ~End() { inflateEnd(s); }
    } end{&zs};
    std::vector<uint8_t> out(capacity);
    size_t inPos = 0;
    size_t outPos = 0;
    constexpr size_t step = std::numeric_limits<uInt>::max();
    while (outPos < capacity) {
        zs.next_in = const_cast<Bytef*>(input.data() + inPos);
        zs.avail_in = static_cast<uInt>(std::min(step, input.size() - inPos));
        zs.next_out = out.data() + outPos;
        zs.avail_out = static_cast<uInt>(std::min(step, capacity - outPos));
        const uInt inBefore = zs.avail_in;
        const uInt outBefore = zs.avail_out;
        int rc = inflate(&zs, Z_NO_FLUSH);
        inPos += inBefore - zs.avail_in;
        outPos += outBefore - zs.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) return std::nullopt;
        if (inBefore == zs.avail_in && outBefore == zs.avail_out) return std::nullopt;  // no progress: truncated
    }
    out.resize(outPos);
    return out;
}

}  // namespace

size_t ZlibCodec::maxInflatedSize(size_t inputSize) {
    if (inputSize > (std::numeric_limits<size_t>::max() - 1024) / maxRatio) return std::numeric_limits<size_t>::max();
    return inputSize * maxRatio + 1024;
}

std::vector<uint8_t> ZlibCodec::compress(std::span<const uint8_t> input, int level) {
    auto c = makeCompressor(level);
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c.get(), input.size()));
    size_t n = libdeflate_zlib_compress(c.get(), input.data(), input.size(), out.data(), out.size());
    if (n == 0) throw std::bad_alloc();  // cannot happen with the bound's room
    out.resize(n);
    return out;
}

std::optional<std::vector<uint8_t>> ZlibCodec::decompress(std::span<const uint8_t> input, size_t maxOutput) {
    const size_t limit = std::min(maxOutput, maxInflatedSize(input.size()));
    auto d = makeDecompressor();
    size_t room = std::min(limit, std::max<size_t>(input.size() * 4, 4096));
    for (;;) {
        std::vector<uint8_t> out(std::max<size_t>(room, 1));
        size_t actual = 0;
        auto rc = libdeflate_zlib_decompress(d.get(), input.data(), input.size(), out.data(), room, &actual);
        if (rc == LIBDEFLATE_SUCCESS) {
            out.resize(actual);
            return out;
        }
        if (rc != LIBDEFLATE_INSUFFICIENT_SPACE || room >= limit) return std::nullopt;
        room = room > limit / 2 ? limit : room * 2;
    }
}

std::optional<std::vector<uint8_t>> ZlibCodec::deflateBody(std::span<const uint8_t> input, int level, size_t capacity) {
    auto c = makeCompressor(level);
    std::vector<uint8_t> out(std::max<size_t>(capacity, 1));
    size_t n = libdeflate_deflate_compress(c.get(), input.data(), input.size(), out.data(), capacity);
    if (n == 0) return std::nullopt;
    out.resize(n);
    return out;
}

std::optional<std::vector<uint8_t>> ZlibCodec::inflateBody(std::span<const uint8_t> input, size_t capacity) {
    // The stream cannot produce more than its ratio allows, so the room never needs to be larger.
    const size_t room = std::min(capacity, maxInflatedSize(input.size()));
    auto d = makeDecompressor();
    std::vector<uint8_t> out(std::max<size_t>(room, 1));
    size_t actual = 0;
    auto rc = libdeflate_deflate_decompress(d.get(), input.data(), input.size(), out.data(), room, &actual);
    if (rc == LIBDEFLATE_SUCCESS) {
        out.resize(actual);
        return out;
    }
    if (rc == LIBDEFLATE_INSUFFICIENT_SPACE && room == capacity) return inflatePrefix(input, capacity);
    return std::nullopt;
}

uint32_t ZlibCodec::adler32(std::span<const uint8_t> input) {
    return libdeflate_adler32(1, input.data(), input.size());
}

}  // namespace calvoro::compression
