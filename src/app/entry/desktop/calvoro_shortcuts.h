#pragma once

#include <array>

namespace calvoro {

// The spoken phrases and tiles of the two automation actions; "${applicationName}" stands for
// the program's name.
struct CalvoroShortcut {
    const char* intentTitle;
    std::array<const char*, 2> phrases;
    const char* shortTitle;
    const char* systemImage;
};

inline constexpr std::array<CalvoroShortcut, 2> calvoroShortcuts{{
    {"Convert File", {"Convert a file with ${applicationName}", "Convert with ${applicationName}"}, "Convert File",
     "arrow.left.arrow.right"},
    {"Convert File in Place",
     {"Convert in place with ${applicationName}", "Convert next to the original with ${applicationName}"},
     "Convert in Place", "arrow.down.doc"},
}};

}  // namespace calvoro
