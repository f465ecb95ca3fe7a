#pragma once

#include <filesystem>
#include <string>

namespace calvoro::desktop {

// Hands a URL, or a file or folder, to the desktop's default application.
bool openURL(const std::string& url);
bool openPath(const std::filesystem::path& path);

}  // namespace calvoro::desktop
