#pragma once

#include <map>

#include "core/supported_format.h"

namespace calvoro {

// How many conversions of each category a batch runs at once, from the processors available.
struct BatchLimits {
    int overall = 2;
    std::map<FileCategory, int> perCategory;

    // base = max(processors - 2, 2): overall and images min(base, 6), audio and fonts
    // min(base, 4), video 2, document, archive and unknown 1.
    static BatchLimits forProcessors(int processors);
    // The processors this process may run on now (its affinity mask, else the hardware's).
    static int activeProcessors();
    // A category without an entry counts as 1.
    int limit(FileCategory category) const;
};

}  // namespace calvoro
