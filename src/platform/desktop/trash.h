#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace calvoro::desktop {

// Moves an item to the freedesktop Trash. Returns the reason when it could not.
std::optional<std::string> moveToTrash(const std::filesystem::path& item);

}  // namespace calvoro::desktop
