#include <sys/stat.h>
#include <unistd.h>

#include "app/entry/estimate_text.h"
#include "app/entry/mcp_server.h"
#include "compressor/compressor.h"
#include "core/file_detector.h"
#include "core/file_writing.h"
#include "core/format_capabilities.h"
#include "core/file_url.h"
#include "core/utf8.h"
#include "core/source_file.h"
#include "core/supported_format.h"
#include "core/text_util.h"
#include "engine/conversion_engine.h"

namespace calvoro {

namespace {

using Json = MCPServer::Json;

const char* kOutputDirDescription = "Optional directory for the result; defaults to the source file's folder";

Json property(const std::string& description) { return {{"type", "string"}, {"description", description}}; }

bool isPDFOperation(SupportedFormat f) {
    return f == SupportedFormat::pdfPagePng || f == SupportedFormat::pdfPageJpeg || f == SupportedFormat::pdfSplit;
}

std::optional<std::string> stringArgument(const Json& args, const char* key) {
    auto it = args.find(key);
    if (it == args.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

int64_t sizeOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

std::string joined(const std::vector<SupportedFormat>& formats, const std::string& separator) {
    std::string out;
    for (auto f : formats) {
        if (!out.empty()) out += separator;
        out += f.rawValue();
    }
    return out;
}

// A path argument as a path, or what is wrong with it. A leading "~" is the home folder; a
// file URL carries any name's bytes, one that is not UTF-8 too. A NUL would cut the name where
// the system reads it, naming another file, so it is refused.
struct PathArgument {
    std::filesystem::path path;
    std::string problem;
};

PathArgument pathArgument(const std::string& key, const std::string& text) {
    std::filesystem::path path;
    if (unicodeLowercased(text.substr(0, 5)) == "file:") {
        auto named = pathFromFileURL(text);
        if (!named) return {{}, key + " is not a file URL of this computer"};
        path = std::move(*named);
    } else {
        path = expandTilde(text);
    }
    if (path.native().find('\0') != std::string::npos) return {{}, key + " contains a NUL character, which no path can hold"};
    return {std::move(path), {}};
}

PathArgument outputFolder(const Json& args, const std::filesystem::path& source) {
    if (auto dir = stringArgument(args, "output_dir")) return pathArgument("output_dir", *dir);
    return {source.parent_path().empty() ? std::filesystem::path(".") : source.parent_path(), {}};
}

std::string absoluteFileURL(const std::filesystem::path& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return fileURL(ec ? path : absolute);
}

// A path in a reply's text: as it reads, and when that is not its bytes, its file URL beside it.
std::string shownPath(const std::filesystem::path& path) {
    if (isValidUTF8(path.native())) return path.native();
    return displayText(path.native()) + " (" + absoluteFileURL(path) + ")";
}

// A written file's path as it reads, and its file URL when that alone gives its bytes.
Json outputPathMembers(const std::filesystem::path& path) {
    Json members = {{"output_path", displayText(path.native())}};
    if (!isValidUTF8(path.native())) members["output_url"] = absoluteFileURL(path);
    return members;
}

std::string notCompressible(SupportedFormat format) {
    return format.displayName() + " files can't be compressed (only images, video, and audio can).";
}

// Estimation and compression need a real file; a path that only names a known type is refused.
bool isReadableRegularFile(const std::filesystem::path& path) {
    return SourceFile::kindOf(path) == SourceFile::Kind::regularFile && ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

Json MCPServer::toolText(const std::string& text, std::optional<Json> structured) {
    Json result = Json::object();
    result["content"] = Json::array({{{"type", "text"}, {"text", text}}});
    if (structured) result["structuredContent"] = std::move(*structured);
    return result;
}

Json MCPServer::toolError(const std::string& text) {
    Json result = Json::object();
    result["content"] = Json::array({{{"type", "text"}, {"text", text}}});
    result["isError"] = true;
    return result;
}

Json MCPServer::toolDefinitions() {
    Json list = Json::array();

    Json listSchema = {{"type", "object"}, {"properties", Json::object()}};
    listSchema["properties"]["file_extension"] =
        property("Optional source extension to look up, without the dot (e.g. \"pdf\", \"woff2\")");
    list.push_back({{"name", "list_supported_conversions"},
                    {"title", "List supported conversions"},
                    {"description",
                     "List the formats Calvoro can convert between. With no argument, returns every category and its "
                     "formats. Pass 'file_extension' (e.g. \"heic\") to get the exact targets available for that "
                     "specific input type \u2014 use this before convert_file when unsure a conversion exists."},
                    {"inputSchema", listSchema},
                    {"annotations", {{"readOnlyHint", true}}}});

    Json writeAnnotations = {{"readOnlyHint", false}, {"destructiveHint", false}, {"idempotentHint", false}};

    Json convertSchema = {{"type", "object"}, {"properties", Json::object()}};
    convertSchema["properties"]["source_path"] = property("Absolute path of the file to convert");
    convertSchema["properties"]["target_format"] =
        property("Target format id, e.g. \"jpeg\", \"png\", \"pdf\", \"mp4\", \"m4a\", \"woff2\", \"json\". Use "
                 "list_supported_conversions to see valid targets for a given source.");
    convertSchema["properties"]["output_dir"] = property(kOutputDirDescription);
    convertSchema["required"] = Json::array({"source_path", "target_format"});
    list.push_back({{"name", "convert_file"},
                    {"title", "Convert a file"},
                    {"description",
                     "Convert a file to another format, entirely on-device. Writes the converted copy next to the "
                     "original (or into 'output_dir') and never modifies the source. Returns the absolute path of the "
                     "new file. Examples: HEIC\u2192JPEG, PDF\u2192DOCX, MOV\u2192MP4, WAV\u2192FLAC, TTF\u2192WOFF2, "
                     "CSV\u2192JSON."},
                    {"inputSchema", convertSchema},
                    {"annotations", writeAnnotations}});

    Json estimateSchema = {{"type", "object"}, {"properties", Json::object()}};
    estimateSchema["properties"]["source_path"] = property("Absolute path of the file to analyse");
    estimateSchema["required"] = Json::array({"source_path"});
    list.push_back({{"name", "estimate_compression"},
                    {"title", "Estimate compression results"},
                    {"description",
                     "Measure what each compression level would produce for a file BEFORE committing. For images this "
                     "actually encodes at every level and reports exact sizes plus perceptual quality loss (SSIM); for "
                     "video/audio the sizes are bitrate projections marked estimated=true. Use it to pick a level for "
                     "compress_file."},
                    {"inputSchema", estimateSchema},
                    {"annotations", {{"readOnlyHint", true}}}});

    Json compressSchema = {{"type", "object"}, {"properties", Json::object()}};
    compressSchema["properties"]["source_path"] = property("Absolute path of the file to compress");
    Json level = Json::object();
    level["type"] = "string";
    level["enum"] = Json::array({"maximum", "high", "balanced", "small", "tiny"});
    level["description"] =
        "Quality/size trade-off: maximum = visually identical, balanced = good for sharing, tiny = smallest usable. "
        "Default: balanced.";
    compressSchema["properties"]["level"] = level;
    compressSchema["properties"]["output_dir"] = property(kOutputDirDescription);
    compressSchema["required"] = Json::array({"source_path"});
    list.push_back({{"name", "compress_file"},
                    {"title", "Compress a file"},
                    {"description",
                     "Shrink an image, video, or audio file. Writes \"<name> (compressed).<ext>\" alongside the original "
                     "(or into 'output_dir'); the source is never touched. Lossless image sources (PNG/TIFF/BMP) are "
                     "re-encoded as HEIC, audio as AAC (.m4a) \u2014 the response states the output format. Fails "
                     "rather than produce a file larger than the original."},
                    {"inputSchema", compressSchema},
                    {"annotations", writeAnnotations}});
    return list;
}

Json MCPServer::callTool(const std::string& name, const Json& args, const CancellationToken& cancellation) {
    if (name == "list_supported_conversions") return listConversions(args);
    if (name == "convert_file") return convertFile(args, cancellation);
    if (name == "estimate_compression") return estimateCompression(args, cancellation);
    if (name == "compress_file") return compressFile(args, cancellation);
    return toolError("Unknown tool '" + name +
                     "'. Available: list_supported_conversions, convert_file, estimate_compression, compress_file.");
}

Json MCPServer::listConversions(const Json& args) {
    if (auto extension = stringArgument(args, "file_extension")) {
        std::string lowered = unicodeLowercased(*extension);
        size_t begin = lowered.find_first_not_of(". \t\n\r");
        size_t end = lowered.find_last_not_of(". \t\n\r");
        std::string stripped = begin == std::string::npos ? "" : lowered.substr(begin, end - begin + 1);
        auto format = SupportedFormat::from(stripped);
        if (!format)
            return toolError("Calvoro doesn't recognise '." + stripped +
                             "' as a convertible format. Call list_supported_conversions with no argument to see "
                             "everything supported.");
        std::vector<SupportedFormat> targets;
        for (auto t : format->possibleConversions())
            if (FormatCapabilities::canProduce(t) && !isPDFOperation(t)) targets.push_back(t);
        std::string text = "." + stripped + " (" + format->displayName() + ", " + format->category().rawValue() +
                           ")\nconvert_file targets: " + joined(targets, ", ") + "\ncompress_file: " +
                           (Compressor::compressionTarget(*format) ? "supported" : "not supported");
        return toolText(text);
    }
    std::vector<std::string> lines;
    for (auto category : FileCategory::allCases()) {
        if (category == FileCategory::unknown) continue;
        std::vector<SupportedFormat> formats;
        for (auto f : SupportedFormat::allCases())
            if (f.category() == category && !isPDFOperation(f)) formats.push_back(f);
        if (formats.empty()) continue;
        lines.push_back(category.rawValue() + ": " + joined(formats, ", "));
    }
    lines.push_back("");
    lines.push_back("Pass file_extension for the exact targets of one input type.");
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return toolText(text);
}

Json MCPServer::convertFile(const Json& args, const CancellationToken& cancellation) {
    auto sourcePath = stringArgument(args, "source_path");
    if (!sourcePath) return toolError("source_path is required");
    std::optional<SupportedFormat> target;
    if (auto text = stringArgument(args, "target_format")) {
        for (auto f : SupportedFormat::allCases())
            if (unicodeCaseFolded(f.rawValue()) == unicodeCaseFolded(*text)) target = f;
    }
    if (!target) return toolError("target_format missing or unknown. Use list_supported_conversions to see valid ids.");
    const auto argument = pathArgument("source_path", *sourcePath);
    if (!argument.problem.empty()) return toolError(argument.problem);
    const std::filesystem::path& source = argument.path;
    const auto folder = outputFolder(args, source);
    if (!folder.problem.empty()) return toolError(folder.problem);
    std::error_code ec;
    if (!std::filesystem::exists(source, ec)) return toolError("No file at " + shownPath(source));
    if (auto refused = SourceFile::refusal(source)) return toolError(std::string("Conversion failed: ") + refused->what());
    auto job = FileDetector::createJob(source);
    if (!job) return toolError(displayName(source) + " is not a format Calvoro can read.");
    auto possible = job->detectedFormat.possibleConversions();
    if (std::find(possible.begin(), possible.end(), *target) == possible.end())
        return toolError(job->detectedFormat.displayName() + " can't convert to " + target->rawValue() +
                         ". Valid targets: " + joined(possible, ", "));
    job->targetFormat = *target;
    try {
        if (auto problem = files::makeOutputFolder(folder.path)) return toolError("Conversion failed: " + *problem);
        auto output = ConversionEngine::convert(*job, folder.path, [](double) {}, cancellation);
        int64_t bytes = sizeOf(output);
        Json structured = outputPathMembers(output);
        structured["output_bytes"] = bytes;
        return toolText("Converted " + displayText(job->fileName) + " \u2192 " + shownPath(output) + " (" +
                            formatByteCount(bytes) + ")",
                        std::move(structured));
    } catch (const std::exception& e) {
        return toolError(std::string("Conversion failed: ") + e.what());
    }
}

Json MCPServer::estimateCompression(const Json& args, const CancellationToken& cancellation) {
    auto sourcePath = stringArgument(args, "source_path");
    if (!sourcePath) return toolError("source_path is required");
    const auto argument = pathArgument("source_path", *sourcePath);
    if (!argument.problem.empty()) return toolError(argument.problem);
    const std::filesystem::path& source = argument.path;
    auto format = FileDetector::detect(source);
    if (!format || !isReadableRegularFile(source)) return toolError("No readable file at " + shownPath(source));
    if (!Compressor::compressionTarget(*format)) return toolError(notCompressible(*format));
    std::vector<CompressionEstimate> estimates;
    try {
        estimates = Compressor::estimates(source, *format, cancellation);
    } catch (const std::exception& e) {
        // A stopped call ends as every stopped call does.
        cancellation.throwIfCancelled();
        return toolError(std::string("Estimate failed: ") + e.what());
    }
    if (estimates.empty())
        return toolText("Already well compressed \u2014 no level produced a meaningfully smaller file.");
    std::string text = "Compression options for " + displayName(source) + ":";
    Json levels = Json::array();
    for (const auto& e : estimates) {
        text += "\n  " + e.level.rawValue() + ": " + (e.isEstimate ? "~" : "") + formatByteCount(e.byteSize) + " (\u2212" +
                std::to_string(e.savedPercent()) + "%, " + estimateQualityText(e) + ")";
        levels.push_back({{"level", e.level.rawValue()},
                          {"bytes", e.byteSize},
                          {"saved_percent", e.savedPercent()},
                          {"estimated", e.isEstimate}});
    }
    return toolText(text, Json{{"levels", levels}});
}

Json MCPServer::compressFile(const Json& args, const CancellationToken& cancellation) {
    auto sourcePath = stringArgument(args, "source_path");
    if (!sourcePath) return toolError("source_path is required");
    std::string levelText = stringArgument(args, "level").value_or("balanced");
    auto level = CompressionLevel::fromRawValue(levelText);
    if (!level) return toolError("Unknown level '" + levelText + "'. Valid: maximum, high, balanced, small, tiny.");
    const auto argument = pathArgument("source_path", *sourcePath);
    if (!argument.problem.empty()) return toolError(argument.problem);
    const std::filesystem::path& source = argument.path;
    const auto folder = outputFolder(args, source);
    if (!folder.problem.empty()) return toolError(folder.problem);
    auto format = FileDetector::detect(source);
    if (!format) return toolError("No readable file at " + shownPath(source));
    if (!Compressor::compressionTarget(*format)) return toolError(notCompressible(*format));
    if (auto refused = SourceFile::refusal(source)) return toolError(std::string("Compression failed: ") + refused->what());
    int64_t before = sizeOf(source);
    try {
        if (auto problem = files::makeOutputFolder(folder.path)) return toolError("Compression failed: " + *problem);
        auto output = Compressor::compress(source, *format, *level, folder.path, false, {}, cancellation);
        int64_t after = sizeOf(output);
        int64_t saved = before >= 1 ? static_cast<int64_t>(static_cast<double>(before - after) / static_cast<double>(before) * 100.0) : 0;
        Json structured = outputPathMembers(output);
        structured["output_bytes"] = after;
        structured["saved_percent"] = saved;
        return toolText("Compressed " + displayName(source) + ": " + formatByteCount(before) + " \u2192 " +
                            formatByteCount(after) + " (\u2212" + std::to_string(saved) + "%) at " + shownPath(output),
                        std::move(structured));
    } catch (const std::exception& e) {
        return toolError(std::string("Compression failed: ") + e.what());
    }
}

}  // namespace calvoro
