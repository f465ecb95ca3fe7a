#include <algorithm>
#include <optional>
#include <string>

#include "converters/archive/tar_archive.h"
#include "core/conversion_error.h"
#include "zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

// A text field up to its first NUL.
std::string textField(std::span<const uint8_t> header, size_t offset, size_t width) {
    auto field = header.subspan(offset, width);
    auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return decodeArchiveName(field.first(static_cast<size_t>(end - field.begin())));
}

// The size field as octal text between blanks and NULs; nothing when it is not a usable size
// (a negative number, other characters, or the base-256 form).
std::optional<uint64_t> sizeField(std::span<const uint8_t> header) {
    auto field = header.subspan(124, 12);
    size_t begin = 0, end = field.size();
    auto pad = [](uint8_t b) { return b == ' ' || b == 0; };
    while (begin < end && pad(field[begin])) ++begin;
    while (end > begin && pad(field[end - 1])) --end;
    if (begin == end) return 0;
    if (field[begin] == '+') ++begin;
    if (begin == end) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        if (field[i] < '0' || field[i] > '7') return std::nullopt;
        value = value * 8 + (field[i] - '0');
    }
    return value;
}

bool isRefused(uint8_t type) {
    switch (type) {
        case '1': case '2': case '3': case '4': case '6': case 'L': case 'K': return true;
        default: return false;
    }
}

}  // namespace

void extractTAR(std::span<const uint8_t> data, const fs::path& to, const CancellationToken& cancellation) {
    std::vector<std::string> refused;
    size_t offset = 0;
    while (data.size() - offset >= 512) {
        cancellation.throwIfCancelled();
        auto header = data.subspan(offset, 512);
        if (std::all_of(header.begin(), header.end(), [](uint8_t b) { return b == 0; })) break;
        std::string name = textField(header, 0, 100);
        std::string prefix = textField(header, 345, 155);
        std::string fullName = prefix.empty() ? name : prefix + "/" + name;
        const uint8_t type = header[156];
        auto size = sizeField(header);
        // Without a size there is no telling where the next header starts.
        if (!size) throw ConversionError::corruptFile("TAR entry '" + fullName + "' has an invalid size");
        const uint64_t available = data.size() - offset - 512;
        const uint64_t padded = *size + (512 - *size % 512) % 512;

        if (isRefused(type)) {
            refused.push_back(fullName);
        } else if (type != '5' && type != 'x' && type != 'g' && !fullName.ends_with('/') && !fullName.empty()) {
            if (*size > available) throw ConversionError::corruptFile("TAR entry '" + fullName + "' exceeds archive bounds");
            std::string path = sanitizePath(fullName);
            if (!path.empty()) {
                fs::path target = to / path;
                fs::create_directories(target.parent_path());
                writeFileBytes(target, data.subspan(offset + 512, static_cast<size_t>(*size)));
            }
        }
        if (padded >= available) break;
        offset += 512 + static_cast<size_t>(padded);
    }
    if (!refused.empty()) {
        std::string names;
        for (size_t i = 0; i < refused.size() && i < 3; ++i) {
            if (i) names += ", ";
            names += refused[i];
        }
        if (refused.size() > 3) names += " and " + std::to_string(refused.size() - 3) + " more";
        throw ConversionError::corruptFile("This archive contains " + std::to_string(refused.size()) +
                                           " symlink(s) or special file(s) (" + names +
                                           ") that can't be represented in the target format without corrupting the tree.");
    }
}

}  // namespace calvoro::ArchiveConverter
