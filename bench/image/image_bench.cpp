// Times the imaging layer on the benchmark's jobs; prints seconds for one job.
// Usage: image_bench make-photo OUT.jpg | jpeg-to-png IN OUT | png-to-jpeg IN OUT |
//        to-jpeg IN OUT | resize IN OUT EDGE

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"

using namespace calvoro::imaging;

namespace {

// 6000 × 4000 with smooth shading, edges and sensor-like noise, so codecs work as on a photo.
RgbaImage syntheticPhoto() {
    RgbaImage image(6000, 4000);
    std::mt19937 rng(42);
    std::normal_distribution<float> noise(0.0f, 6.0f);
    for (int y = 0; y < image.height; ++y) {
        uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += 4) {
            const float u = x / 6000.0f, v = y / 4000.0f;
            float r = 120 + 90 * std::sin(u * 7 + v * 3), g = 110 + 80 * std::cos(u * 5 - v * 4), b = 100 + 70 * std::sin(u * 11 * v);
            if (((x / 400) + (y / 400)) % 5 == 0) r *= 0.6f, g *= 0.6f;
            const float n = noise(rng);
            p[0] = static_cast<uint8_t>(std::clamp(r + n, 0.0f, 255.0f));
            p[1] = static_cast<uint8_t>(std::clamp(g + n, 0.0f, 255.0f));
            p[2] = static_cast<uint8_t>(std::clamp(b + n, 0.0f, 255.0f));
            p[3] = 255;
        }
    }
    return image;
}

RgbaImage load(const char* path) {
    auto source = ImageSource::open(path);
    if (!source) throw std::runtime_error(std::string("cannot open ") + path);
    RgbaImage image = source->decodeFirstFrame();
    return applyOrientation(std::move(image), source->properties().metadata.orientation);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string job = argv[1];
    const auto start = std::chrono::steady_clock::now();
    try {
        if (job == "make-photo") {
            writeImageFile(argv[2], syntheticPhoto(), types::jpeg, EncodeOptions{0.92, {}, false, false, {}});
        } else if (job == "make-heic" && argc >= 4) {
            writeImageFile(argv[3], load(argv[2]), types::heic, EncodeOptions{0.85, {}, false, false, {}});
        } else if (job == "jpeg-to-png" && argc >= 4) {
            writeImageFile(argv[3], load(argv[2]), types::png, EncodeOptions{0.92, {}, false, false, {}});
        } else if ((job == "png-to-jpeg" || job == "to-jpeg") && argc >= 4) {
            writeImageFile(argv[3], load(argv[2]), types::jpeg, EncodeOptions{0.92, {}, false, false, {}});
        } else if (job == "resize" && argc >= 5) {
            // As the converter does: a JPEG decodes at a reduced scale, then the resize rule
            // on the stored size, then the orientation.
            auto source = ImageSource::open(argv[2]);
            if (!source) throw std::runtime_error("cannot open input");
            const int edge = std::stoi(argv[4]);
            RgbaImage image = source->decodeFirstFrameForResize(edge);
            const auto& props = source->properties();
            const double scale = static_cast<double>(edge) / std::max(props.pixelWidth, props.pixelHeight);
            RgbaImage small = applyOrientation(resample(image, static_cast<int>(std::round(props.pixelWidth * scale)),
                                                        static_cast<int>(std::round(props.pixelHeight * scale))),
                                               props.metadata.orientation);
            writeImageFile(argv[3], small, types::jpeg, EncodeOptions{0.92, {}, false, false, {}});
        } else {
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", seconds);
    return 0;
}
