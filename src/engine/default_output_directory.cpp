#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "core/text_util.h"
#include "engine/conversion_engine.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return fs::path(pw->pw_dir);
    return std::nullopt;
}

std::optional<fs::path> absolute(const char* value) {
    if (!value || !*value) return std::nullopt;
    fs::path p(value);
    if (!p.is_absolute()) return std::nullopt;
    return p;
}

// A value of user-dirs.dirs: "$HOME/Documents" or "/abs/path", in double quotes.
std::optional<fs::path> parseUserDir(std::string value, const std::optional<fs::path>& home) {
    value = std::string(trimWhitespace(value));
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
    value = value.substr(1, value.size() - 2);
    std::string expanded;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            expanded += value[++i];
        } else {
            expanded += value[i];
        }
    }
    if (expanded.rfind("$HOME", 0) == 0) {
        if (!home) return std::nullopt;
        expanded = home->string() + expanded.substr(5);
    }
    fs::path p(expanded);
    if (!p.is_absolute()) return std::nullopt;
    return p;
}

bool isHome(const fs::path& p, const std::optional<fs::path>& home) {
    return home && p.lexically_normal() / "" == home->lexically_normal() / "";
}

// The XDG documents folder; a setting that points at the home folder itself means none.
std::optional<fs::path> documentsFolder() {
    const auto home = homeFolder();
    if (auto env = absolute(std::getenv("XDG_DOCUMENTS_DIR")); env && !isHome(*env, home)) return env;
    fs::path config;
    if (auto c = absolute(std::getenv("XDG_CONFIG_HOME"))) config = *c;
    else if (home) config = *home / ".config";
    else return std::nullopt;
    std::ifstream in(config / "user-dirs.dirs");
    std::string line;
    std::optional<fs::path> found;
    bool named = false;
    while (std::getline(in, line)) {
        const std::string_view t = trimWhitespace(line);
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (t.substr(0, key.size()) != key) continue;
        found = parseUserDir(std::string(t.substr(key.size())), home);
        named = true;
    }
    if (found && isHome(*found, home)) return std::nullopt;
    // Without xdg-user-dirs, an existing ~/Documents is still where people look for documents.
    if (!named && home) {
        std::error_code ec;
        if (fs::is_directory(*home / "Documents", ec)) return *home / "Documents";
    }
    return found;
}

std::optional<fs::path> dataFolder() {
    if (auto d = absolute(std::getenv("XDG_DATA_HOME"))) return d;
    if (auto home = homeFolder()) return *home / ".local" / "share";
    return std::nullopt;
}

fs::path temporaryFolder() {
    if (auto t = absolute(std::getenv("TMPDIR"))) return *t;
    return "/tmp";
}

}  // namespace

fs::path ConversionEngine::defaultOutputDirectory() {
    fs::path base;
    if (auto docs = documentsFolder()) base = *docs;
    else if (auto data = dataFolder()) base = *data;
    else base = temporaryFolder();
    const fs::path folder = base / "Calvoro";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder;
}

}  // namespace calvoro
