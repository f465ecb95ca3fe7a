#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <memory>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/lazy_library.h"

namespace calvoro::imaging::detail {

namespace {

// The libjxl functions this file calls.
#define JXLLIBRARY_FUNCTIONS(X) \
    X(JxlDecoderCloseInput) \
    X(JxlDecoderCreate) \
    X(JxlDecoderDestroy) \
    X(JxlDecoderGetBasicInfo) \
    X(JxlDecoderGetColorAsICCProfile) \
    X(JxlDecoderGetICCProfileSize) \
    X(JxlDecoderImageOutBufferSize) \
    X(JxlDecoderProcessInput) \
    X(JxlDecoderSetImageOutBuffer) \
    X(JxlDecoderSetInput) \
    X(JxlDecoderSetParallelRunner) \
    X(JxlDecoderSubscribeEvents)

CALVORO_LAZY_LIBRARY(JxlLibrary, loadJxlLibrary, JXLLIBRARY_FUNCTIONS, "libjxl.so.0.7")

// The table, or the error that the library is not installed.
const JxlLibrary& jxl() { return requireTable(loadJxlLibrary(), "libjxl"); }

// The thread pool of libjxl_threads; decoding works without it, on one thread.
#define JXLTHREADS_FUNCTIONS(X) \
    X(JxlThreadParallelRunner) \
    X(JxlThreadParallelRunnerCreate) \
    X(JxlThreadParallelRunnerDestroy) \
    X(JxlThreadParallelRunnerDefaultNumWorkerThreads)

CALVORO_LAZY_LIBRARY(JxlThreadsLibrary, jxlThreads, JXLTHREADS_FUNCTIONS, "libjxl_threads.so.0.7")

struct DecoderDeleter {
    void operator()(JxlDecoder* d) const { jxl().JxlDecoderDestroy(d); }
};

struct Runner {
    const JxlThreadsLibrary* library = jxlThreads();
    void* runner = library ? library->JxlThreadParallelRunnerCreate(nullptr, library->JxlThreadParallelRunnerDefaultNumWorkerThreads())
                           : nullptr;
    Runner() = default;
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;
    ~Runner() {
        if (runner) library->JxlThreadParallelRunnerDestroy(runner);
    }
};
}  // namespace

void decodeJPEGXL(const uint8_t* data, size_t size, DecodeResult& out) {
    // Declared first so that the pool outlives the decoder that uses it.
    Runner runner;
    std::unique_ptr<JxlDecoder, DecoderDeleter> dec(jxl().JxlDecoderCreate(nullptr));
    if (!dec) fail("Could not decode JPEG XL data");
    if (runner.runner &&
        jxl().JxlDecoderSetParallelRunner(dec.get(), runner.library->JxlThreadParallelRunner, runner.runner) != JXL_DEC_SUCCESS)
        fail("Could not decode JPEG XL data");
    if (jxl().JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS)
        fail("Could not decode JPEG XL data");
    jxl().JxlDecoderSetInput(dec.get(), data, size);
    jxl().JxlDecoderCloseInput(dec.get());
    JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    RgbaImage image;
    bool haveImage = false;
    for (;;) {
        JxlDecoderStatus status = jxl().JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT) fail("Could not decode JPEG XL data");
        if (status == JXL_DEC_BASIC_INFO) {
            if (jxl().JxlDecoderGetBasicInfo(dec.get(), &info) != JXL_DEC_SUCCESS) fail("Could not decode JPEG XL data");
            checkDimensions(info.xsize, info.ysize);
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            size_t n = 0;
            if (jxl().JxlDecoderGetICCProfileSize(dec.get(), &format, JXL_COLOR_PROFILE_TARGET_DATA, &n) == JXL_DEC_SUCCESS && n > 0) {
                out.props.metadata.iccProfile.resize(n);
                if (jxl().JxlDecoderGetColorAsICCProfile(dec.get(), &format, JXL_COLOR_PROFILE_TARGET_DATA,
                                                   out.props.metadata.iccProfile.data(), n) != JXL_DEC_SUCCESS)
                    out.props.metadata.iccProfile.clear();
            }
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            size_t n = 0;
            if (jxl().JxlDecoderImageOutBufferSize(dec.get(), &format, &n) != JXL_DEC_SUCCESS) fail("Could not decode JPEG XL data");
            // The decoder turns the image upright itself, so its size may be the transposed one.
            uint32_t w = info.xsize, h = info.ysize;
            if (info.orientation >= JXL_ORIENT_TRANSPOSE) std::swap(w, h);
            image = RgbaImage(static_cast<int>(w), static_cast<int>(h));
            if (n != image.pixels.size()) fail("Could not decode JPEG XL data");
            if (jxl().JxlDecoderSetImageOutBuffer(dec.get(), &format, image.pixels.data(), n) != JXL_DEC_SUCCESS)
                fail("Could not decode JPEG XL data");
        } else if (status == JXL_DEC_FULL_IMAGE) {
            haveImage = true;
            break;  // frame 0 is enough
        } else if (status == JXL_DEC_SUCCESS) {
            break;
        }
    }
    if (!haveImage) fail("Could not decode JPEG XL data");
    out.props.hasAlpha = info.alpha_bits > 0;
    out.props.bitsPerComponent = static_cast<int>(info.bits_per_sample);
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

}  // namespace calvoro::imaging::detail
