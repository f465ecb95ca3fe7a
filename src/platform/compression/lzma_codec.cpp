#include "platform/compression/lzma_codec.h"

#include <lzma.h>

#include <algorithm>
#include <thread>

#include "platform/compression/large_buffer.h"

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

std::vector<uint8_t> LzmaCodec::encode(std::span<const uint8_t> input, uint32_t preset) {
    LzmaStream strm;
    lzma_mt mt{};
    mt.flags = 0;
    mt.block_size = 0;  // the preset's default: three times the dictionary
    mt.timeout = 0;
    mt.preset = preset;
    mt.filters = nullptr;
    mt.check = LZMA_CHECK_CRC64;
    // Each thread holds about 100 MB at preset 6 and works on one block (three dictionaries,
    // 24 MiB): a small input gets one thread, a large one at most four.
    const uint64_t blockSize = uint64_t{3} * (uint64_t{8} << 20);
    const uint64_t blocks = std::max<uint64_t>(1, (input.size() + blockSize - 1) / blockSize);
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    mt.threads = static_cast<uint32_t>(std::min<uint64_t>({blocks, cores, 4}));
    lzma_ret rc = lzma_stream_encoder_mt(strm.get(), &mt);
    if (rc != LZMA_OK) return {};
    std::vector<uint8_t> out;
    reserveLarge(out, lzma_stream_buffer_bound(input.size()));
    out.resize(lzma_stream_buffer_bound(input.size()));
    strm->next_in = input.data();
    strm->avail_in = input.size();
    strm->next_out = out.data();
    strm->avail_out = out.size();
    for (;;) {
        rc = lzma_code(strm.get(), LZMA_FINISH);
        if (rc == LZMA_STREAM_END) break;
        if (rc != LZMA_OK && rc != LZMA_BUF_ERROR) return {};
        if (strm->avail_out == 0) {
            // Block headers of the threaded encoder may pass the one-stream bound a little.
            size_t used = out.size();
            out.resize(used + used / 8 + 4096);
            strm->next_out = out.data() + used;
            strm->avail_out = out.size() - used;
        } else if (rc == LZMA_BUF_ERROR) {
            return {};
        }
    }
    out.resize(out.size() - strm->avail_out);
    return out;
}

}  // namespace calvoro::compression
