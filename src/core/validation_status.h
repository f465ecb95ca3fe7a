#pragma once

// What a check of a written output says, in terms every layer can pass along: the validator
// decides it, the documents module reports it from its own PDF check.

#include <string>
#include <utility>

namespace calvoro {

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

namespace validation {

using Status = ValidationStatus;

// What the corners of a PDF's first page must show: white (documents we lay out), any opaque
// colour (pictures, and web pages, which paint their own background in the light scheme).
enum class PDFBackgroundRequirement { whitePage, opaquePage, paintedPage };

}  // namespace validation

}  // namespace calvoro
