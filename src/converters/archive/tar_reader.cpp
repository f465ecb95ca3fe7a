#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "converters/archive/tar_archive.h"
#include "core/byte_pipe.h"
#include "core/conversion_error.h"
#include "platform/zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

// A text field up to its first NUL.
std::string textField(std::span<const uint8_t> header, size_t offset, size_t width) {
    auto field = header.subspan(offset, width);
    auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return decodeArchiveName(field.first(static_cast<size_t>(end - field.begin())));
}

// A numeric field as octal text between blanks and NULs; nothing when it is not a usable number
// (a negative number, other characters, or the base-256 form).
std::optional<uint64_t> octalField(std::span<const uint8_t> header, size_t offset, size_t width) {
    auto field = header.subspan(offset, width);
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
        if (value >> 60) return std::nullopt;
        value = value * 8 + (field[i] - '0');
    }
    return value;
}

// The most an 11-digit octal field holds (year 2242): later dates would overflow the clock, so they are left out.
constexpr uint64_t kLatestTime = 077777777777;

bool isRefused(uint8_t type) {
    switch (type) {
        case '1': case '2': case '3': case '4': case '6': case 'L': case 'K': return true;
        default: return false;
    }
}

constexpr size_t kCopyBuffer = 1 << 20;

// Reads and drops count bytes; false when the source ends first.
bool skip(ByteSource& source, uint64_t count, std::vector<uint8_t>& buffer) {
    while (count > 0) {
        size_t n = source.readFully(std::span(buffer).first(static_cast<size_t>(std::min<uint64_t>(count, buffer.size()))));
        if (n == 0) return false;
        count -= n;
    }
    return true;
}

}  // namespace

void extractTAR(std::span<const uint8_t> data, const fs::path& to, const CancellationToken& cancellation) {
    SpanSource source(data);
    extractTAR(source, to, cancellation);
}

void extractTAR(ByteSource& source, const fs::path& to, const CancellationToken& cancellation) {
    std::vector<std::string> refused;
    std::array<uint8_t, 512> block{};
    std::vector<uint8_t> buffer(kCopyBuffer);
    for (;;) {
        cancellation.throwIfCancelled();
        if (source.readFully(block) < block.size()) break;
        std::span<const uint8_t> header(block);
        if (std::all_of(header.begin(), header.end(), [](uint8_t b) { return b == 0; })) break;
        std::string name = textField(header, 0, 100);
        std::string prefix = textField(header, 345, 155);
        std::string fullName = prefix.empty() ? name : prefix + "/" + name;
        const uint8_t type = header[156];
        auto size = octalField(header, 124, 12);
        // Without a size there is no telling where the next header starts.
        if (!size) throw ConversionError::corruptFile("TAR entry '" + fullName + "' has an invalid size");
        const uint64_t padding = (512 - *size % 512) % 512;

        uint64_t unread = *size + padding;
        if (isRefused(type)) {
            refused.push_back(fullName);
        } else if (type != '5' && type != 'x' && type != 'g' && !fullName.ends_with('/') && !fullName.empty()) {
            std::string path = sanitizePath(fullName);
            auto exceeds = [&] { return ConversionError::corruptFile("TAR entry '" + fullName + "' exceeds archive bounds"); };
            if (path.empty()) {
                if (!skip(source, *size, buffer)) throw exceeds();
            } else {
                fs::path target = to / path;
                fs::create_directories(target.parent_path());
                FileSink file(target);
                for (uint64_t left = *size; left > 0;) {
                    size_t n = source.readFully(std::span(buffer).first(static_cast<size_t>(std::min<uint64_t>(left, buffer.size()))));
                    if (n == 0) throw exceeds();
                    file.write(std::span(buffer).first(n));
                    left -= n;
                }
                file.finish();
                // The archive's dates come along, so that packing the files again gives the same bytes.
                if (auto mtime = octalField(header, 136, 12); mtime && *mtime <= kLatestTime)
                    setModificationTime(target, std::chrono::system_clock::time_point(std::chrono::seconds(*mtime)));
            }
            unread = padding;
        }
        if (!skip(source, unread, buffer)) break;
    }
    if (!refused.empty()) throw ConversionError::unrepresentableEntries(refusedEntriesMessage(refused));
}

}  // namespace calvoro::ArchiveConverter
