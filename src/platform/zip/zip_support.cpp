#include "platform/zip/zip_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <system_error>

#include "core/conversion_error.h"
#include "core/text_util.h"
#include "core/utf8.h"
#include "platform/compression/deflate_codec.h"
#include "platform/compression/large_buffer.h"

namespace calvoro::zip {

namespace fs = std::filesystem;
using compression::DeflateCodec;

namespace {

struct Child {
    fs::path path;
    std::string name;  // relative to the walk's root
    bool isFolder = false;
};

// Children of a folder, metadata left out, in byte-wise name order, named under the folder's
// own name: a link by where it points, as relativePath names it.
std::vector<Child> listChildren(const fs::path& folder, const std::string& folderName, const fs::path& root) {
    std::vector<Child> children;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (isFileManagerMetadata(name)) continue;
        // A link is not a folder of the tree, even when it points at one.
        const bool link = entry.is_symlink();
        std::string relative = link ? relativePath(entry.path(), root) : folderName.empty() ? name : folderName + "/" + name;
        children.push_back({entry.path(), std::move(relative), entry.is_directory() && !link});
    }
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.path.filename().string() < b.path.filename().string(); });
    return children;
}

// Every item under in, depth first in name order, each folder before what it holds. The walk
// keeps its own stack and names each item from its folder's name: a tree is as deep as the names
// of the archive it came from, and resolving each item's whole path took time square in that.
template <class Visit>
void walkTree(const fs::path& in, const fs::path& root, Visit&& visit) {
    struct Level {
        std::vector<Child> children;
        size_t next = 0;
    };
    std::vector<Level> open;
    open.push_back({listChildren(in, in == root ? std::string() : relativePath(in, root), root)});
    while (!open.empty()) {
        if (open.back().next == open.back().children.size()) {
            open.pop_back();
            continue;
        }
        Child child = std::move(open.back().children[open.back().next++]);
        if (child.isFolder) open.push_back({listChildren(child.path, child.name, root)});
        visit(std::move(child));
    }
}

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Windows-1252 at 0x80...0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

}  // namespace

bool isFileManagerMetadata(const std::string& name) {
    return name == ".DS_Store" || name == "__MACOSX" || name.starts_with("._");
}

std::string relativePath(const fs::path& item, const fs::path& under) {
    std::error_code ec;
    fs::path a = fs::weakly_canonical(item, ec);
    if (ec) a = item.lexically_normal();
    fs::path b = fs::weakly_canonical(under, ec);
    if (ec) b = under.lexically_normal();
    std::vector<std::string> itemParts, rootParts;
    for (const auto& p : a)
        if (!p.empty() && p != "/") itemParts.push_back(p.string());
    for (const auto& p : b)
        if (!p.empty() && p != "/") rootParts.push_back(p.string());
    if (rootParts.size() < itemParts.size() && std::equal(rootParts.begin(), rootParts.end(), itemParts.begin())) {
        std::string out;
        for (size_t i = rootParts.size(); i < itemParts.size(); ++i) {
            if (!out.empty()) out += '/';
            out += itemParts[i];
        }
        return out;
    }
    // Outside the root (a link pointing elsewhere): the item's own name at the top level.
    return item.filename().string();
}

std::vector<std::string> gatherDirectories(const fs::path& in, const fs::path& relativeTo) {
    std::vector<std::string> out;
    walkTree(in, relativeTo, [&](Child&& child) {
        if (child.isFolder) out.push_back(std::move(child.name));
    });
    return out;
}

std::vector<std::pair<std::string, fs::path>> gatherFiles(const fs::path& in, const fs::path& relativeTo) {
    std::vector<std::pair<std::string, fs::path>> out;
    walkTree(in, relativeTo, [&](Child&& child) {
        if (!child.isFolder) out.emplace_back(std::move(child.name), std::move(child.path));
    });
    return out;
}

std::vector<uint8_t> compressDeflate(std::span<const uint8_t> data) {
    if (data.empty()) return {};
    auto out = DeflateCodec::deflate(data);
    if (out.empty()) throw ConversionError::conversionFailed();
    return out;
}

std::optional<std::vector<uint8_t>> decompressRawDeflate(std::span<const uint8_t> data, int64_t expectedSize, int64_t limit) {
    if (data.empty()) return std::vector<uint8_t>{};
    std::vector<uint8_t> out;
    auto result = DeflateCodec::inflate(data, expectedSize > 0 ? static_cast<size_t>(expectedSize) : 0,
                                        limit > 0 ? static_cast<size_t>(limit) : 0, out);
    switch (result.status) {
        case DeflateCodec::Status::ok: return out;
        case DeflateCodec::Status::limitExceeded: return std::nullopt;
        case DeflateCodec::Status::damaged: break;
    }
    throw ConversionError::corruptFile("Cannot decompress data");
}

uint32_t crc32Checksum(std::span<const uint8_t> data) { return DeflateCodec::crc32(data); }

std::string refusedEntriesMessage(const std::vector<std::string>& names) { return refusedEntriesMessage(names, names.size()); }

std::string refusedEntriesMessage(const std::vector<std::string>& firstNames, size_t count) {
    std::string listed;
    for (size_t i = 0; i < firstNames.size() && i < 3; ++i) {
        if (i) listed += ", ";
        listed += firstNames[i];
    }
    if (count > 3) listed += " and " + std::to_string(count - 3) + " more";
    return "This archive contains " + std::to_string(count) + " symlink(s) or special file(s) (" + listed +
           ") that can't be represented in the target format without corrupting the tree.";
}

