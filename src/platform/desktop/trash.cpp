#include "platform/desktop/trash.h"

#include <gio/gio.h>

#include <memory>

namespace calvoro::desktop {

// GIO's trash is the one the desktop itself uses. Its answer is the only one trusted: when the
// Trash cannot take the item, the item stays where it is.
std::optional<std::string> moveToTrash(const std::filesystem::path& item) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(item, ec))) return "The file doesn\u2019t exist.";
    const std::unique_ptr<GFile, decltype(&g_object_unref)> file(g_file_new_for_path(item.c_str()), g_object_unref);
    GError* failure = nullptr;
    if (g_file_trash(file.get(), nullptr, &failure)) return std::nullopt;
    const std::unique_ptr<GError, decltype(&g_error_free)> owned(failure, g_error_free);
    if (!failure || !failure->message || !*failure->message) return "The file couldn\u2019t be moved to the Trash.";
    return std::string(failure->message);
}

}  // namespace calvoro::desktop
