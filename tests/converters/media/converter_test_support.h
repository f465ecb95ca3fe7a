#pragma once

#include <functional>
#include <mutex>

#include "core/conversion_error.h"
#include <vector>

#include "core/conversion_logger.h"
#include "platform/media/media_fixtures.h"

namespace calvoro::testing::media {

// Collects progress reports from any thread.
struct ProgressRecorder {
    std::mutex mutex;
    std::vector<double> values;
    std::function<void(double)> handler() {
        return [this](double v) {
            std::lock_guard lock(mutex);
            values.push_back(v);
        };
    }
};

// The log entries appended since construction.
struct LogWatch {
    LogWatch() { ConversionLogger::shared().clear(); }
    std::vector<ConversionLogger::LogEntry> entries() const { return ConversionLogger::shared().entries(); }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& e : entries()) out.push_back(ConversionLogger::LogEntry::rawValue(e.level) + " " + e.category + " " + e.message);
        return out;
    }
};

template <typename F>
ConversionError conversionErrorOf(F&& f) {
    try {
        f();
    } catch (const ConversionError& e) {
        return e;
    }
    ADD_FAILURE() << "no ConversionError was thrown";
    return ConversionError::conversionFailed();
}

}  // namespace calvoro::testing::media