ConversionError nameTooLongToUnpack(const std::string& name) {
    // Only the start of a name that long is worth showing.
    std::string shown(prefixAtCharacterBoundary(name, 80));
    if (shown.size() < name.size()) shown += "\u2026";
    return ConversionError::unrepresentableEntries("The name '" + shown + "' is too long for a file on this system.");
}

namespace {

// A file unpacked below root/folder, to name a member that needed that folder.
std::string someMemberIn(const fs::path& root, const std::string& folder) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root / folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) return relativePath(it->path(), root);
    return folder + "/\u2026";
}

ConversionError clash(const std::string& file, const std::string& inFolder) {
    return ConversionError::unrepresentableEntries("The archive holds a file '" + file + "' and also '" + inFolder +
                                                   "', which needs a folder of that name: a file and a folder can't share a name.");
}

}  // namespace

void unpackEntry(const fs::path& root, const std::string& path, const std::function<void(const fs::path&)>& write) {
    const fs::path target = root / path;
    try {
        fs::create_directories(target.parent_path());
        write(target);
    } catch (const fs::filesystem_error& e) {
        std::error_code ec;
        // A member written before as a file, where this one needs a folder.
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            const auto status = fs::symlink_status(root / path.substr(0, slash), ec);
            if (!ec && fs::exists(status) && !fs::is_directory(status)) throw clash(path.substr(0, slash), path);
        }
        // Members written before inside a folder of this one's name.
        if (fs::is_directory(fs::symlink_status(target, ec))) throw clash(path, someMemberIn(root, path));
        if (e.code() == std::errc::filename_too_long) throw nameTooLongToUnpack(path);
        throw;
    }
}

DosTimestamp dosTimestamp(std::chrono::system_clock::time_point instant) {
    std::time_t t = std::chrono::system_clock::to_time_t(instant);
    std::tm parts{};
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    if (::localtime_r(&t, &parts)) {
        year = std::clamp(parts.tm_year + 1900, 1980, 2107);
        month = parts.tm_mon + 1;
        day = parts.tm_mday;
        hour = parts.tm_hour;
        minute = parts.tm_min;
        second = std::min(parts.tm_sec, 59);  // a leap second still fits the two-second field
    }
    return {static_cast<uint16_t>(hour * 2048 + minute * 32 + second / 2),
            static_cast<uint16_t>((year - 1980) * 512 + month * 32 + day)};
}

std::optional<std::chrono::system_clock::time_point> dosTime(DosTimestamp stamp) {
    std::tm parts{};
    parts.tm_year = 80 + (stamp.date >> 9);
    parts.tm_mon = ((stamp.date >> 5) & 15) - 1;
    parts.tm_mday = stamp.date & 31;
    parts.tm_hour = stamp.time >> 11;
    parts.tm_min = (stamp.time >> 5) & 63;
    parts.tm_sec = (stamp.time & 31) * 2;
    parts.tm_isdst = -1;
    if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday == 0 || parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 59)
        return std::nullopt;
    std::time_t t = std::mktime(&parts);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return std::chrono::system_clock::from_time_t(t);
}

std::string decodeArchiveName(std::span<const uint8_t> bytes) {
    if (isValidUTF8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) return std::string(bytes.begin(), bytes.end());
    bool cp1252 = std::none_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] == 0; });
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        if (cp1252 && b >= 0x80 && b < 0xA0)
            appendUTF8(kCp1252High[b - 0x80], out);
        else
            appendUTF8(b, out);  // ISO 8859-1: every byte is its own code point
    }
    return out;
}

std::string sanitizePath(const std::string& path) {
    std::string out;
    size_t start = 0;
    std::string unified = path;
    std::replace(unified.begin(), unified.end(), '\\', '/');
    while (start <= unified.size()) {
        size_t end = unified.find('/', start);
        if (end == std::string::npos) end = unified.size();
        std::string part = unified.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!out.empty()) out += '/';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

std::span<const uint8_t> readFileInto(const fs::path& path, std::vector<uint8_t>& buffer) {
    // Non-blocking, so that a FIFO among the items cannot hang the walk; only regular files are content.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) throwErrno("cannot open file", path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwErrno("cannot read file attributes", path);
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        throwErrno("not a regular file", path);
    }
    // One byte beyond the expected size shows whether the file grew meanwhile.
    size_t want = static_cast<size_t>(st.st_size) + 1;
    if (buffer.size() < want) {
        compression::reserveLarge(buffer, want);
        buffer.resize(want);
    }
    size_t used = 0;
    for (;;) {
        if (used == buffer.size()) buffer.resize(buffer.size() * 2);
        ssize_t n = ::read(fd.get(), buffer.data() + used, buffer.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("cannot read file", path);
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    return {buffer.data(), used};
}

void writeFileBytes(const fs::path& path, std::span<const uint8_t> data) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) throwErrno("cannot write file", path);
    writeAll(fd.get(), data, path);
    if (::close(fd.release()) != 0) throwErrno("cannot write file", path);
}

std::optional<std::chrono::system_clock::time_point> modificationTime(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::chrono::system_clock::time_point(std::chrono::seconds(st.st_mtim.tv_sec)) +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(st.st_mtim.tv_nsec));
}

void setModificationTime(const fs::path& path, std::chrono::system_clock::time_point when) {
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
    times[0].tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    if (times[0].tv_nsec < 0) {
        times[0].tv_nsec += 1000000000;
        --times[0].tv_sec;
    }
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throwErrno("cannot set modification time", path);
}

}  // namespace calvoro::zip
