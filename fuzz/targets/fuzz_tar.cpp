#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <span>
#include <string>
#include "converters/archive/tar_archive.h"

// Each input unpacks into its own private folder, which is removed afterwards.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string pattern = (std::filesystem::temp_directory_path() / "calvoro-fuzz-tar-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 0;
    std::filesystem::path root(pattern);
    try {
        calvoro::ArchiveConverter::extractTAR(std::span<const uint8_t>(data, size), root / "out");
    } catch (const std::exception&) {
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
