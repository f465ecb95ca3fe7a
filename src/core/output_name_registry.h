#pragma once

#include <filesystem>
#include <string>

namespace calvoro {

// The one way to choose an output path: never an existing path, never one handed out before.
class OutputNameRegistry {
public:
    // dir/baseName.ext, else dir/baseName (n).ext for the smallest free n. An empty ext gives no dot.
    // A name longer than the folder's file system allows has its baseName shortened (suffix,
    // " (n)" and ext are kept): see fittedName.
    static std::filesystem::path reserve(const std::filesystem::path& dir, const std::string& baseName, const std::string& ext,
                                         const std::string& suffix = "");

    // stem + suffix + "." + ext in at most maxBytes bytes: the stem is cut at a character boundary
    // (and loses the blanks the cut leaves at its end) when the whole does not fit.
    static std::string fittedName(const std::string& stem, const std::string& suffix, const std::string& ext, size_t maxBytes);
    // The longest file name the file system under dir takes, in bytes.
    static size_t nameLimit(const std::filesystem::path& dir);

    // The key under which a path is remembered: NFC, then full Unicode lower-casing.
    static std::string key(const std::filesystem::path& path);
};

}  // namespace calvoro
