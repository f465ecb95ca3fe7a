#include "platform/compression/lzma_codec.h"

#include <lzma.h>

#include <algorithm>

#include "core/processors.h"
#include "platform/compression/large_buffer.h"
#include "platform/compression/stream_codecs.h"

namespace calvoro::compression {

namespace {

class LzmaStream {
public:
    LzmaStream() = default;
    ~LzmaStream() { lzma_end(&stream_); }
    LzmaStream(const LzmaStream&) = delete;
    LzmaStream& operator=(const LzmaStream&) = delete;
    lzma_stream* get() { return &stream_; }
    lzma_stream* operator->() { return &stream_; }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

constexpr size_t kFirstBuffer = 64 * 1024;

LzmaCodec::Status statusFor(lzma_ret rc) {
    switch (rc) {
        case LZMA_MEMLIMIT_ERROR: return LzmaCodec::Status::needsTooMuchMemory;
        case LZMA_MEM_ERROR: return LzmaCodec::Status::outOfMemory;
        default: return LzmaCodec::Status::damaged;
    }
}

}  // namespace

LzmaCodec::DecodeResult LzmaCodec::decode(std::span<const uint8_t> input, size_t limit, std::vector<uint8_t>& out) {
    const size_t base = out.size();
    auto fail = [&](Status s, lzma_ret rc) {
        out.resize(base);
        return DecodeResult{s, static_cast<int>(rc)};
    };
    LzmaStream strm;
    lzma_ret rc = lzma_stream_decoder(strm.get(), decoderMemoryLimit, LZMA_CONCATENATED);
    if (rc != LZMA_OK) return fail(statusFor(rc), rc);
    strm->next_in = input.data();
    strm->avail_in = input.size();

    size_t allocated = std::min(limit, std::max(kFirstBuffer, 8 * input.size()));
    size_t produced = 0;
    reserveLarge(out, base + allocated);
    out.resize(base + allocated);
    for (;;) {
        if (produced == allocated) {
            if (allocated >= limit) {
                uint8_t probe;
                strm->next_out = &probe;
                strm->avail_out = 1;
                rc = lzma_code(strm.get(), LZMA_FINISH);
                if (strm->avail_out == 0) return fail(Status::limitExceeded, LZMA_OK);
                if (rc != LZMA_STREAM_END) return fail(statusFor(rc), rc == LZMA_OK ? LZMA_BUF_ERROR : rc);
                break;
            }
            allocated = std::min(limit, allocated * 2);
            reserveLarge(out, base + allocated);
            out.resize(base + allocated);
        }
        strm->next_out = out.data() + base + produced;
        strm->avail_out = allocated - produced;
        rc = lzma_code(strm.get(), LZMA_FINISH);
        produced = allocated - strm->avail_out;
        if (rc == LZMA_STREAM_END) break;
        if (rc == LZMA_OK) continue;
        if (rc == LZMA_BUF_ERROR && strm->avail_out == 0) continue;
        return fail(statusFor(rc), rc);
    }
    out.resize(base + produced);
    return {Status::ok, 0};
}

uint32_t LzmaCodec::encoderThreads(uint32_t wanted, uint32_t preset) {
    lzma_mt mt{};
    mt.preset = preset;
    mt.check = LZMA_CHECK_CRC64;
    mt.block_size = encoderBlockSize;
    mt.threads = wanted > 0 ? wanted : static_cast<uint32_t>(usableProcessors());
    for (; mt.threads > 1; --mt.threads) {
        const uint64_t needs = lzma_stream_encoder_mt_memusage(&mt);
        if (needs != UINT64_MAX && needs <= encoderMemoryBudget) break;
    }
    return mt.threads;
}

std::vector<uint8_t> LzmaCodec::encode(std::span<const uint8_t> input, uint32_t preset) {
    std::vector<uint8_t> out;
    reserveLarge(out, lzma_stream_buffer_bound(input.size()));
    VectorSink sink(out);
    try {
        auto encoder = xzEncoder(sink, {}, 0, preset);
        encoder->write(input);
        encoder->finish();
    } catch (const StreamError&) {
        return {};
    }
    return out;
}

}  // namespace calvoro::compression
