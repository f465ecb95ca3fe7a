#include "converters/archive/gzip_container.h"

#include <algorithm>
#include <cstring>

#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/compression/deflate_codec.h"
#include "platform/zip/zip_support.h"

namespace calvoro::ArchiveConverter {

using compression::DeflateCodec;

namespace {

// Position of a member's deflate data; the member starts at `start`, the file ends at n.
size_t skipHeader(std::span<const uint8_t> data, size_t start) {
    const size_t n = data.size() - start;
    auto at = [&](size_t i) { return data[start + i]; };
    if (n < 10) throw ConversionError::corruptFile("GZIP data too short");
    if (at(0) != 0x1F || at(1) != 0x8B) throw ConversionError::corruptFile("Not a valid GZIP file");
    const uint8_t flags = at(3);
    size_t p = 10;
    if (flags & 0x04) {
        if (n < 12) throw ConversionError::corruptFile("GZIP header truncated (FEXTRA)");
        p = 12 + at(10) + 256 * static_cast<size_t>(at(11));
    }
    for (uint8_t field : {uint8_t{0x08}, uint8_t{0x10}}) {
        if (!(flags & field)) continue;
        while (p < n && at(p) != 0) ++p;
        ++p;
    }
    if (flags & 0x02) p += 2;
    if (n < 8 || p >= n - 8) throw ConversionError::corruptFile("GZIP no compressed data after header");
    return start + p;
}

}  // namespace

std::vector<uint8_t> decompressGzip(std::span<const uint8_t> data, int64_t maxOutputBytes) {
    const size_t limit = maxOutputBytes > 0 ? static_cast<size_t>(maxOutputBytes) : 0;
    std::vector<uint8_t> out;
    size_t member = 0;
    for (;;) {
        const size_t p = skipHeader(data, member);
        // ISIZE at the very end sizes the first buffer; it is only a hint (the last member's size).
        const uint32_t isize = zip::readUInt32(data, data.size() - 4);
        const auto body = data.subspan(p);
        const size_t hint = member == 0 && isize != 0 ? isize : 0;
        const size_t memberStart = out.size();
        auto result = DeflateCodec::inflate(body, hint, limit - out.size(), out);
        if (result.status == DeflateCodec::Status::limitExceeded)
            throw ConversionError::corruptFile("gzip contents exceed the " + formatByteCount(maxOutputBytes) + " limit");
        if (result.status != DeflateCodec::Status::ok) throw ConversionError::corruptFile("Cannot decompress data");
        size_t next = p + result.consumed;
        if (data.size() - next < 8) throw ConversionError::corruptFile("GZIP data truncated");
        const auto inflated = std::span<const uint8_t>(out).subspan(memberStart);
        if (zip::readUInt32(data, next) != zip::crc32Checksum(inflated)) throw ConversionError::corruptFile("GZIP checksum mismatch");
        if (zip::readUInt32(data, next + 4) != static_cast<uint32_t>(inflated.size())) throw ConversionError::corruptFile("GZIP length mismatch");
        next += 8;
        // Another member follows only where its magic does; trailing padding is ignored as gzip does.
        if (data.size() - next < 2 || data[next] != 0x1F || data[next + 1] != 0x8B) break;
        member = next;
    }
    return out;
}

std::vector<uint8_t> compressGzip(std::span<const uint8_t> data) {
    auto deflated = zip::compressDeflate(data);
    std::vector<uint8_t> out = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
    out.reserve(out.size() + deflated.size() + 8);
    // An empty input still needs a valid (empty) DEFLATE stream between header and trailer.
    if (deflated.empty()) deflated = {0x03, 0x00};
    out.insert(out.end(), deflated.begin(), deflated.end());
    zip::appendUInt32(out, zip::crc32Checksum(data));
    zip::appendUInt32(out, static_cast<uint32_t>(data.size()));
    return out;
}

bool isTarArchive(std::span<const uint8_t> data) {
    return data.size() >= 263 && std::memcmp(data.data() + 257, "ustar", 5) == 0;
}

}  // namespace calvoro::ArchiveConverter
