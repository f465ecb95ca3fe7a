#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/imaging/rgba_image.h"

namespace calvoro::media {

// The frames of a GIF, each composed onto the full canvas as a viewer shows it.
class GifImageSource {
public:
    // Nothing when the file is not a readable GIF.
    static std::unique_ptr<GifImageSource> open(const std::filesystem::path& path);
    ~GifImageSource();
    GifImageSource(const GifImageSource&) = delete;
    GifImageSource& operator=(const GifImageSource&) = delete;

    size_t count() const;
    int canvasWidth() const;
    // Nothing when the frame cannot be decoded (damaged data, no colour table, too large).
    std::optional<imaging::RgbaImage> createImage(size_t index);

    // The frame's graphic control values in seconds; absent without a graphic control block.
    struct FrameProperties {
        std::optional<double> delayTime;           // very short delays read as 0.1 s, as browsers show them
        std::optional<double> unclampedDelayTime;  // as stored
    };
    std::optional<FrameProperties> properties(size_t index) const;

    struct Impl;

private:
    GifImageSource() = default;
    std::unique_ptr<Impl> impl_;
};

}  // namespace calvoro::media
