// Driver of bench/compress/run.sh: lists a photo's five estimates, times the estimates or one
// balanced encode once, and compares each level's projected media size with what compress
// really writes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "compressor/compressor.h"
#include "core/conversion_error.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"

using namespace calvoro;
using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

int main(int argc, char** argv) {
    imaging::registerCapabilities();
    media::registerCapabilities();
    if (argc < 4) {
        std::fprintf(stderr, "usage: compress_bench photo|estimates|compress|clip <file> <outdir>\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path file = argv[2], out = argv[3];
    const auto format = *SupportedFormat::from(file.extension().string().substr(1));
    if (mode == "photo") {
        for (const auto& e : Compressor::estimates(file, format))
            std::printf("  %-9s %10lld bytes  saved %2d %%  loss %.2f %%\n", e.level.rawValue().c_str(),
                        static_cast<long long>(e.byteSize), e.savedPercent(), e.qualityLoss.value_or(-1));
        return 0;
    }
    // One timed run each; bench/paired.py pairs them run by run.
    if (mode == "estimates") {
        auto a = Clock::now();
        Compressor::estimates(file, format);
        std::printf("%.3f\n", seconds(a, Clock::now()));
        return 0;
    }
    if (mode == "compress") {
        auto a = Clock::now();
        Compressor::compress(file, format, CompressionLevel::balanced, out);
        std::printf("%.3f\n", seconds(a, Clock::now()));
        return 0;
    }
    auto estimates = Compressor::estimates(file, format);
    double worst = 0;
    for (CompressionLevel level : CompressionLevel::allCases()) {
        long long projected = -1;
        for (const auto& e : estimates)
            if (e.level == level) projected = e.byteSize;
        try {
            auto written = Compressor::compress(file, format, level, out);
            const auto real = static_cast<long long>(std::filesystem::file_size(written));
            std::filesystem::remove(written);
            if (projected < 0) {
                std::printf("  %-9s no estimate, real %lld bytes\n", level.rawValue().c_str(), real);
                continue;
            }
            const double err = std::abs(static_cast<double>(projected - real)) / static_cast<double>(real);
            worst = std::max(worst, err);
            std::printf("  %-9s estimated %10lld  real %10lld  relative error %.3f\n", level.rawValue().c_str(), projected, real, err);
        } catch (const std::exception& e) {
            std::printf("  %-9s %s\n", level.rawValue().c_str(), e.what());
        }
    }
    std::printf("largest relative error %.3f\n", worst);
    return 0;
}
