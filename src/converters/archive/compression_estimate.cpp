#include "converters/archive/compression_estimate.h"

#include <algorithm>
#include <cmath>

namespace calvoro {

int CompressionEstimate::savedPercent() const {
    if (originalSize < 1) return 0;
    const double saved = static_cast<double>(originalSize - byteSize) / static_cast<double>(originalSize) * 100.0;
    // Never 100 %: something is always left.
    return static_cast<int>(std::clamp(std::round(saved), 0.0, 99.0));
}

}  // namespace calvoro
