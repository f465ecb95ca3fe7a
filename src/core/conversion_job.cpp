#include "core/conversion_job.h"

#include <cmath>

#include "core/text_util.h"

namespace calvoro {

std::optional<ConversionStatus> ConversionStatus::fromRawValue(std::string_view raw) {
    for (auto c : {pending, converting, completed, failed})
        if (ConversionStatus(c).rawValue() == raw) return ConversionStatus(c);
    return std::nullopt;
}

std::string ConversionStatus::rawValue() const {
    switch (value_) {
        case pending: return "Pending";
        case converting: return "Converting";
        case completed: return "Completed";
        case failed: return "Failed";
    }
    return "Pending";
}

std::string ConversionJob::fileSizeFormatted() const { return formatByteCount(fileSize); }

std::optional<std::string> ConversionJob::sizeDeltaFormatted() const {
    if (!outputSize || fileSize < 1) return std::nullopt;
    std::string s = formatByteCount(fileSize);
    std::string o = formatByteCount(*outputSize);
    double ratio = (static_cast<double>(*outputSize) - static_cast<double>(fileSize)) / static_cast<double>(fileSize);
    long long percent = std::llround(std::fabs(ratio) * 100.0);
    std::string suffix;
    if (percent >= 1) suffix = std::string(ratio < 0 ? " \u00B7 \u2212" : " \u00B7 +") + std::to_string(percent) + "%";
    return s + " \u2192 " + o + suffix;
}

}  // namespace calvoro
