#pragma once

#include <string>

#include "compressor/compression_estimate.h"
#include "core/text_util.h"

namespace calvoro {

// The quality cell of an estimate, shared by the command line's table and the MCP tool.
inline std::string estimateQualityText(const CompressionEstimate& estimate) {
    if (!estimate.qualityLoss) return estimate.isEstimate ? "estimated" : "\u2014";
    if (*estimate.qualityLoss < 0.05) return "no visible loss";
    return formatC("%.1f%% loss", *estimate.qualityLoss);
}

}  // namespace calvoro
