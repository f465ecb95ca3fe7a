#include <optional>
#include <string>
#include <system_error>

#include "core/user_dirs.h"
#include "engine/conversion_engine.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> dataFolder() {
    if (auto d = absoluteEnvironmentPath("XDG_DATA_HOME")) return d;
    if (auto home = homeFolder()) return *home / ".local" / "share";
    return std::nullopt;
}

fs::path temporaryFolder() {
    if (auto t = absoluteEnvironmentPath("TMPDIR")) return *t;
    return "/tmp";
}

}  // namespace

fs::path ConversionEngine::defaultOutputDirectory() {
    fs::path base;
    if (auto docs = userDirectory("DOCUMENTS", "Documents")) base = *docs;
    else if (auto data = dataFolder()) base = *data;
    else base = temporaryFolder();
    const fs::path folder = base / "Calvoro";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder;
}

}  // namespace calvoro
