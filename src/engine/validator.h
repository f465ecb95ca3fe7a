#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/supported_format.h"

namespace calvoro {

// Opens a written output again, the way the user's other programs would, and says
// whether it is a sound file of its target format. Reads only the output; changes nothing.
class Validator {
public:
    class ValidationStatus {
    public:
        enum class Kind { failed, skipped, passed };

        static ValidationStatus failed(std::string reason) { return ValidationStatus(Kind::failed, std::move(reason)); }
        static ValidationStatus skipped() { return ValidationStatus(Kind::skipped, {}); }
        static ValidationStatus passed() { return ValidationStatus(Kind::passed, {}); }

        Kind kind() const { return kind_; }
        bool isFailure() const { return kind_ == Kind::failed; }
        // The reason of a failure; empty otherwise.
        const std::string& reason() const { return reason_; }

        friend bool operator==(const ValidationStatus&, const ValidationStatus&) = default;

    private:
        ValidationStatus(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}
        Kind kind_;
        std::string reason_;
    };

    // Never throws: every problem, an unreadable file included, is a failure with a reason.
    // For the page and split targets output is the folder of pages. The source format, when
    // known, lets a web page's own dark background pass where an inverted rendering would not.
    static ValidationStatus validate(SupportedFormat target, const std::filesystem::path& output,
                                     std::optional<SupportedFormat> source = std::nullopt);

    Validator() = delete;
};

}  // namespace calvoro
