#include "compressor/compression_estimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace calvoro {

int CompressionEstimate::savedPercent() const {
    if (originalSize < 1) return 0;
    const double saved = static_cast<double>(originalSize - byteSize) / static_cast<double>(originalSize) * 100.0;
    // Never 100 %: something is always left.
    return static_cast<int>(std::clamp(std::round(saved), 0.0, 99.0));
}

// A smaller level is never shown as losing less than a larger one. Where the score happens to
// rise again at a lower quality (ringing on flat areas that a coarser level smooths away), each
// loss is put midway between the highest loss above it and the lowest below it: the closest
// rising list, no value moved by more than half the dip.
void makeQualityLossesRise(std::vector<CompressionEstimate>& estimates) {
    std::vector<double*> losses;
    for (auto& e : estimates)
        if (e.qualityLoss) losses.push_back(&*e.qualityLoss);
    const size_t n = losses.size();
    std::vector<double> highestAbove(n), lowestBelow(n);
    for (size_t i = 0; i < n; ++i) highestAbove[i] = i == 0 ? *losses[i] : std::max(highestAbove[i - 1], *losses[i]);
    for (size_t i = n; i-- > 0;) lowestBelow[i] = i + 1 == n ? *losses[i] : std::min(lowestBelow[i + 1], *losses[i]);
    for (size_t i = 0; i < n; ++i) *losses[i] = (highestAbove[i] + lowestBelow[i]) / 2;
}

}  // namespace calvoro
