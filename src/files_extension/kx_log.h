#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace calvoro {

// The extension's log file. The first candidate that can be created (emptied) or written is
// kept for the life of the object; until one is found, every line tries them all again. Each
// line is appended, owner-only and never through a symbolic link, under one lock, so that
// lines from several threads stand whole one after the other.
class KxLogFile {
public:
    explicit KxLogFile(std::vector<std::filesystem::path> candidates);

    // "[<UTC time to the second>] <message>\n"; dropped when no candidate is usable.
    void append(std::string_view message);

private:
    std::optional<std::filesystem::path> destination();

    std::mutex queue_;
    std::vector<std::filesystem::path> candidates_;
    std::optional<std::filesystem::path> resolved_;
};

// The extension's diagnostic log: each message goes to the system log as "KXEXT <message>",
// then to "kxext.log" in the user's runtime folder, or in the user's cache folder when there is
// no usable runtime folder.
namespace KxLog {

std::vector<std::filesystem::path> candidates();
void write(std::string_view message);

}  // namespace KxLog

}  // namespace calvoro
