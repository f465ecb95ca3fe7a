#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/supported_format.h"
#include "engine/validator.h"

namespace calvoro::ConversionTester {

// One attempted conversion of the self-test.
struct Result {
    SupportedFormat source;
    SupportedFormat target;
    bool success = false;
    std::optional<std::string> error;
    long durationMs = 0;
    int64_t outputBytes = 0;
    std::optional<std::filesystem::path> outputURL;
    Validator::ValidationStatus validation = Validator::ValidationStatus::skipped();
};

struct Summary {
    std::vector<Result> results;

    int passed() const;
    int failed() const;
    int validationPassed() const;
    std::vector<Result> validationFailed() const;
    std::string consoleReport() const;
};

// Generates the sample files, converts each into every format it can become (twice over:
// outputs become samples for formats that have none), validates every output and writes
// one line per conversion to standard error. Never throws.
Summary runAll();

// The progress line of one result (without its line feed).
std::string progressLine(const Result& result);

}  // namespace calvoro::ConversionTester
