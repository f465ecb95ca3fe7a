#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/supported_format.h"

namespace calvoro {

// The target formats the automation actions offer ("Format").
class ConvertFormatChoice {
public:
    enum Case { jpeg, png, heic, tiff, gif, pdf, mp4, mov, m4a, wav, aiff, txt, html, zip, tar };
    static constexpr int count = 15;

    constexpr ConvertFormatChoice(Case c) : value_(c) {}
    constexpr operator Case() const { return value_; }

    static const std::array<ConvertFormatChoice, count>& allCases();
    // Exactly the fifteen case names.
    static std::optional<ConvertFormatChoice> fromRawValue(std::string_view raw);
    static constexpr const char* typeTitle = "Format";

    std::string rawValue() const;
    std::string title() const;
    // Absent for pdf, which the source decides.
    std::optional<SupportedFormat> supportedFormat() const;
    // pdf gives pdf_image for images and pdf for everything else.
    static std::optional<SupportedFormat> resolve(ConvertFormatChoice choice, SupportedFormat source);

private:
    Case value_;
};

}  // namespace calvoro
