#pragma once

// What a conversion takes where neither the job nor the settings say otherwise.

namespace calvoro {

inline constexpr double defaultImageQuality = 0.92;
inline constexpr double defaultGIFFramesPerSecond = 10.0;
inline constexpr long defaultGIFWidth = 480;
inline constexpr int defaultAudioBitrate = 256000;  // bits a second

}  // namespace calvoro
