#include "core/output_name_registry.h"

#include <unistd.h>

#include <climits>
#include <mutex>
#include <unordered_set>

#include "core/utf8.h"
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

}  // namespace

std::string OutputNameRegistry::key(const std::filesystem::path& path) {
    return unicodeLowercased(unicodeNFC(path.string()));
}

std::string OutputNameRegistry::fittedName(const std::string& stem, const std::string& suffix, const std::string& ext,
                                           size_t maxBytes) {
    const std::string tail = ext.empty() ? suffix : suffix + "." + ext;
    if (stem.size() + tail.size() <= maxBytes) return stem + tail;
    if (tail.size() >= maxBytes) return std::string(prefixAtCharacterBoundary(stem + tail, maxBytes));
    std::string_view kept = prefixAtCharacterBoundary(stem, maxBytes - tail.size());
    while (kept.size() > 1 && (kept.back() == ' ' || kept.back() == '\t')) kept.remove_suffix(1);
    return std::string(kept) + tail;
}

size_t OutputNameRegistry::nameLimit(const std::filesystem::path& dir) {
    const long limit = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
}

std::filesystem::path OutputNameRegistry::reserve(const std::filesystem::path& dir, const std::string& baseName,
                                                  const std::string& ext, const std::string& suffix) {
    const size_t limit = nameLimit(dir);
    auto candidate = [&](const std::string& counter) { return dir / fittedName(baseName, suffix + counter, ext, limit); };
    std::lock_guard lock(registryLock());
    auto path = candidate("");
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
        path = candidate(" (" + std::to_string(n) + ")");
    }
}

}  // namespace calvoro
