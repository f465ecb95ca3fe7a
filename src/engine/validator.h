#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/supported_format.h"
#include "core/validation_status.h"

namespace calvoro {

// Opens a written output again, the way the user's other programs would, and says
// whether it is a sound file of its target format. Reads only the output; changes nothing.
class Validator {
public:
    using ValidationStatus = calvoro::ValidationStatus;

    // Never throws: every problem, an unreadable file included, is a failure with a reason.
    // For the page and split targets output is the folder of pages. The source format, when
    // known, lets a web page's own dark background pass where an inverted rendering would not.
    static ValidationStatus validate(SupportedFormat target, const std::filesystem::path& output,
                                     std::optional<SupportedFormat> source = std::nullopt);

    Validator() = delete;
};

}  // namespace calvoro
