// Checks of raster outputs through the imaging layer: the file opens, holds an image, and
// its first image decodes.
#include "engine/validation_checks.h"
#include "platform/imaging/image_source.h"

namespace calvoro::validation {

Status validateImage(const fs::path& url) {
    std::optional<imaging::ImageSource> source;
    try {
        source = imaging::ImageSource::open(url);
    } catch (...) {
        source.reset();
    }
    if (!source) return Status::failed("The image cannot be opened");
    try {
        // The cheapest decode that still reads every byte of the first image.
        const imaging::RgbaImage image = source->decodeFirstFrameForCheck();
        if (source->properties().frameCount < 1) return Status::failed("The file holds no image");
        if (image.empty()) return Status::failed("First image failed to decode");
    } catch (...) {
        return Status::failed("First image failed to decode");
    }
    return Status::passed();
}

}  // namespace calvoro::validation
