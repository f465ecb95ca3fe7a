#include "files_extension/kx_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "core/file_writing.h"

namespace calvoro {

namespace {

constexpr const char* fileName = "kxext.log";

// A descriptor that is closed whatever happens; closing errors are of no interest to a log.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens only a regular file and never through a symbolic link; O_NONBLOCK keeps a FIFO planted
// under the name from blocking the file manager.
Descriptor openLog(const std::filesystem::path& path, int flags) {
    Descriptor fd(::open(path.c_str(), flags | O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Descriptor(-1);
    return fd;
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return std::filesystem::path(value);
}

std::optional<std::filesystem::path> homeFolder() {
    if (auto home = absoluteFromEnvironment("HOME")) return home;
    const passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') return std::nullopt;
    return std::filesystem::path(entry->pw_dir);
}

}  // namespace

KxLogFile::KxLogFile(std::vector<std::filesystem::path> candidates) : candidates_(std::move(candidates)) {}

std::optional<std::filesystem::path> KxLogFile::destination() {
    if (resolved_) return resolved_;
    for (const auto& candidate : candidates_) {
        // A cache folder may not exist yet; the runtime folder always does when it is set.
        ::mkdir(candidate.parent_path().c_str(), 0700);
        Descriptor created = openLog(candidate, O_CREAT | O_TRUNC);
        if (created.get() >= 0 || openLog(candidate, 0).get() >= 0) {
            resolved_ = candidate;
            return resolved_;
        }
    }
    return std::nullopt;
}

void KxLogFile::append(std::string_view message) {
    std::lock_guard lock(queue_);
    auto path = destination();
    if (!path) return;
    std::string line = "[" + timestamp() + "] ";
    line.append(message).push_back('\n');
    // A removed log file is created again, empty, and the line goes on.
    Descriptor fd = openLog(*path, O_CREAT | O_APPEND);
    if (fd.get() < 0) return;
    files::writeAllTo(fd.get(), line.data(), line.size());
}

namespace KxLog {

std::vector<std::filesystem::path> candidates() {
    std::vector<std::filesystem::path> paths;
    if (auto runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR")) paths.push_back(*runtime / fileName);
    if (auto cache = absoluteFromEnvironment("XDG_CACHE_HOME")) {
        paths.push_back(*cache / fileName);
    } else if (auto home = homeFolder()) {
        paths.push_back(*home / ".cache" / fileName);
    }
    return paths;
}

void write(std::string_view message) {
    ::syslog(LOG_USER | LOG_INFO, "KXEXT %.*s", static_cast<int>(message.size()), message.data());
    static KxLogFile file(candidates());
    file.append(message);
}

}  // namespace KxLog

}  // namespace calvoro
