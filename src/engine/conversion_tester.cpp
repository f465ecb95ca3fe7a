#include "engine/conversion_tester.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "core/conversion_job.h"
#include "core/text_util.h"
#include "engine/conversion_engine.h"
#include "engine/test_fixtures.h"
#include "platform/media/asset.h"

namespace calvoro::ConversionTester {

namespace fs = std::filesystem;

namespace {

using F = SupportedFormat;

bool isFolderTarget(F f) { return f == F::pdfPagePng || f == F::pdfPageJpeg || f == F::pdfSplit; }
bool isVideo(F f) { return f.category() == FileCategory::video; }

std::string mark(const Result& r) {
    if (!r.success) return "\u2717";
    return r.validation.isFailure() ? "\u26A0" : "\u2713";
}

int64_t sizeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

int audioTrackCount(const fs::path& path) {
    try {
        return static_cast<int>(media::Asset(path).loadTracks(media::MediaType::audio).size());
    } catch (...) {
        return -1;
    }
}

// A video fixture is replaced only by an output of that format with more audio tracks.
bool shouldCache(const fs::path& newOutput, F target, const std::optional<fs::path>& current) {
    if (!current) return true;
    if (!isVideo(target)) return false;
    int fresh = std::max(audioTrackCount(newOutput), 0);
    int existing = audioTrackCount(*current);
    if (existing < 0) return fresh > 0;
    return existing < fresh;
}

void progressTick(const Result& r) {
    std::string line = progressLine(r) + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

Result runOne(F sourceFormat, const fs::path& source, F target, const fs::path& outDir) {
    auto start = std::chrono::steady_clock::now();
    auto pairFolder = outDir / (sourceFormat.rawValue() + "__to__" + target.rawValue());
    std::error_code ec;
    fs::create_directories(pairFolder, ec);
    ConversionJob job(source, lastPathComponent(source), sizeOf(source), sourceFormat);
    job.targetFormat = target;
    Result result{sourceFormat, target, false, std::nullopt, 0, 0, std::nullopt, Validator::ValidationStatus::skipped()};
    try {
        result.outputURL = ConversionEngine::convert(job, pairFolder, [](double) {});
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    auto end = std::chrono::steady_clock::now();
    result.success = result.outputURL.has_value();
    result.durationMs = static_cast<long>(std::chrono::duration<double, std::milli>(end - start).count());
    if (result.outputURL) {
        result.outputBytes = sizeOf(*result.outputURL);
        result.validation = Validator::validate(target, *result.outputURL, sourceFormat);
    }
    return result;
}

void runTargets(F source, const fs::path& fixture, const fs::path& outDir, std::vector<Result>& results,
                std::map<int, fs::path>* fixtures) {
    for (F target : source.possibleConversions()) {
        if (target == source) continue;
        Result r = runOne(source, fixture, target, outDir);
        results.push_back(r);
        progressTick(r);
        if (!fixtures || !r.success || !r.outputURL || isFolderTarget(target)) continue;
        std::error_code ec;
        if (!fs::exists(*r.outputURL, ec)) continue;
        auto it = fixtures->find(static_cast<int>(F::Case(target)));
        std::optional<fs::path> current;
        if (it != fixtures->end()) current = it->second;
        if (shouldCache(*r.outputURL, target, current)) (*fixtures)[static_cast<int>(F::Case(target))] = *r.outputURL;
    }
}

std::string padRight(const std::string& s, size_t width) {
    return s.size() < width ? s + std::string(width - s.size(), ' ') : s;
}

std::string singleLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// Results ordered by the raw value of a key, equal keys keeping run order.
std::vector<Result> sortedBy(std::vector<Result> results, bool byTarget) {
    std::stable_sort(results.begin(), results.end(), [&](const Result& a, const Result& b) {
        return (byTarget ? a.target : a.source).rawValue() < (byTarget ? b.target : b.source).rawValue();
    });
    return results;
}

}  // namespace

int Summary::passed() const {
    return static_cast<int>(std::count_if(results.begin(), results.end(), [](const Result& r) { return r.success; }));
}

int Summary::failed() const { return static_cast<int>(results.size()) - passed(); }

int Summary::validationPassed() const {
    return static_cast<int>(std::count_if(results.begin(), results.end(), [](const Result& r) {
        return r.validation.kind() == Validator::ValidationStatus::Kind::passed;
    }));
}

std::vector<Result> Summary::validationFailed() const {
    std::vector<Result> out;
    for (const auto& r : results)
        if (r.validation.isFailure()) out.push_back(r);
    return out;
}

std::string progressLine(const Result& r) {
    std::string line = mark(r) + " " + r.source.displayName() + " \u2192 " + r.target.displayName() + "   " +
                       std::to_string(r.durationMs) + "ms   " + (r.outputBytes < 1 ? "\u2014" : formatByteCount(r.outputBytes));
    if (r.validation.isFailure()) line += "   [" + r.validation.reason() + "]";
    return line;
}

std::string Summary::consoleReport() const {
    std::vector<std::string> lines;
    auto bad = validationFailed();
    lines.push_back("");
    lines.push_back("=== Calvoro \u2014 conversion test summary ===");
    lines.push_back("Total conversions:  " + std::to_string(results.size()));
    lines.push_back("Engine passed:      " + std::to_string(passed()));
    lines.push_back("Engine failed:      " + std::to_string(failed()));
    lines.push_back("Output verified:    " + std::to_string(validationPassed()) + " / " + std::to_string(passed()));
    lines.push_back("Output bad:         " + std::to_string(bad.size()));
    lines.push_back("");
    for (auto category : FileCategory::allCases()) {
        std::vector<Result> group;
        for (const auto& r : results)
            if (r.source.category() == category) group.push_back(r);
        if (group.empty()) continue;
        int p = 0, f = 0, v = 0;
        for (const auto& r : group) {
            r.success ? ++p : ++f;
            if (r.validation.kind() == Validator::ValidationStatus::Kind::passed) ++v;
        }
        std::string name = category.rawValue();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        lines.push_back(name + "  engine pass: " + std::to_string(p) + "  fail: " + std::to_string(f) +
                        "   validated: " + std::to_string(v) + "/" + std::to_string(p));
        std::set<std::string> sources;
        for (const auto& r : group) sources.insert(r.source.rawValue());
        for (const auto& raw : sources) {
            std::vector<Result> mine;
            for (const auto& r : group)
                if (r.source.rawValue() == raw) mine.push_back(r);
            std::string line = "  " + padRight(mine.front().source.displayName(), 10) + "  ";
            bool first = true;
            for (const auto& r : sortedBy(mine, true)) {
                if (!first) line += "  ";
                first = false;
                line += mark(r) + r.target.displayName();
            }
            lines.push_back(line);
        }
        lines.push_back("");
    }
    if (failed() > 0) {
        lines.push_back("=== Engine failures ===");
        for (const auto& r : sortedBy(results, false)) {
            if (r.success) continue;
            lines.push_back("\u2717 " + r.source.displayName() + " \u2192 " + r.target.displayName() + ": " +
                            singleLine(r.error.value_or("(no error message)")));
        }
        lines.push_back("");
    }
    if (!bad.empty()) {
        lines.push_back("=== Output validation failures ===");
        for (const auto& r : sortedBy(bad, false))
            lines.push_back("\u26A0 " + r.source.displayName() + " \u2192 " + r.target.displayName() + ": " + r.validation.reason());
        lines.push_back("");
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

Summary runAll() {
    auto root = makeTempRoot();
    struct Cleanup {
        fs::path root;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    } cleanup{root};

    std::map<int, fs::path> fixtures;
    auto put = [&](F f, const fs::path& p) { fixtures[static_cast<int>(F::Case(f))] = p; };
    try {
        put(F::png, makeSeedPNG(root));
        put(F::wav, makeSeedWAV(root));
        put(F::mp4, makeSeedMP4(root));
        put(F::txt, writeSeedText(root, "seed.txt", kSeedText));
        put(F::gif, makeSeedGIF(root));
        put(F::csv, writeSeedText(root, "seed.csv", kSeedCSV));
        put(F::srt, writeSeedText(root, "seed.srt", kSeedSRT));
        put(F::zip, makeSeedZIP(root));
    } catch (const std::exception& e) {
        Summary failedSeed;
        Result r{F::png, F::png, false, std::nullopt, 0, 0, std::nullopt, Validator::ValidationStatus::skipped()};
        r.error = std::string("Seed generation failed: ") + e.what();
        failedSeed.results.push_back(r);
        return failedSeed;
    }
    // The smaller fonts first: each becomes a WOFF2, whose encoder takes seconds on a large font.
    try {
        put(F::ttf, copyFirstSystemFont({"DejaVuSansMono.ttf", "DejaVuSans.ttf", "LiberationSans-Regular.ttf", "FreeSans.ttf"}, "ttf", root));
    } catch (...) {
    }
    try {
        put(F::otf, copyFirstSystemFont({"FreeMonoBold.otf", "FreeMono.otf", "FreeSans.otf", "FreeSerif.otf"}, "otf", root));
    } catch (...) {
    }
    auto outDir = root / "out";
    std::error_code ec;
    fs::create_directories(outDir, ec);

    Summary summary;
    for (F format : F::allCases()) {
        auto it = fixtures.find(static_cast<int>(F::Case(format)));
        if (it == fixtures.end()) continue;
        fs::path fixture = it->second;
        runTargets(format, fixture, outDir, summary.results, &fixtures);
    }
    std::set<int> tested;
    for (const auto& r : summary.results) tested.insert(static_cast<int>(F::Case(r.source)));
    for (F format : F::allCases()) {
        int key = static_cast<int>(F::Case(format));
        if (tested.count(key)) continue;
        auto it = fixtures.find(key);
        if (it == fixtures.end()) continue;
        runTargets(format, it->second, outDir, summary.results, nullptr);
    }
    return summary;
}

}  // namespace calvoro::ConversionTester
