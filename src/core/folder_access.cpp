#include "core/folder_access.h"

#include <sys/stat.h>

#include <algorithm>

#include "core/json_codec.h"
#include "core/settings_store.h"

namespace calvoro {

namespace {

const char* kBookmarksKey = "Calvoro.folderBookmarks";

// Symbolic links resolved and "." and ".." removed; a missing tail is kept as given.
std::filesystem::path resolvedStandardised(const std::filesystem::path& path) {
    std::error_code ec;
    auto canonical = std::filesystem::weakly_canonical(path, ec);
    if (ec) canonical = path.lexically_normal();
    return canonical.lexically_normal();
}

std::vector<std::string> components(const std::filesystem::path& path) {
    std::vector<std::string> out;
    for (const auto& part : path) {
        std::string s = part.string();
        if (s.empty()) continue;  // a trailing "/" yields an empty last element
        out.push_back(s);
    }
    return out;
}

}  // namespace

FolderAccess& FolderAccess::shared() {
    static FolderAccess instance;
    return instance;
}

FolderAccess::FolderAccess() { load(); }

void FolderAccess::load() {
    std::lock_guard lock(mutex_);
    bookmarks_.clear();
    active_.clear();
    authorizedPaths_.clear();
    auto stored = SettingsStore::shared().value(kBookmarksKey);
    if (stored && stored->is_object()) {
        std::map<std::string, std::vector<uint8_t>> loaded;
        bool valid = true;
        for (auto it = stored->begin(); it != stored->end(); ++it) {
            auto data = SettingsStore::valueToData(it.value());
            if (!data) {
                valid = false;
                break;
            }
            loaded[it.key()] = std::move(*data);
        }
        if (valid) bookmarks_ = std::move(loaded);
    }
    for (const auto& [path, data] : bookmarks_) authorizedPaths_.push_back(path);
}

void FolderAccess::reloadForTesting() { load(); }

void FolderAccess::setObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

std::vector<std::string> FolderAccess::authorizedPaths() const {
    std::lock_guard lock(mutex_);
    return authorizedPaths_;
}

std::optional<std::filesystem::path> FolderAccess::authorizedRoot(const std::filesystem::path& covering) const {
    auto target = components(resolvedStandardised(covering));
    std::lock_guard lock(mutex_);
    for (const auto& [key, data] : bookmarks_) {
        auto root = components(resolvedStandardised(std::filesystem::path(key)));
        if (target.size() < root.size()) continue;
        if (std::equal(root.begin(), root.end(), target.begin())) return std::filesystem::path(key);
    }
    return std::nullopt;
}

bool FolderAccess::canWrite(const std::filesystem::path& into) const { return authorizedRoot(into).has_value(); }

bool FolderAccess::beginAccess(const std::filesystem::path& url) {
    auto root = authorizedRoot(url);
    if (!root) return false;
    std::vector<uint8_t> data;
    {
        std::lock_guard lock(mutex_);
        auto it = bookmarks_.find(root->string());
        if (it == bookmarks_.end()) return false;
        data = it->second;
    }
    auto resolved = resolveBookmark(data);
    if (!resolved) {
        {
            std::lock_guard lock(mutex_);
            bookmarks_.erase(root->string());
            active_.erase(root->string());
        }
        persist();
        return false;
    }
    if (resolved->stale) {
        auto fresh = makeBookmark(resolved->url);
        if (!fresh.empty()) {
            {
                std::lock_guard lock(mutex_);
                bookmarks_[root->string()] = std::move(fresh);
            }
            persist();
        }
    }
    // No sandbox here: access to a resolved folder always starts, and stopping it is empty.
    return true;
}

void FolderAccess::revoke(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        bookmarks_.erase(path);
        active_.erase(path);
    }
    persist();
}

bool FolderAccess::authorize(const std::filesystem::path& folder) {
    auto data = makeBookmark(folder);
    if (data.empty()) return false;
    {
        std::lock_guard lock(mutex_);
        bookmarks_[folder.string()] = std::move(data);
    }
    persist();
    return true;
}

void FolderAccess::persist() {
    Observer observer;
    SettingsStore::Value dict = SettingsStore::Value::object();
    {
        std::lock_guard lock(mutex_);
        for (const auto& [path, data] : bookmarks_) dict[path] = SettingsStore::dataToValue(data);
        authorizedPaths_.clear();
        for (const auto& [path, data] : bookmarks_) authorizedPaths_.push_back(path);
        observer = observer_;
    }
    SettingsStore::shared().set(kBookmarksKey, std::move(dict));
    if (observer) observer();
}

std::vector<uint8_t> FolderAccess::makeBookmark(const std::filesystem::path& folder) {
    std::error_code ec;
    auto canonical = std::filesystem::canonical(folder, ec);
    if (ec) return {};
    struct stat st {};
    if (::stat(canonical.c_str(), &st) != 0) return {};
    SettingsStore::Value v = {{"path", canonical.string()},
                              {"device", static_cast<uint64_t>(st.st_dev)},
                              {"inode", static_cast<uint64_t>(st.st_ino)}};
    std::string text = dumpJSON(v);
    return {text.begin(), text.end()};
}

std::optional<FolderAccess::Resolved> FolderAccess::resolveBookmark(const std::vector<uint8_t>& data) {
    auto parsed = parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const auto& v = *parsed;
    auto path = v.find("path");
    auto device = v.find("device");
    auto inode = v.find("inode");
    if (path == v.end() || !path->is_string() || device == v.end() || inode == v.end() ||
        !device->is_number_unsigned() || !inode->is_number_unsigned())
        return std::nullopt;
    std::filesystem::path folder = path->get<std::string>();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    Resolved r;
    r.url = folder;
    r.stale = static_cast<uint64_t>(st.st_dev) != device->get<uint64_t>() || static_cast<uint64_t>(st.st_ino) != inode->get<uint64_t>();
    return r;
}

}  // namespace calvoro
