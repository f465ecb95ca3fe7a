#include "app/entry/command_line_modes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "app/entry/estimate_text.h"
#include "app/entry/launch.h"
#include "app/entry/termination_signals.h"
#include "compressor/compressor.h"
#include "core/text_util.h"
#include "core/conversion_error.h"
#include "core/file_detector.h"
#include "core/file_writing.h"
#include "core/source_file.h"
#include "core/supported_format.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_tester.h"
#include "engine/job_routing.h"

namespace calvoro::CalvoroApp {

namespace {

// The position of the first argument equal to flag, when count operands follow it.
std::optional<size_t> operandsOf(const std::vector<std::string>& arguments, const std::string& flag, size_t count) {
    for (size_t p = 0; p < arguments.size(); ++p) {
        if (arguments[p] != flag) continue;
        if (p + count < arguments.size()) return p;
        return std::nullopt;
    }
    return std::nullopt;
}

void printError(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

void printOutput(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string everyIdentifier() {
    std::string out;
    for (auto f : SupportedFormat::allCases()) {
        if (!out.empty()) out += ' ';
        out += f.rawValue();
    }
    return out;
}

std::string describe(const std::exception& e) { return e.what(); }

}  // namespace

int convertAndExit(const std::vector<std::string>& arguments) {
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
    return runOnWorkerUnderEventLoop([&]() -> int {
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
            printError("convert failed: " + describe(e));
            return 1;
        }
    });
}

bool convertNeedsDocuments(const std::vector<std::string>& arguments) {
    auto p = operandsOf(arguments, "--convert", 3);
    if (!p) return false;
    auto target = SupportedFormat::fromRawValue(arguments[*p + 2]);
    if (!target) return false;
    if (*target == SupportedFormat::pdf || *target == SupportedFormat::pdf_image) return true;
    try {
        auto job = FileDetector::createJob(arguments[*p + 1]);
        if (!job) return false;
        using routing::Operation;
        const Operation operation = routing::routeFor(*job, *target).operation;
        return operation == Operation::document || operation == Operation::splitPDF || operation == Operation::imagePDFPages;
    } catch (const std::exception&) {
        // The mode itself reports what is wrong with the operands.
        return false;
    }
}

int estimateAndExit(const std::vector<std::string>& arguments) {
    auto p = operandsOf(arguments, "--estimate", 1);
    if (!p) {
        printError("usage: --estimate <file>");
        return 2;
    }
    std::filesystem::path file = arguments[*p + 1];
    // The trial encodes write into work folders of their own, which a signal must not leave behind.
    termination::install();
    return runOnWorkerUnderEventLoop([&]() -> int {
        auto format = FileDetector::detect(file);
        if (!format) {
            printOutput("unrecognised file");
            exitProcessNow(1);
        }
        // A name that only looks right is not enough to estimate anything.
        if (SourceFile::kindOf(file) != SourceFile::Kind::regularFile) {
            printError("No readable file at " + file.string());
            return 1;
        }
        auto target = Compressor::compressionTarget(*format);
        printOutput("source: " + format->displayName() + "  " + formatByteCount(FileDetector::fileSize(file)) +
                    "  -> compresses as " + (target ? target->displayName() : "n/a"));
        auto start = std::chrono::steady_clock::now();
        std::vector<CompressionEstimate> estimates;
        try {
            estimates = Compressor::estimates(file, *format, termination::token());
        } catch (const std::exception& e) {
            if (termination::received()) return 1;
            printError("estimate failed: " + describe(e));
            return 1;
        }
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        auto padRight = [](std::string s, size_t w) { return s.size() < w ? s + std::string(w - s.size(), ' ') : s; };
        auto padLeft = [](std::string s, size_t w) { return s.size() < w ? std::string(w - s.size(), ' ') + s : s; };
        printOutput(padRight("LEVEL", 17) + padLeft("SIZE", 11) + padLeft("SAVED", 8) + "  QUALITY");
        for (const auto& e : estimates)
            printOutput(padRight(e.level.label(), 17) + padLeft(formatByteCount(e.byteSize), 11) +
                        padLeft(std::to_string(e.savedPercent()) + "%", 8) + "  " + estimateQualityText(e));
        printOutput(formatC("measured in %.2fs", elapsed));
        return 0;
    });
}

int compressAndExit(const std::vector<std::string>& arguments) {
    auto usage = [] {
        printError("usage: --compress <file> <maximum|high|balanced|small|tiny> <outdir>");
        return 2;
    };
    auto p = operandsOf(arguments, "--compress", 3);
    if (!p) return usage();
    auto level = CompressionLevel::fromRawValue(arguments[*p + 2]);
    if (!level) return usage();
    std::filesystem::path file = arguments[*p + 1];
    std::filesystem::path outputDir = arguments[*p + 3];
    termination::install();
    return runOnWorkerUnderEventLoop([&]() -> int {
        auto format = FileDetector::detect(file);
        if (!format) {
            printError("unrecognised file");
            return 1;
        }
        try {
            SourceFile::check(file);
            if (auto problem = files::makeOutputFolder(outputDir)) throw std::runtime_error(*problem);
            auto output = Compressor::compress(file, *format, *level, outputDir, false, {}, termination::token());
            printOutput(output.string());
            return 0;
        } catch (const std::exception& e) {
            printError("compress failed: " + describe(e));
            return 1;
        }
    });
}

int runTestsAndExit(const std::vector<std::string>&) {
    std::optional<ConversionTester::Summary> summary;
    runOnWorkerUnderEventLoop([&] {
        summary = ConversionTester::runAll();
        return 0;
    });
    if (!summary) {
        printOutput("Harness ended without summary");
        return 2;
    }
    printOutput(summary->consoleReport());
    if (summary->failed() != 0) return 1;
    if (!summary->validationFailed().empty()) return 1;
    return 0;
}

}  // namespace calvoro::CalvoroApp
