#pragma once

// The seed files of the screenshot mode, placed for one test and taken away after it, and runs of
// the real program in that mode.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/ui/window/screenshot_renderer.h"
#include "support/test_support.h"

namespace calvoro::testing {

inline const std::vector<std::string>& screenshotNames() {
    static const std::vector<std::string> names{"01-empty-dark.png",     "02-queue-dark.png",     "03-empty-light.png",
                                                "04-queue-light.png",    "05-queue-graphite.png", "06-settings-dark.png",
                                                "07-settings-light.png"};
    return names;
}

// Places the first count seed files (fixed contents, so that the pictures are the same each
// time) while it lives; files that were there before are put back as they were. Holds a lock
// on the seed folder's paths for its whole life.
class SeedFilePlacement {
public:
    explicit SeedFilePlacement(size_t count) {
        const auto& files = ScreenshotRenderer::seedFiles();
        const auto folder = files.front().parent_path();
        // The lock is on the folder that holds the seed folder, so no lock file is left behind.
        lock_ = ::open(folder.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (lock_ >= 0) ::flock(lock_, LOCK_EX);
        std::error_code ec;
        createdFolder_ = !std::filesystem::exists(folder, ec);
        std::filesystem::create_directories(folder, ec);
        for (size_t i = 0; i < files.size(); ++i) {
            if (std::filesystem::exists(files[i], ec)) saved_[files[i]] = readFile(files[i]);
            if (i < count) writeFile(files[i], contents(i));
            else std::filesystem::remove(files[i], ec);
        }
    }
    ~SeedFilePlacement() {
        std::error_code ec;
        for (const auto& file : ScreenshotRenderer::seedFiles()) {
            auto saved = saved_.find(file);
            if (saved != saved_.end()) writeFile(file, saved->second);
            else std::filesystem::remove(file, ec);
        }
        if (createdFolder_) std::filesystem::remove(ScreenshotRenderer::seedFiles().front().parent_path(), ec);
        if (lock_ >= 0) ::close(lock_);
    }
    SeedFilePlacement(const SeedFilePlacement&) = delete;
    SeedFilePlacement& operator=(const SeedFilePlacement&) = delete;

private:
    static std::string contents(size_t index) {
        std::string text;
        while (text.size() < 1500 * (index + 1)) text += "seed " + std::to_string(index) + "\n";
        return text;
    }

    int lock_ = -1;
    bool createdFolder_ = false;
    std::map<std::filesystem::path, std::vector<uint8_t>> saved_;
};

struct ScreenshotRun {
    int status = -1;
    std::vector<std::string> lines;  // the "✓" and "✗" lines, in order
    std::string output;
};

// Runs the program in the screenshot mode with private settings; arguments follow the flag.
inline ScreenshotRun runScreenshots(const TempDir& scratch, const std::string& arguments, const std::string& environment = {}) {
    std::error_code ec;
    std::filesystem::create_directories(scratch / "config", ec);
    std::filesystem::create_directories(scratch / "documents", ec);
    const auto r = run("cd " + shellQuote(scratch.path().string()) + " && CALVORO_CONFIG_DIR=" +
                       shellQuote((scratch / "config").string()) +
                       " XDG_DOCUMENTS_DIR=" + shellQuote((scratch / "documents").string()) + " " + environment + " " +
                       shellQuote(CALVORO_BINARY) + " --render-screenshots " + arguments);
    ScreenshotRun result;
    result.status = r.status;
    result.output = r.output;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("✓", 0) == 0 || line.rfind("✗", 0) == 0) result.lines.push_back(line);
    return result;
}

}  // namespace calvoro::testing
