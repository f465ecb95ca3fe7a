#include "core/output_name_registry.h"

#include <mutex>
#include <unordered_set>

#include "core/text_util.h"

namespace calvoro {

namespace {

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

std::unordered_set<std::string>& reserved() {
    static std::unordered_set<std::string> set;
    return set;
}

std::filesystem::path candidate(const std::filesystem::path& dir, const std::string& name, const std::string& ext) {
    return dir / (ext.empty() ? name : name + "." + ext);
}

}  // namespace

std::string OutputNameRegistry::key(const std::filesystem::path& path) {
    return unicodeLowercased(unicodeNFC(path.string()));
}

std::filesystem::path OutputNameRegistry::reserve(const std::filesystem::path& dir, const std::string& baseName,
                                                  const std::string& ext) {
    std::lock_guard lock(registryLock());
    auto path = candidate(dir, baseName, ext);
    for (unsigned long n = 0;;) {
        std::string k = key(path);
        std::error_code ec;
        auto status = std::filesystem::symlink_status(path, ec);
        bool exists = !ec && status.type() != std::filesystem::file_type::not_found;
        bool taken = reserved().count(k) > 0 || exists;
        if (!taken) {
            reserved().insert(std::move(k));
            return path;
        }
        ++n;
        path = candidate(dir, baseName + " (" + std::to_string(n) + ")", ext);
    }
}

}  // namespace calvoro
