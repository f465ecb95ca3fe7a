#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/uuid.h"

namespace calvoro {

// One recent conversion, kept in the settings as JSON.
struct RecentJob {
    Uuid id;
    std::string sourcePath;
    std::string sourceFormatRaw;
    std::string targetFormatRaw;
    std::chrono::system_clock::time_point timestamp;
    std::optional<std::vector<uint8_t>> bookmark;

    friend bool operator==(const RecentJob&, const RecentJob&) = default;

    // A JSON array of entries: "id" (UUID text), "sourcePath", "sourceFormatRaw", "targetFormatRaw",
    // "timestamp" (seconds since 2001-01-01 00:00:00 UTC), and "bookmark" (Base64) when present.
    static std::string encodeList(const std::vector<RecentJob>& recents);
    // Nothing when the text is not such an array or any entry lacks one of the first five keys.
    static std::optional<std::vector<RecentJob>> decodeList(std::string_view json);
    // The file a bookmark names, used even when stale; nothing when it cannot be resolved.
    static std::optional<std::filesystem::path> resolveBookmark(const std::vector<uint8_t>& bookmark);
};

}  // namespace calvoro

template <>
struct std::hash<calvoro::RecentJob> {
    size_t operator()(const calvoro::RecentJob& r) const noexcept;
};
