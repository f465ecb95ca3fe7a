#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/supported_format.h"

namespace calvoro {

// Tables (csv, tsv, json) and subtitles (srt, vtt): reading, writing and converting
// between them. The readers never reject odd input they can make sense of; the
// converter refuses only what leaves nothing to write.
class DataConverter {
public:
    // Rows of cell strings; rows may differ in length. The first row is the header
    // for the JSON, HTML and Markdown writers.
    using Row = std::vector<std::string>;
    using Table = std::vector<Row>;

    struct Cue {
        int64_t index = 0;  // as read; the writers number cues themselves
        double start = 0;   // seconds
        double end = 0;     // seconds
        std::string text;   // lines joined by line feeds, trimmed, never empty
        friend bool operator==(const Cue&, const Cue&) = default;
    };

    // Reads source, converts it to target and returns the written file, named after
    // the source in outputDir. Throws ConversionError (or the file system's error).
    static std::filesystem::path convert(const std::filesystem::path& source, SupportedFormat from, SupportedFormat target,
                                         const std::filesystem::path& outputDir);

    // The file's text as UTF-8: UTF-8, UTF-16 with a byte-order mark, UTF-16LE,
    // Windows-1252, then ISO Latin-1, whichever decodes first.
    static std::string readText(const std::filesystem::path& url);

    // Table readers.
    static Table parseDelimited(std::string_view text, char delimiter);
    static Table rowsFromJSON(std::string_view text);
    static std::vector<std::string> orderedKeysOfFirstObject(std::string_view text);

    // Table writers.
    static std::string writeDelimited(const Table& table, char delimiter);
    static std::string writeJSON(const Table& table);
    static std::string writeHTMLTable(const Table& table, std::string_view title);
    static std::string writeMarkdownTable(const Table& table);

    // Subtitles.
    static std::optional<double> parseTimestamp(std::string_view text);
    static std::vector<Cue> parseSRT(std::string_view text);
    static std::vector<Cue> parseVTT(std::string_view text);
    static std::string stamp(double seconds, bool srt);
    static std::string writeSRT(const std::vector<Cue>& cues);
    static std::string writeVTT(const std::vector<Cue>& cues);

private:
    static std::string stringify(const nlohmann::ordered_json& value);
};

}  // namespace calvoro
