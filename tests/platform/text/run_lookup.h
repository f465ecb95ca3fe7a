#pragma once

#include "platform/text/attributed_string.h"

namespace calvoro::testing {

// The run that holds the first occurrence of needle, or null.
inline const text::Run* runHolding(const text::AttributedString& s, const QString& needle) {
    int at = static_cast<int>(s.characters().indexOf(needle));
    if (at < 0) return nullptr;
    for (const text::Run& r : s.runs())
        if (r.location <= at && at < r.location + r.length) return &r;
    return nullptr;
}

}  // namespace calvoro::testing
