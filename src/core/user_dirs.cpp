#include "core/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include "core/text_util.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

std::optional<fs::path> absoluteEnvironmentPath(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return std::nullopt;
    fs::path p(value);
    if (!p.is_absolute()) return std::nullopt;
    return p;
}

std::optional<fs::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return fs::path(pw->pw_dir);
    return std::nullopt;
}

std::optional<fs::path> userDirectory(std::string_view kind, std::string_view fallback) {
    const auto home = homeFolder();
    const std::string key = "XDG_" + std::string(kind) + "_DIR";
    if (auto env = absoluteEnvironmentPath(key.c_str()); env && !isHome(*env, home)) return env;
    fs::path config;
    if (auto c = absoluteEnvironmentPath("XDG_CONFIG_HOME")) config = *c;
    else if (home) config = *home / ".config";
    else return std::nullopt;
    std::ifstream in(config / "user-dirs.dirs");
    std::string line;
    std::optional<fs::path> found;
    bool named = false;
    const std::string prefix = key + "=";
    while (std::getline(in, line)) {
        const std::string_view t = trimWhitespace(line);
        if (t.substr(0, prefix.size()) != prefix) continue;
        found = parseUserDir(std::string(t.substr(prefix.size())), home);
        named = true;
    }
    if (found && isHome(*found, home)) return std::nullopt;
    // Without xdg-user-dirs, an existing ~/Documents (say) is still where people look.
    if (!named && home && !fallback.empty()) {
        std::error_code ec;
        if (fs::is_directory(*home / fallback, ec)) return *home / fallback;
    }
    return found;
}

}  // namespace calvoro
