#pragma once

#include <filesystem>

namespace calvoro::desktop {

// Hands a file or folder to the desktop's default application.
bool openPath(const std::filesystem::path& path);

}  // namespace calvoro::desktop
