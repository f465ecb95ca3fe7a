#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compressor/compression_level.h"
#include "core/supported_format.h"

namespace calvoro {

// What one level would give: measured for images, projected for audio and video.
struct CompressionEstimate {
    CompressionLevel level = CompressionLevel::balanced;
    int64_t byteSize = 0;
    // Images only: percent of structural similarity lost (0 = identical); absent when not scored.
    std::optional<double> qualityLoss;
    int64_t originalSize = 0;  // 0 when the source's size cannot be read
    SupportedFormat outputFormat = SupportedFormat::jpeg;
    bool isEstimate = false;  // byteSize projected rather than measured

    std::string id() const { return level.rawValue(); }
    // Share of the original saved, rounded half away from zero and kept within 0...99.
    int savedPercent() const;
};

// Makes the quality losses of a list in level order rise (or stay) from each level to the next
// smaller one, moving each as little as can be; estimates without a loss are passed over.
void makeQualityLossesRise(std::vector<CompressionEstimate>& estimates);

}  // namespace calvoro
