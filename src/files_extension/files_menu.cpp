#include "files_extension/files_menu.h"

#include <gio/gio.h>

#include <memory>
#include <type_traits>

#include "files_extension/calvoro_finder_sync.h"
#include "files_extension/finder_menu_tables.h"
#include "files_extension/kx_log.h"

struct CalvoroFilesMenu {
    std::shared_ptr<calvoro::CalvoroFinderSync> sync;
    std::shared_ptr<const calvoro::FinderMenu> menu;
};

namespace {

// The desktop's handler of "calvoro" URLs is started; its own work is not waited for.
std::optional<std::string> openWithDefaultHandler(const std::string& url) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) return std::nullopt;
    std::string message = error ? error->message : "unknown error";
    g_clear_error(&error);
    return message;
}

// Nothing may unwind into the file manager's C code; a failed step does nothing instead.
template <typename Step>
auto guarded(Step step) noexcept -> decltype(step()) {
    try {
        return step();
    } catch (...) {
        if constexpr (!std::is_void_v<decltype(step())>) return {};
    }
}

}  // namespace

extern "C" {

CalvoroFilesMenu* calvoro_files_menu_new(const char* const* paths, size_t count) {
    return guarded([&]() -> CalvoroFilesMenu* {
        // Each menu gets its own captured selection: Files builds the menus of every window's
        // selection as it changes, not only the one the user opens.
        auto sync = std::make_shared<calvoro::CalvoroFinderSync>(openWithDefaultHandler, calvoro::KxLog::write);
        auto built = sync->menu(std::vector<std::filesystem::path>(paths, paths + count));
        if (!built) return nullptr;
        auto menu = std::make_shared<const calvoro::FinderMenu>(std::move(*built));
        return std::make_unique<CalvoroFilesMenu>(CalvoroFilesMenu{std::move(sync), std::move(menu)}).release();
    });
}

CalvoroFilesMenu* calvoro_files_menu_ref(const CalvoroFilesMenu* menu) {
    return std::make_unique<CalvoroFilesMenu>(*menu).release();
}

void calvoro_files_menu_free(CalvoroFilesMenu* menu) { std::unique_ptr<CalvoroFilesMenu> owned(menu); }

size_t calvoro_files_menu_convert_count(const CalvoroFilesMenu* menu) { return menu->menu->convertTitles.size(); }

const char* calvoro_files_menu_convert_title(const CalvoroFilesMenu* menu, size_t index) {
    return menu->menu->convertTitles[index].c_str();
}

int calvoro_files_menu_shows_compress(const CalvoroFilesMenu* menu) { return menu->menu->showsCompress ? 1 : 0; }

size_t calvoro_files_compress_level_count(void) { return calvoro::compressLevels.size(); }

const char* calvoro_files_compress_level_title(size_t index) {
    // The titles are string literals, so their views end in a NUL.
    return calvoro::compressLevels[index].title.data();
}

void calvoro_files_menu_convert(CalvoroFilesMenu* menu, long tag) {
    guarded([&] { menu->sync->convert(tag); });
}

void calvoro_files_menu_compress(CalvoroFilesMenu* menu, unsigned long tag) {
    guarded([&] { menu->sync->compress(tag); });
}

void calvoro_files_menu_choose_size(CalvoroFilesMenu* menu) {
    guarded([&] { menu->sync->chooseSize(); });
}

}  // extern "C"
