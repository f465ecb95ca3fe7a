#include "app/entry/convert_mode.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "app/entry/mode_operands.h"
#include "app/entry/termination_signals.h"
#include "core/conversion_error.h"
#include "core/file_detector.h"
#include "core/file_writing.h"
#include "core/source_file.h"
#include "core/supported_format.h"
#include "engine/conversion_engine.h"
#include "engine/job_routing.h"

namespace calvoro::CalvoroApp {

namespace {

std::string everyIdentifier() {
    std::string out;
    for (auto f : SupportedFormat::allCases()) {
        if (!out.empty()) out += ' ';
        out += f.rawValue();
    }
    return out;
}

// The target and the operation of well-formed operands naming a file that can be detected.
struct Operands {
    SupportedFormat target;
    routing::Operation operation;
};

std::optional<Operands> routedOperands(const std::vector<std::string>& arguments) {
    auto p = operandsOf(arguments, "--convert", 3);
    if (!p) return std::nullopt;
    auto target = SupportedFormat::fromRawValue(arguments[*p + 2]);
    if (!target) return std::nullopt;
    try {
        auto job = FileDetector::createJob(arguments[*p + 1]);
        if (!job) return std::nullopt;
        return Operands{*target, routing::routeFor(*job, *target).operation};
    } catch (const std::exception&) {
        // The mode itself reports what is wrong with the operands.
        return std::nullopt;
    }
}

bool isPDF(SupportedFormat target) { return target == SupportedFormat::pdf || target == SupportedFormat::pdf_image; }

}  // namespace

int convertAndExit(const std::vector<std::string>& arguments, const Runner& run) {
    auto p = operandsOf(arguments, "--convert", 3);
    if (!p) {
        printError("usage: --convert <input> <target-format> <output-dir>");
        return 2;
    }
    std::filesystem::path input = arguments[*p + 1];
    const std::string& targetText = arguments[*p + 2];
    std::filesystem::path outputDir = arguments[*p + 3];
    auto target = SupportedFormat::fromRawValue(targetText);
    if (!target) {
        printError("unknown format '" + targetText + "'. valid: " + everyIdentifier());
        return 2;
    }
    bool strip = std::find(arguments.begin(), arguments.end(), "--strip-metadata") != arguments.end();
    termination::install();
    return run([&]() -> int {
        try {
            // Said before the name is looked at: a missing file is missing, whatever its extension.
            std::error_code ec;
            if (!std::filesystem::exists(input, ec) && !ec) {
                printError("convert failed: No file at " + input.string());
                return 1;
            }
            SourceFile::check(input);
            if (auto problem = files::makeOutputFolder(outputDir)) throw std::runtime_error(*problem);
            auto job = FileDetector::createJob(input);
            if (!job) throw ConversionError::unsupportedFormat();
            job->targetFormat = *target;
            job->stripMetadata = strip;
            auto output = ConversionEngine::convert(*job, outputDir, [](double) {}, termination::token());
            printOutput(output.string());
            return 0;
        } catch (const std::exception& e) {
            printError("convert failed: " + std::string(e.what()));
            return 1;
        }
    });
}

int runHere(const std::function<int()>& work) { return work(); }

bool convertNeedsDocuments(const std::vector<std::string>& arguments) {
    auto p = operandsOf(arguments, "--convert", 3);
    if (!p) return false;
    auto target = SupportedFormat::fromRawValue(arguments[*p + 2]);
    if (!target) return false;
    if (isPDF(*target)) return true;
    const auto operands = routedOperands(arguments);
    if (!operands) return false;
    using routing::Operation;
    return operands->operation == Operation::document || operands->operation == Operation::splitPDF ||
           operands->operation == Operation::imagePDFPages;
}

bool convertRunsPlain(const std::vector<std::string>& arguments) {
    const auto operands = routedOperands(arguments);
    if (!operands || isPDF(operands->target)) return false;
    using routing::Operation;
    return operands->operation == Operation::data || operands->operation == Operation::textPage;
}

}  // namespace calvoro::CalvoroApp
