#include "core/work_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/uuid.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;

// Hidden, so that a work folder inside an output folder is not taken for an output.
const std::string prefix = ".calvoro-work-";

int openFolder(const fs::path& path) { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW); }

// Removes the tree at root with one folder open at a time: the library's remove_all holds a
// descriptor per level, and a tree as deep as an archive's names ran out of them and stayed.
// False when something could not be removed.
bool removeTree(const fs::path& root) {
    std::error_code ec;
    std::vector<std::pair<fs::path, bool>> open{{root, false}};  // each folder, and whether it was emptied
    bool removed = true;
    while (!open.empty()) {
        if (open.back().second) {
            fs::remove(open.back().first, ec);
            removed = removed && !ec;
            open.pop_back();
            continue;
        }
        open.back().second = true;
        const fs::path folder = open.back().first;
        if (!fs::is_directory(fs::symlink_status(folder, ec))) continue;  // a link or file: removed as it stands
        std::vector<fs::path> children;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) children.push_back(it->path());
        if (ec) removed = false;
        for (auto& child : children) open.emplace_back(std::move(child), false);
    }
    return removed;
}

// The folders already cleared of leftovers by this process: listing a large output folder once
// per conversion would cost more than the conversions.
struct Swept {
    std::mutex lock;
    std::set<std::string> folders;
};
Swept& swept() {
    static Swept state;
    return state;
}

}  // namespace

void WorkFolder::removeAbandonedOnce(const fs::path& parent) {
    {
        Swept& state = swept();
        std::lock_guard guard(state.lock);
        if (!state.folders.insert(fs::absolute(parent).lexically_normal().string()).second) return;
    }
    removeAbandoned(parent);
}

WorkFolder::WorkFolder(const fs::path& parent) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    removeAbandonedOnce(parent);
    for (;;) {
        path_ = parent / (prefix + Uuid().uuidString());
        if (::mkdir(path_.c_str(), 0700) != 0)
            throw fs::filesystem_error("Cannot create a work folder", path_, std::error_code(errno, std::generic_category()));
        lock_ = openFolder(path_);
        if (lock_ < 0) {
            if (errno == ENOENT) continue;  // taken for a leftover between mkdir and open
            throw fs::filesystem_error("Cannot open the work folder", path_, std::error_code(errno, std::generic_category()));
        }
        if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
            // Held by a sweeper that is removing it; a file system without locks keeps the folder unlocked.
            if (errno == EWOULDBLOCK) {
                ::close(lock_);
                lock_ = -1;
                continue;
            }
            return;
        }
        // A sweeper may have removed the folder after it was opened and before the lock was had.
        struct stat opened {}, named {};
        if (::fstat(lock_, &opened) == 0 && ::lstat(path_.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev)
            return;
        ::close(lock_);
        lock_ = -1;
    }
}

WorkFolder::~WorkFolder() {
    removeTree(path_);
    if (lock_ >= 0) ::close(lock_);
}

fs::path WorkFolder::temporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp && fs::path(tmp).is_absolute()) return tmp;
    return "/tmp";
}

bool WorkFolder::isWorkFolderName(const std::string& name) { return name.rfind(prefix, 0) == 0; }

int WorkFolder::removeAbandoned(const fs::path& parent) {
    int removed = 0;
    std::error_code ec;
    fs::directory_iterator it(parent, ec);
    if (ec) return 0;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (!isWorkFolderName(it->path().filename().string())) continue;
        const int fd = openFolder(it->path());
        if (fd < 0) continue;
        // A free lock means the owner is gone; holding it keeps a new owner out while removing.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (removeTree(it->path())) ++removed;
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace calvoro
