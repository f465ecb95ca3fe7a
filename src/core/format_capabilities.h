#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/supported_format.h"

namespace calvoro {

// Which targets the running system can write; computed once per process.
class FormatCapabilities {
public:
    static bool canProduce(SupportedFormat format);
    static bool canEncodeAudio(uint32_t formatID);

    // The imaging layer registers the type identifiers it can encode.
    using ImageEncoderProvider = std::function<std::vector<std::string>()>;
    // The media layer registers a probe: can an audio file of this format be opened for
    // writing at this path (44.1 kHz, two channels)? The file exists and is empty.
    using AudioEncoderProbe = std::function<bool(uint32_t formatID, const std::filesystem::path& path)>;
    static void registerImageEncoderProvider(ImageEncoderProvider provider);
    static void registerAudioEncoderProbe(AudioEncoderProbe probe);

    static constexpr uint32_t flacFormatID = 0x666C6163;  // 'flac'
    static constexpr uint32_t aacFormatID = 0x61616320;   // 'aac '
    static constexpr uint32_t alacFormatID = 0x616C6163;  // 'alac'
    static constexpr uint32_t lpcmFormatID = 0x6C70636D;  // 'lpcm'

    // Tests only: forget the computed sets so that the next question computes them again.
    static void resetForTesting();
};

}  // namespace calvoro
