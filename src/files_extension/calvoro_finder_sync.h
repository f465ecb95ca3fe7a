#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/supported_format.h"

namespace calvoro {

// What the file manager shows under "Convert" for one selection.
struct FinderMenu {
    std::vector<std::string> convertTitles;  // an item's tag is its index
    bool showsCompress = false;              // "Compress" with the levels and "Choose size…"
};

// The file-manager extension's menu logic: which Convert targets a selection shares, whether it
// may be compressed, and the hand-off of every selected file to the program.
class CalvoroFinderSync {
public:
    // Opens one hand-off URL; gives the failure's message when the open fails.
    using URLOpener = std::function<std::optional<std::string>(const std::string& url)>;
    using Log = std::function<void(std::string_view)>;

    CalvoroFinderSync(URLOpener open, Log log);

    // Nothing when the selection is empty, holds a file without Convert targets, or its files
    // share none. A built menu captures the selection that the actions work on.
    std::optional<FinderMenu> menu(const std::vector<std::filesystem::path>& selectedItems);

    void convert(long tag);
    void compress(unsigned long tag);
    void chooseSize();

    const std::vector<std::filesystem::path>& capturedSelection() const { return capturedSelection_; }
    const std::vector<SupportedFormat>& menuFormats() const { return menuFormats_; }

private:
    void handOff(const std::filesystem::path& file, SupportedFormat target);
    void handOffCompress(const std::filesystem::path& file, std::optional<std::string_view> level, bool choose);

    URLOpener open_;
    Log log_;
    std::vector<std::filesystem::path> capturedSelection_;
    std::vector<SupportedFormat> menuFormats_;
};

}  // namespace calvoro
