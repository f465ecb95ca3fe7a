#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include "core/file_detector.h"
#include "core/supported_format.h"

// The first line is the extension, the rest the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    auto cut = all.find('\n');
    std::string ext(all.substr(0, cut == std::string_view::npos ? all.size() : cut));
    std::string_view body = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
    try {
        (void)calvoro::SupportedFormat::from(ext);
    } catch (const std::exception&) {
    }
    for (char& c : ext)
        if (c == '/' || c == '\0') c = '_';
    if (ext.size() > 200) ext.resize(200);
    std::string pattern = (std::filesystem::temp_directory_path() / "calvoro-fuzz-detect-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 0;
    std::filesystem::path root(pattern);
    auto file = root / ("input." + ext);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
    }
    try {
        (void)calvoro::FileDetector::detect(file);
    } catch (const std::exception&) {
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
