#include "files_extension/calvoro_finder_sync.h"

#include <algorithm>

#include "core/handoff_url.h"
#include "core/text_util.h"
#include "files_extension/finder_menu_tables.h"

namespace calvoro {

namespace {

std::string lowercaseExtension(const std::filesystem::path& file) { return unicodeLowercased(pathExtension(file)); }

}  // namespace

CalvoroFinderSync::CalvoroFinderSync(URLOpener open, Log log) : open_(std::move(open)), log_(std::move(log)) {}

std::optional<FinderMenu> CalvoroFinderSync::menu(const std::vector<std::filesystem::path>& selectedItems) {
    if (selectedItems.empty()) return std::nullopt;
    std::optional<std::vector<MenuChoice>> common;
    bool allCompressible = true;
    for (const auto& item : selectedItems) {
        const std::string extension = lowercaseExtension(item);
        const auto& choices = convertTargets(extension);
        if (choices.empty()) return std::nullopt;
        allCompressible = allCompressible && isCompressible(extension);
        if (!common) {
            common = choices;
            continue;
        }
        // Titles stay those of the first file's list.
        std::erase_if(*common, [&](const MenuChoice& kept) {
            return std::none_of(choices.begin(), choices.end(),
                                [&](const MenuChoice& c) { return c.rawValue == kept.rawValue; });
        });
    }
    if (common->empty()) return std::nullopt;

    FinderMenu built;
    built.showsCompress = allCompressible;
    std::vector<SupportedFormat> formats;
    for (const auto& choice : *common) {
        // Every raw value of the table names a format.
        formats.push_back(*SupportedFormat::fromRawValue(choice.rawValue));
        built.convertTitles.emplace_back(choice.title);
    }
    capturedSelection_ = selectedItems;
    menuFormats_ = std::move(formats);
    log_(formatC("menu built: %zu item(s), %zu format(s)", capturedSelection_.size(), menuFormats_.size()));
    return built;
}

void CalvoroFinderSync::convert(long tag) {
    if (tag < 0 || static_cast<size_t>(tag) >= menuFormats_.size()) {
        log_(formatC("action: tag %ld out of range (%zu formats)", tag, menuFormats_.size()));
        return;
    }
    const SupportedFormat target = menuFormats_[static_cast<size_t>(tag)];
    log_(formatC("action: target=%s count=%zu", target.rawValue().c_str(), capturedSelection_.size()));
    if (capturedSelection_.empty()) {
        log_("action: EMPTY SELECTION");
        return;
    }
    for (const auto& file : capturedSelection_) handOff(file, target);
}

void CalvoroFinderSync::compress(unsigned long tag) {
    if (tag >= compressLevels.size()) return;
    const std::string_view level = compressLevels[tag].rawValue;
    log_(formatC("compress: level=%.*s count=%zu", static_cast<int>(level.size()), level.data(),
                 capturedSelection_.size()));
    for (const auto& file : capturedSelection_) handOffCompress(file, level, false);
}

void CalvoroFinderSync::chooseSize() {
    log_(formatC("compress: picker count=%zu", capturedSelection_.size()));
    for (const auto& file : capturedSelection_) handOffCompress(file, std::nullopt, true);
}

void CalvoroFinderSync::handOff(const std::filesystem::path& file, SupportedFormat target) {
    const std::string name = lastPathComponent(file);
    const auto url = HandoffURL::convert(file.string(), target.rawValue());
    if (!url) {
        log_("  could not build hand-off URL for " + name);
        return;
    }
    if (auto failure = open_(*url)) {
        log_("  hand-off FAILED " + name + ": " + *failure);
    } else {
        log_("  handed off " + name + " \u2192 " + target.rawValue());
    }
}

void CalvoroFinderSync::handOffCompress(const std::filesystem::path& file, std::optional<std::string_view> level,
                                        bool choose) {
    const auto url = HandoffURL::compress(file.string(), level, choose);
    if (!url) return;
    if (auto failure = open_(*url)) {
        log_("  compress hand-off FAILED: " + *failure);
    } else {
        log_("  compress handed off " + lastPathComponent(file));
    }
}

}  // namespace calvoro
