#pragma once

#include <cmath>

namespace calvoro {

// A fraction as a whole percentage, truncated: 0.999 reads 99. The tiny nudge keeps values such
// as 0.29, whose binary form lies just below, from reading one less than they are.
inline int truncatedPercent(double fraction) { return static_cast<int>(std::floor(fraction * 100.0 + 1e-9)); }

}  // namespace calvoro
