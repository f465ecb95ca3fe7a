#include "app/state/batch_limits.h"

#include <algorithm>

#include "core/processors.h"

namespace calvoro {

BatchLimits BatchLimits::forProcessors(int processors) {
    const int base = std::max(processors - 2, 2);
    BatchLimits limits;
    limits.overall = std::min(base, 6);
    limits.perCategory = {
        {FileCategory::image, limits.overall}, {FileCategory::video, 2},    {FileCategory::audio, std::min(base, 4)},
        {FileCategory::font, std::min(base, 4)}, {FileCategory::document, 1}, {FileCategory::archive, 1},
        {FileCategory::unknown, 1},
    };
    return limits;
}

int BatchLimits::activeProcessors() { return usableProcessors(); }

int BatchLimits::limit(FileCategory category) const {
    auto it = perCategory.find(category);
    return it == perCategory.end() ? 1 : it->second;
}

}  // namespace calvoro
