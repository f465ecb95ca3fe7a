#pragma once

// The compressor's estimate of video and sound: what compress writes at each level, found by
// encoding the file as compress does. x264's one-pass average-rate mode spends what a picture
// needs, not its target, on still, near-still and noisy pictures, and the AAC encoder less than
// its rate on plain sound, which no projection from rates can know.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "compressor/compression_level.h"
#include "core/cancellation.h"
#include "core/supported_format.h"
#include "platform/media/asset.h"

namespace calvoro::compressor_video {

// How much of a video the trial encodes take: the same opening at every level, decoded once.
struct TrialLimits {
    // Decoded pixels: 100 million is 640x360 at 30 frames a second for 14 s, 1080p for 48
    // frames, 4K for 12. Never less than one picture.
    double pixels = 100e6;
    // Seconds, for the sound's sake: a tiny picture, or none, over an hour would cost little, its
    // sound much.
    double seconds = 60;
    // Where the clip holds more pictures than `pixels` allow, the opening takes no more than this
    // share of them, so that the five levels together encode about as many pictures as one
    // compress does, and never fewer than `pictures` (as far as `pixels` allow).
    double share = 0.18;
    double pictures = 24;
    // Called from an encoder's thread after each picture it takes (tests watch the encoders so).
    std::function<void(CompressionLevel)> pictureTaken;
};

// Seconds from the start that are encoded at each level: the whole duration when it is within
// the limits, else an opening as the limits allow.
double trialSeconds(const media::AssetTrack* video, double duration, const TrialLimits& limits = {});

// One video packet of an encoded opening.
struct Packet {
    double time = 0;  // seconds
    int64_t bytes = 0;
    bool keyFrame = false;
};

// The video bytes of the whole re-encode, projected from its opening of `opening` seconds:
// a picture that fills its target rate (its opening spends half of it or more, as x264 climbs to
// it) keeps to it on average over the whole (the encoder's rate control sees to that), beyond it
// only by what the opening overspent, less the longer the encoder has to make up for it, unless
// the rest of the `source` is far calmer; one that does not goes on as the second half of the
// opening did, scaled by how the rate of the source's own packets after the opening stands to
// its rate within it, with a key frame every 250 frames as the encoder puts them, and never past
// its target. The source's packets are asked for only where they are needed.
double projectedVideoBytes(const std::vector<Packet>& packets, double opening, double duration, double frameRate,
                           double targetBitsPerSecond, const std::function<const std::vector<Packet>&()>& source);

using Sizes = std::array<int64_t, CompressionLevel::count>;

// The bytes compress would write at each level (exact where the whole was encoded). The
// opening is decoded once and encoded at the levels side by side, as many at once as keep the
// memory within half as much again as compress's own, the rest after them; the trial files
// live in a private work folder, gone on return. Throws what made a level's encode fail
// (compress would fail the same way), and CancellationError once the token is cancelled, each
// encoder stopping before its next picture.
// Without a video track, the sound alone is encoded.
// The source is read through `asset`, as probed for its tracks: a large picture costs a
// decode of several pictures each time a file is probed.
Sizes sizes(const media::Asset& asset, SupportedFormat target, const media::AssetTrack* video, double duration,
            const CancellationToken& cancellation, const TrialLimits& limits = {});

}  // namespace calvoro::compressor_video
