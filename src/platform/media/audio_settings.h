#pragma once

#include <cstdint>
#include <optional>

namespace calvoro::media {

// Four-character audio format identifiers.
inline constexpr uint32_t audioFormatAAC = 0x61616320;   // 'aac '
inline constexpr uint32_t audioFormatALAC = 0x616C6163;  // 'alac'
inline constexpr uint32_t audioFormatFLAC = 0x666C6163;  // 'flac'
inline constexpr uint32_t audioFormatLinearPCM = 0x6C70636D;  // 'lpcm'

// Encoder settings of an audio file or of an asset writer's audio input.
struct AudioSettings {
    uint32_t formatID = audioFormatAAC;
    double sampleRate = 44100;
    uint32_t channelCount = 2;
    std::optional<int64_t> encoderBitRate;    // bits per second (AAC)
    std::optional<int> encoderAudioQuality;   // 0 to 127; the encoder's own rate control decides
    std::optional<int> linearPCMBitDepth;     // 16, 24 or 32
    std::optional<bool> linearPCMIsFloat;
    std::optional<bool> linearPCMIsBigEndian; // the container fixes the byte order; kept for completeness
    std::optional<bool> linearPCMIsNonInterleaved;
    std::optional<int> encoderBitDepthHint;   // ALAC and FLAC: 16 or 24
};

// The sample layout handed to or taken from the program.
enum class CommonFormat { int16, float32 };

}  // namespace calvoro::media
