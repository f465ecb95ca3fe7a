#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/entry/desktop/convert_format_choice.h"

namespace calvoro {

// A file handed in or out by an automation action: its name and its bytes.
struct IntentFile {
    std::string name;
    std::vector<uint8_t> contents;
};

// "Convert File": converts a copy of the given file in a private folder and hands the result back.
struct ConvertFileIntent {
    static constexpr const char* title = "Convert File";
    static constexpr const char* fileTitle = "File";
    static constexpr const char* formatTitle = "To Format";

    IntentFile file;
    ConvertFormatChoice format = ConvertFormatChoice::jpeg;
    // The most bytes the caller can take back; a larger result is never read.
    std::uint64_t maximumResultSize = UINT64_MAX;

    // Throws ConvertIntentError, IntentResultTooLarge, or the engine's or the file system's
    // error unchanged. Leaves no working folder behind.
    IntentFile perform() const;
};

// "Convert File in Place": converts a file on disk and puts the result beside it.
struct ConvertFileInPlaceIntent {
    static constexpr const char* title = "Convert File in Place";
    static constexpr const char* fileTitle = "File";
    static constexpr const char* formatTitle = "Convert to";
    static constexpr const char* replaceExistingTitle = "Replace existing file";

    // Absent when the item has no file on disk.
    std::optional<std::filesystem::path> file;
    ConvertFormatChoice format = ConvertFormatChoice::jpeg;
    bool replaceExisting = false;

    // The written file. Throws ConversionIntentError.
    std::filesystem::path perform() const;
};

}  // namespace calvoro
