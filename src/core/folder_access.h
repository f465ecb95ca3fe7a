#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace calvoro {

// The folders the user authorised for writing beside sources, kept as bookmarks
// (canonical path with device and inode) under "Calvoro.folderBookmarks".
class FolderAccess {
public:
    static FolderAccess& shared();

    std::vector<std::string> authorizedPaths() const;
    std::optional<std::filesystem::path> authorizedRoot(const std::filesystem::path& covering) const;
    bool canWrite(const std::filesystem::path& into) const;

    // Runs body inside the folder's access; nil without running it when nothing covers url.
    template <typename Body>
    auto withAccess(const std::filesystem::path& url, Body&& body) -> std::optional<std::invoke_result_t<Body>> {
        if (!beginAccess(url)) return std::nullopt;
        return std::forward<Body>(body)();
    }

    void revoke(const std::string& path);
    // Authorises a folder (the settings' way to add one).
    bool authorize(const std::filesystem::path& folder);

    // Bookmark data of a folder, and its resolution.
    static std::vector<uint8_t> makeBookmark(const std::filesystem::path& folder);
    struct Resolved {
        std::filesystem::path url;
        bool stale = false;
    };
    static std::optional<Resolved> resolveBookmark(const std::vector<uint8_t>& data);

    // Tests only: load again from the settings store.
    void reloadForTesting();
    using Observer = std::function<void()>;
    void setObserver(Observer observer);

private:
    FolderAccess();
    void load();
    void persist();
    bool beginAccess(const std::filesystem::path& url);

    mutable std::mutex mutex_;
    std::map<std::string, std::vector<uint8_t>> bookmarks_;
    std::map<std::string, std::filesystem::path> active_;
    std::vector<std::string> authorizedPaths_;
    Observer observer_;
};

}  // namespace calvoro
