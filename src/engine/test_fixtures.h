#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace calvoro::ConversionTester {

// A sample generator's own failure: a code and a short message, which is its description.
class SeedError : public std::runtime_error {
public:
    SeedError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// "/tmp/kx-test-<pid>", emptied and created. Never fails.
std::filesystem::path makeTempRoot();

std::filesystem::path makeSeedPNG(const std::filesystem::path& root);
std::filesystem::path makeSeedWAV(const std::filesystem::path& root);
std::filesystem::path makeSeedMP4(const std::filesystem::path& root);
std::filesystem::path makeSeedGIF(const std::filesystem::path& root);
std::filesystem::path makeSeedZIP(const std::filesystem::path& root);
// Writes text as UTF-8 through a temporary name, renamed into place.
std::filesystem::path writeSeedText(const std::filesystem::path& root, const std::string& name, const std::string& text);

// The first of the named fonts found in the font folders (searched recursively), else the
// first file with the extension there; copied to root/"seed.<ext>". Throws conversionFailed
// when there is none.
std::filesystem::path copyFirstSystemFont(const std::vector<std::string>& matching, const std::string& ext,
                                          const std::filesystem::path& root,
                                          const std::vector<std::filesystem::path>& folders = {});
// /usr/share/fonts, /usr/local/share/fonts and ~/.local/share/fonts.
std::vector<std::filesystem::path> systemFontFolders();

extern const char* const kSeedText;
extern const char* const kSeedCSV;
extern const char* const kSeedSRT;

}  // namespace calvoro::ConversionTester
