#pragma once

#include <filesystem>

namespace calvoro::desktop {

// Shows the item selected in the file manager (org.freedesktop.FileManager1), else opens
// the folder that holds it.
void revealInFileManager(const std::filesystem::path& item);

}  // namespace calvoro::desktop
