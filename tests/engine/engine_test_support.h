#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/cancellation.h"
#include "core/conversion_job.h"
#include "core/conversion_logger.h"
#include "engine/conversion_engine.h"
#include "support/test_support.h"

namespace calvoro::testing {

inline ConversionJob makeJob(const std::filesystem::path& source, SupportedFormat from,
                             std::optional<SupportedFormat> target) {
    ConversionJob job(source, source.filename().string(), 0, from);
    job.targetFormat = target;
    return job;
}

// The log entries written since the capture began.
class LogCapture {
public:
    LogCapture() { ConversionLogger::shared().clear(); }
    std::vector<ConversionLogger::LogEntry> entries() const { return ConversionLogger::shared().entries(); }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& e : entries()) out.push_back(e.message);
        return out;
    }
};

// A router and a validator that record their calls.
struct FakeEngine {
    int dispatchCalls = 0;
    int validateCalls = 0;
    std::function<std::filesystem::path(const std::filesystem::path& outputDir)> produce;
    Validator::ValidationStatus verdict = Validator::ValidationStatus::passed();

    ConversionEngine::Collaborators collaborators() {
        return {
            [this](const ConversionJob&, SupportedFormat, const std::filesystem::path& outputDir,
                   const ConversionEngine::ProgressHandler&, const CancellationToken&) {
                ++dispatchCalls;
                return produce(outputDir);
            },
            [this](SupportedFormat, const std::filesystem::path&, std::optional<SupportedFormat>) {
                ++validateCalls;
                return verdict;
            },
        };
    }
};

inline void noProgress(double) {}

// Every path below folder, hidden ones included: what a conversion left there.
inline std::vector<std::string> everything(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) out.push_back(entry.path().string());
    return out;
}

// The real router and validator; stoppedInside tells whether the converter itself gave up on a
// cancellation (the engine's own check after it would hide a converter that ignores the token).
inline ConversionEngine::Collaborators watchingCancellation(bool& stoppedInside) {
    ConversionEngine::Collaborators with = ConversionEngine::Collaborators::standard();
    with.dispatch = [&stoppedInside](const ConversionJob& job, SupportedFormat target, const std::filesystem::path& dir,
                                     const ConversionEngine::ProgressHandler& progress, const CancellationToken& token) {
        try {
            return ConversionEngine::dispatch(job, target, dir, progress, token);
        } catch (const CancellationError&) {
            stoppedInside = true;
            throw;
        }
    };
    return with;
}

}  // namespace calvoro::testing
