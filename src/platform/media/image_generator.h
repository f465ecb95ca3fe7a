#pragma once

#include <memory>

#include "platform/imaging/rgba_image.h"
#include "platform/media/asset.h"

namespace calvoro::media {

// Pictures of an asset's first video track at exact times. Requests in rising time order
// decode forward without seeking, so sampling a whole video costs one decoding pass.
class ImageGenerator {
public:
    explicit ImageGenerator(const Asset& asset);
    ~ImageGenerator();
    ImageGenerator(const ImageGenerator&) = delete;
    ImageGenerator& operator=(const ImageGenerator&) = delete;

    // Turn pictures upright by the track's rotation.
    void setAppliesPreferredTrackTransform(bool value) { applyTransform_ = value; }
    // The largest picture to return, after rotation; 0 leaves a side to the aspect ratio.
    void setMaximumSize(int width, int height) {
        maxWidth_ = width;
        maxHeight_ = height;
    }

    // The picture shown at the time (seconds from the start); throws MediaError when there is none.
    imaging::RgbaImage copyImage(double seconds);

    struct Impl;

private:
    Asset asset_;
    bool applyTransform_ = false;
    int maxWidth_ = 0;
    int maxHeight_ = 0;
    std::unique_ptr<Impl> impl_;
};

}  // namespace calvoro::media
