#pragma once

#include <filesystem>
#include <string>

namespace calvoro {

// The one way to choose an output path: never an existing path, never one handed out before.
class OutputNameRegistry {
public:
    // dir/baseName.ext, else dir/baseName (n).ext for the smallest free n. An empty ext gives no dot.
    static std::filesystem::path reserve(const std::filesystem::path& dir, const std::string& baseName, const std::string& ext);

    // The key under which a path is remembered: NFC, then full Unicode lower-casing.
    static std::string key(const std::filesystem::path& path);
};

}  // namespace calvoro
