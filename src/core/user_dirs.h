#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace calvoro {

// The environment variable's value when it is an absolute path.
std::optional<std::filesystem::path> absoluteEnvironmentPath(const char* variable);

// $HOME, else the password database's home folder.
std::optional<std::filesystem::path> homeFolder();

// The user's folder of an XDG kind ("DESKTOP", "DOCUMENTS", ...), as xdg-user-dir gives it:
// $XDG_<KIND>_DIR, else the entry of user-dirs.dirs. A setting that points at the home folder
// itself means the user has no such folder. When user-dirs.dirs does not name one, the folder
// called fallback in the home folder, if there is one.
std::optional<std::filesystem::path> userDirectory(std::string_view kind, std::string_view fallback = {});

}  // namespace calvoro
