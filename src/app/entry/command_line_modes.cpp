#include "app/entry/command_line_modes.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "app/entry/estimate_text.h"
#include "app/entry/launch.h"
#include "app/entry/mode_operands.h"
#include "app/entry/termination_signals.h"
#include "compressor/compressor.h"
#include "core/text_util.h"
#include "core/file_detector.h"
#include "core/file_writing.h"
#include "core/source_file.h"
#include "core/supported_format.h"
#include "engine/conversion_tester.h"

namespace calvoro::CalvoroApp {

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
            printError("estimate failed: " + std::string(e.what()));
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
            printError("compress failed: " + std::string(e.what()));
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
