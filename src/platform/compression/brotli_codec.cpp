#include "platform/compression/brotli_codec.h"

#include <brotli/decode.h>
#include <brotli/encode.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace calvoro::compression {

namespace {

struct EncoderDeleter {
    void operator()(BrotliEncoderState* s) const { BrotliEncoderDestroyInstance(s); }
};
struct DecoderDeleter {
    void operator()(BrotliDecoderState* s) const { BrotliDecoderDestroyInstance(s); }
};

BrotliEncoderMode encoderMode(BrotliCodec::Mode mode) {
    switch (mode) {
        case BrotliCodec::Mode::text: return BROTLI_MODE_TEXT;
        case BrotliCodec::Mode::font: return BROTLI_MODE_FONT;
        case BrotliCodec::Mode::generic: break;
    }
    return BROTLI_MODE_GENERIC;
}

}  // namespace

std::optional<std::vector<uint8_t>> BrotliCodec::compress(std::span<const uint8_t> input, Options options, size_t capacity) {
    // The streaming encoder: at the top qualities it is both faster and tighter than the one-shot call.
    std::unique_ptr<BrotliEncoderState, EncoderDeleter> state(BrotliEncoderCreateInstance(nullptr, nullptr, nullptr));
    if (!state) throw std::bad_alloc();
    BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_QUALITY,
                              uint32_t(std::clamp(options.quality, BROTLI_MIN_QUALITY, BROTLI_MAX_QUALITY)));
    BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_LGWIN,
                              uint32_t(std::clamp(options.window, BROTLI_MIN_WINDOW_BITS, BROTLI_MAX_WINDOW_BITS)));
    BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_MODE, encoderMode(options.mode));
    BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_SIZE_HINT,
                              uint32_t(std::min<size_t>(input.size(), std::numeric_limits<uint32_t>::max())));

    size_t bound = BrotliEncoderMaxCompressedSize(input.size());
    if (bound == 0) bound = input.size() + input.size() / 8 + 1024;  // the bound overflowed its own formula
    if (capacity != 0) bound = std::min(bound, capacity);
    std::vector<uint8_t> out(std::max<size_t>(bound, 16));
    size_t availIn = input.size();
    const uint8_t* nextIn = input.data();
    size_t availOut = bound;
    uint8_t* nextOut = out.data();
    while (!BrotliEncoderIsFinished(state.get())) {
        if (!BrotliEncoderCompressStream(state.get(), BROTLI_OPERATION_FINISH, &availIn, &nextIn, &availOut, &nextOut,
                                         nullptr))
            return std::nullopt;
        if (availOut == 0 && (BrotliEncoderHasMoreOutput(state.get()) || !BrotliEncoderIsFinished(state.get())))
            return std::nullopt;  // does not fit the capacity
    }
    out.resize(bound - availOut);
    return out;
}

std::optional<std::vector<uint8_t>> BrotliCodec::decompress(std::span<const uint8_t> input, size_t maxOutput, bool* cutOff) {
    std::unique_ptr<BrotliDecoderState, DecoderDeleter> state(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr));
    if (!state) throw std::bad_alloc();
    if (cutOff) *cutOff = false;

    // Grow with the real output: a claimed size must not make the first allocation.
    std::vector<uint8_t> out(std::min(maxOutput, std::max<size_t>(input.size() * 4, 64 * 1024)));
    size_t produced = 0;
    size_t availIn = input.size();
    const uint8_t* nextIn = input.data();
    for (;;) {
        size_t availOut = out.size() - produced;
        uint8_t* nextOut = out.data() + produced;
        auto rc = BrotliDecoderDecompressStream(state.get(), &availIn, &nextIn, &availOut, &nextOut, nullptr);
        produced = out.size() - availOut;
        if (rc == BROTLI_DECODER_RESULT_SUCCESS) {
            out.resize(produced);
            return out;
        }
        if (rc != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) return std::nullopt;  // damaged or truncated
        if (produced >= maxOutput) {
            if (cutOff) *cutOff = true;
            out.resize(produced);
            return out;
        }
        out.resize(maxOutput - out.size() < out.size() ? maxOutput : out.size() * 2);
    }
}

}  // namespace calvoro::compression
