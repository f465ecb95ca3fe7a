#pragma once

#include <filesystem>
#include <memory>

#include "platform/imaging/rgba_image.h"

namespace calvoro::media {

// An animated GIF written frame by frame, each frame with its own 256-colour palette.
class GifWriter {
public:
    // Nothing when the file cannot be created.
    static std::unique_ptr<GifWriter> create(const std::filesystem::path& path, size_t declaredImageCount);
    ~GifWriter();
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    // 0 loops for ever. Applies when the first frame is written.
    void setLoopCount(int loopCount) { loopCount_ = loopCount; }
    // The first image fixes the canvas size; later ones are placed at its top left, clipped.
    // Returns false when the frame could not be written.
    bool addImage(const imaging::RgbaImage& image, double delaySeconds);
    // Completes the file; false when no frame was written or writing failed.
    bool finalize();

    struct Impl;

private:
    GifWriter() = default;
    std::unique_ptr<Impl> impl_;
    int loopCount_ = 0;
    size_t written_ = 0;
};

}  // namespace calvoro::media
