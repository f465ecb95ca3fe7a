#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "converters/archive/tar_archive.h"
#include "core/byte_pipe.h"
#include "core/conversion_error.h"
#include "platform/compression/large_buffer.h"
#include "platform/zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

using Header = std::array<uint8_t, 512>;

constexpr uint64_t kLargestOctal11 = 8589934591ULL;  // 11 octal digits
// As large as the codecs' own blocks: more would only hold more memory.
constexpr size_t kCopyBuffer = 256 * 1024;

void putOctal(Header& h, size_t offset, int digits, uint64_t value) {
    for (int i = digits - 1; i >= 0; --i) {
        h[offset + static_cast<size_t>(i)] = static_cast<uint8_t>('0' + (value & 7));
        value >>= 3;
    }
    h[offset + static_cast<size_t>(digits)] = 0;
}

void putText(Header& h, size_t offset, const std::string& text) {
    std::copy(text.begin(), text.end(), h.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Fits a path into the name field, or into prefix "/" name split at a folder boundary.
bool fitPath(Header& h, const std::string& path) {
    if (path.size() <= 100) {
        putText(h, 0, path);
        return true;
    }
    // The shortest prefix that leaves a name of at most 100 bytes; later splits only lengthen the prefix.
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        size_t nameLength = path.size() - slash - 1;
        if (nameLength > 100) continue;
        if (slash > 155 || nameLength == 0) break;
        putText(h, 0, path.substr(slash + 1));
        putText(h, 345, path.substr(0, slash));
        return true;
    }
    return false;
}

// Not damage of the source: the name is one this format cannot hold.
[[noreturn]] void throwTooLong(const std::string& path) {
    throw ConversionError::unrepresentableEntries("The name " + path +
                                                  " is too long for TAR (at most 255 bytes, split at a folder) \u2014 try ZIP instead.");
}

// Fills everything but the path, which must already be in place.
Header& finishHeader(Header& h, bool folder, uint64_t size, uint64_t mtime) {
    putOctal(h, 100, 7, folder ? 0755 : 0644);
    putOctal(h, 108, 7, 0);
    putOctal(h, 116, 7, 0);
    putOctal(h, 124, 11, size);
    putOctal(h, 136, 11, mtime);
    h[156] = folder ? '5' : '0';
    putText(h, 257, std::string("ustar", 6));
    putText(h, 263, "00");
    std::fill(h.begin() + 148, h.begin() + 156, ' ');
    uint32_t sum = 0;
    for (uint8_t b : h) sum += b;
    putOctal(h, 148, 6, sum);
    h[155] = ' ';
    return h;
}

bool isEmptyFolder(const fs::path& folder) { return fs::directory_iterator(folder) == fs::directory_iterator(); }

uint64_t secondsSince1970(const fs::path& item) {
    auto when = zip::modificationTime(item);
    if (!when) return 0;
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(when->time_since_epoch()).count();
    // Before 1970 has no octal form here; past the field's reach is held at its largest value.
    if (seconds < 0) return 0;
    return std::min<uint64_t>(static_cast<uint64_t>(seconds), kLargestOctal11);
}

}  // namespace

void writeTAR(const fs::path& from, ByteSink& to, const CancellationToken& cancellation) {
    // Headers of every folder, and the paths of the files checked, before the first byte goes out.
    std::vector<Header> folderHeaders;
    for (std::string folder : zip::gatherDirectories(from, from)) {
        if (!folder.ends_with('/')) folder += '/';
        Header h{};
        // The typeflag already says folder, so the trailing "/" may go when that is what makes it fit.
        if (!fitPath(h, folder) && !fitPath(h, folder.substr(0, folder.size() - 1))) {
            // A folder with content comes back from its files' paths; an empty one would be lost.
            if (isEmptyFolder(from / folder)) throwTooLong(folder);
            continue;
        }
        folderHeaders.push_back(finishHeader(h, true, 0, 0));
    }
    auto files = zip::gatherFiles(from, from);
    for (const auto& file : files) {
        Header h{};
        if (!fitPath(h, file.first)) throwTooLong(file.first);
    }

    for (const Header& h : folderHeaders) to.write(h);
    std::vector<uint8_t> buffer(kCopyBuffer);
    for (const auto& [path, url] : files) {
        cancellation.throwIfCancelled();
        FileSource content(url);
        struct stat st {};
        if (::fstat(content.descriptor(), &st) != 0 || !S_ISREG(st.st_mode))
            throw fs::filesystem_error("not a regular file", url, std::make_error_code(std::errc::invalid_argument));
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        if (size > kLargestOctal11) throw ConversionError::corruptFile("File too large for TAR: " + path);
        Header h{};
        fitPath(h, path);
        to.write(finishHeader(h, false, size, secondsSince1970(url)));
        for (uint64_t left = size; left > 0;) {
            size_t n = content.readFully(std::span(buffer).first(static_cast<size_t>(std::min<uint64_t>(left, buffer.size()))));
            // A file in the middle of being changed would make the header lie.
            if (n == 0) throw fs::filesystem_error("file changed while reading", url, std::make_error_code(std::errc::io_error));
            to.write(std::span(buffer).first(n));
            left -= n;
        }
        std::fill_n(buffer.begin(), 512, 0);
        to.write(std::span(buffer).first(static_cast<size_t>((512 - size % 512) % 512)));
    }
    std::fill_n(buffer.begin(), 1024, 0);
    to.write(std::span(buffer).first(1024));
    to.finish();
}

std::vector<uint8_t> createTARData(const fs::path& from, const CancellationToken& cancellation) {
    std::vector<uint8_t> out;
    size_t expected = 1024;
    for (const auto& file : zip::gatherFiles(from, from)) {
        std::error_code ec;
        auto size = fs::file_size(file.second, ec);
        expected += 512 + (ec ? 0 : static_cast<size_t>(size) + 511) / 512 * 512;
    }
    compression::reserveLarge(out, expected);
    VectorSink sink(out);
    writeTAR(from, sink, cancellation);
    return out;
}

}  // namespace calvoro::ArchiveConverter
