#include "platform/compression/deflate_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "platform/compression/large_buffer.h"

namespace calvoro::compression {

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// A claimed size is believed for the first buffer only up to this much per input byte, so that a
// header that lies cannot make us commit gigabytes for a small stream.
constexpr size_t kTrustedRatio = 16;
constexpr size_t kTrustedMinimum = size_t{1} << 20;
constexpr size_t kFirstStreamingBuffer = 64 * 1024;

class ZStream {
public:
    ZStream() {
        if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    }
    ~ZStream() { inflateEnd(&stream_); }
    ZStream(const ZStream&) = delete;
    ZStream& operator=(const ZStream&) = delete;
    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

private:
    z_stream stream_{};
};

DeflateCodec::InflateResult inflateStreaming(std::span<const uint8_t> input, size_t bound, size_t limit, std::vector<uint8_t>& out) {
    using Status = DeflateCodec::Status;
    const size_t base = out.size();
    ZStream zs;
    size_t fed = 0;
    auto refill = [&] {
        if (zs->avail_in == 0 && fed < input.size()) {
            size_t chunk = std::min<size_t>(input.size() - fed, std::numeric_limits<uInt>::max());
            zs->next_in = const_cast<Bytef*>(input.data() + fed);
            zs->avail_in = static_cast<uInt>(chunk);
            fed += chunk;
        }
    };
    auto fail = [&](Status s) {
        out.resize(base);
        return DeflateCodec::InflateResult{s, 0};
    };

    size_t allocated = std::min(bound, std::max(kFirstStreamingBuffer, 4 * input.size()));
    size_t produced = 0;
    reserveLarge(out, base + allocated);
    out.resize(base + allocated);
    for (;;) {
        refill();
        if (produced == allocated) {
            if (allocated >= bound) {
                // Full at the bound: one more byte means the stream is bigger than allowed.
                Bytef probe;
                zs->next_out = &probe;
                zs->avail_out = 1;
                int rc = ::inflate(zs.get(), Z_NO_FLUSH);
                if (zs->avail_out == 0) return fail(bound == limit ? Status::limitExceeded : Status::damaged);
                if (rc != Z_STREAM_END) return fail(Status::damaged);
                break;
            }
            allocated = std::min(bound, std::max(allocated * 2, kFirstStreamingBuffer));
            reserveLarge(out, base + allocated);
            out.resize(base + allocated);
        }
        size_t room = std::min<size_t>(allocated - produced, std::numeric_limits<uInt>::max());
        zs->next_out = out.data() + base + produced;
        zs->avail_out = static_cast<uInt>(room);
        int rc = ::inflate(zs.get(), Z_NO_FLUSH);
        produced += room - zs->avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_BUF_ERROR) {
            // No progress possible: either the output is full (grow and go on) or the input ended early.
            if (zs->avail_out == 0) continue;
            return fail(Status::damaged);
        }
        if (rc != Z_OK) return fail(Status::damaged);
        if (zs->avail_in == 0 && fed == input.size() && zs->avail_out > 0) return fail(Status::damaged);
    }
    out.resize(base + produced);
    return {Status::ok, static_cast<size_t>(zs->total_in)};
}

}  // namespace

size_t DeflateCodec::maxInflatedSize(size_t inputSize) {
    if (inputSize > std::numeric_limits<size_t>::max() / maxRatio) return std::numeric_limits<size_t>::max();
    return inputSize * maxRatio;
}

struct DeflateCodec::Encoder::State {
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
    std::unique_ptr<uint8_t[]> buffer;
    size_t bufferSize = 0;
};

DeflateCodec::Encoder::Encoder(int level) : state_(std::make_unique<State>()) {
    state_->compressor.reset(libdeflate_alloc_compressor(level));
    if (!state_->compressor) throw std::bad_alloc();
}

DeflateCodec::Encoder::~Encoder() = default;

std::span<const uint8_t> DeflateCodec::Encoder::deflate(std::span<const uint8_t> input, size_t capacity) {
    if (input.empty()) return {};
    size_t room = std::min(capacity, libdeflate_deflate_compress_bound(state_->compressor.get(), input.size()));
    if (room == 0) return {};
    if (state_->bufferSize < room) {
        // Uninitialised on purpose: only what the encoder writes is ever read.
        state_->buffer = std::make_unique_for_overwrite<uint8_t[]>(room);
        state_->bufferSize = room;
        adviseHugePages(state_->buffer.get(), room);
    }
    size_t written = libdeflate_deflate_compress(state_->compressor.get(), input.data(), input.size(), state_->buffer.get(), room);
    return {state_->buffer.get(), written};
}

std::vector<uint8_t> DeflateCodec::deflate(std::span<const uint8_t> input, int level) {
    Encoder encoder(level);
    auto out = encoder.deflate(input);
    return {out.begin(), out.end()};
}

DeflateCodec::InflateResult DeflateCodec::inflate(std::span<const uint8_t> input, size_t sizeHint, size_t limit,
                                                  std::vector<uint8_t>& out) {
    if (input.empty()) return {Status::damaged, 0};
    const size_t bound = std::min(limit, maxInflatedSize(input.size()));
    const size_t trusted = std::max(kTrustedMinimum, kTrustedRatio * input.size());
    if (sizeHint > 0 && sizeHint <= bound && sizeHint <= trusted) {
        std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(libdeflate_alloc_decompressor());
        if (!decompressor) throw std::bad_alloc();
        const size_t base = out.size();
        reserveLarge(out, base + sizeHint);
        out.resize(base + sizeHint);
        size_t inUsed = 0;
        size_t outUsed = 0;
        auto rc = libdeflate_deflate_decompress_ex(decompressor.get(), input.data(), input.size(), out.data() + base, sizeHint,
                                                   &inUsed, &outUsed);
        if (rc == LIBDEFLATE_SUCCESS) {
            out.resize(base + outUsed);
            return {Status::ok, inUsed};
        }
        out.resize(base);
        if (rc != LIBDEFLATE_INSUFFICIENT_SPACE) return {Status::damaged, 0};
        // The claim was too small: decode again without trusting it.
    }
    return inflateStreaming(input, bound, limit, out);
}

uint32_t DeflateCodec::crc32(std::span<const uint8_t> data, uint32_t previous) {
    return libdeflate_crc32(previous, data.data(), data.size());
}

}  // namespace calvoro::compression
