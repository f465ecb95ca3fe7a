#pragma once

// The compressor's video estimate: what compress writes at each level, found by encoding the
// video as compress does. x264's one-pass average-rate mode spends what a picture needs, not
// its target, on still, near-still and noisy pictures, which no projection from rates can know.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "converters/archive/compression_level.h"
#include "core/cancellation.h"
#include "core/supported_format.h"
#include "platform/media/asset.h"

namespace calvoro::compressor_video {

// Seconds from the start that are encoded at each level: the whole duration when that costs
// about as much as encoding 100 million pixels (640x360 at 30 frames a second for 14 s), else
// an opening of that cost, never under two seconds; the whole again when the opening would be
// half of it or more.
double trialSeconds(const media::AssetTrack& video, double duration);

// One video packet of an encoded opening.
struct Packet {
    double time = 0;  // seconds
    int64_t bytes = 0;
    bool keyFrame = false;
};

// The video bytes of the whole re-encode, projected from its opening of `opening` seconds:
// a picture that fills its target rate keeps to it on average over the whole (the encoder's
// rate control sees to that), beyond it only by what the opening overspent, less the longer
// the encoder has to make up for it; one that does not goes
// on as the second half of the opening did, with a key frame every 250 frames as the encoder
// puts them, and never past its target.
double projectedVideoBytes(const std::vector<Packet>& packets, double opening, double duration, double frameRate,
                           double targetBitsPerSecond);

using Sizes = std::array<std::optional<int64_t>, CompressionLevel::count>;

// The bytes compress would write at each level (exact where the whole was encoded); a level
// whose encode fails has none. The trial files live in a private work folder, gone on return.
// Throws CancellationError soon after the token is cancelled.
Sizes sizes(const std::filesystem::path& source, SupportedFormat target, const media::AssetTrack& video,
            double duration, const CancellationToken& cancellation);

}  // namespace calvoro::compressor_video
