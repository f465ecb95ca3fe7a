#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "core/conversion_error.h"
#include "support/test_support.h"

namespace calvoro::archive_testing {

// The message of the ConversionError body throws, which must be of the given kind.
inline std::string errorText(const std::function<void()>& body, ConversionError::Kind kind = ConversionError::Kind::corruptFile) {
    try {
        body();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), kind) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

// The refusal of an archive whose links or special files a plain tree cannot hold.
inline std::string refusalText(const std::function<void()>& body) {
    return errorText(body, ConversionError::Kind::unrepresentableEntries);
}

inline std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

inline uint32_t readUInt32Le(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One crafted ZIP entry: what the central record claims and what the data holds.
struct RawEntry {
    std::string name;  // raw name bytes
    std::vector<uint8_t> payload;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t compressedSize = 0xFFFFFFFEu;  // default: payload size
    uint32_t uncompressedSize = 0xFFFFFFFEu;  // default: payload size
    bool badLocalSignature = false;
    uint32_t externalAttributes = 0x81A40000;  // a plain file, 0644, made on Unix
    std::optional<uint32_t> crc = std::nullopt;  // default: the CRC-32 of what the payload decodes to
    std::vector<uint8_t> extra = {};  // the extra field, in the local header and the central record alike
};

// The CRC-32 a correct writer puts in: of the payload itself when stored, of what it inflates
// to when deflated (0 when it does not inflate).
inline uint32_t contentChecksum(const RawEntry& e) {
    if (e.crc) return *e.crc;
    std::vector<uint8_t> content = e.payload;
    if (e.method == 8) {
        content.clear();
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 0;
        std::vector<uint8_t> input = e.payload;
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(input.size());
        uint8_t buffer[65536];
        int rc = Z_OK;
        while (rc == Z_OK) {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            rc = inflate(&z, Z_NO_FLUSH);
            content.insert(content.end(), buffer, buffer + (sizeof buffer - z.avail_out));
            if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
        }
        inflateEnd(&z);
        if (rc != Z_STREAM_END) return 0;
    }
    return static_cast<uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size())));
}

// A ZIP file built by hand, so that tests can say exactly what a hostile archive claims.
inline std::vector<uint8_t> rawZip(const std::vector<RawEntry>& entries, bool zip64Locator = false) {
    std::vector<uint8_t> local, central;
    for (const auto& e : entries) {
        uint32_t csize = e.compressedSize == 0xFFFFFFFEu ? static_cast<uint32_t>(e.payload.size()) : e.compressedSize;
        uint32_t usize = e.uncompressedSize == 0xFFFFFFFEu ? static_cast<uint32_t>(e.payload.size()) : e.uncompressedSize;
        uint32_t offset = static_cast<uint32_t>(local.size());
        const uint32_t crc = contentChecksum(e);
        put32(local, e.badLocalSignature ? 0x12345678 : 0x04034B50);
        put16(local, 20);
        put16(local, e.flags);
        put16(local, e.method);
        put16(local, 0);
        put16(local, 0x21);
        put32(local, crc);
        put32(local, csize);
        put32(local, usize);
        put16(local, static_cast<uint16_t>(e.name.size()));
        put16(local, static_cast<uint16_t>(e.extra.size()));
        local.insert(local.end(), e.name.begin(), e.name.end());
        local.insert(local.end(), e.extra.begin(), e.extra.end());
        local.insert(local.end(), e.payload.begin(), e.payload.end());
        put32(central, 0x02014B50);
        put16(central, 0x031E);
        put16(central, 20);
        put16(central, e.flags);
        put16(central, e.method);
        put16(central, 0);
        put16(central, 0x21);
        put32(central, crc);
        put32(central, csize);
        put32(central, usize);
        put16(central, static_cast<uint16_t>(e.name.size()));
        put16(central, static_cast<uint16_t>(e.extra.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, e.externalAttributes);
        put32(central, offset);
        central.insert(central.end(), e.name.begin(), e.name.end());
        central.insert(central.end(), e.extra.begin(), e.extra.end());
    }
    std::vector<uint8_t> out = local;
    uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    if (zip64Locator) {
        put32(out, 0x07064B50);
        put32(out, 0);
        put32(out, 0);
        put32(out, 0);
        put32(out, 1);
    }
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint16_t>(entries.size()));
    put16(out, static_cast<uint16_t>(entries.size()));
    put32(out, static_cast<uint32_t>(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

// Every regular file below root, by relative path, with its content.
inline std::map<std::string, std::vector<uint8_t>> treeContents(const std::filesystem::path& root) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (auto it = std::filesystem::recursive_directory_iterator(root); it != std::filesystem::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) out[std::filesystem::relative(it->path(), root).string()] = testing::readFile(it->path());
    return out;
}

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool underAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool underAddressSanitizer = true;
#else
inline constexpr bool underAddressSanitizer = false;
#endif
#else
inline constexpr bool underAddressSanitizer = false;
#endif

// Runs body in a child process and returns how far its resident memory rose above what it
// started with, in bytes; -1 when body threw or the child failed.
inline long long peakMemoryGrowth(const std::function<bool()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        long long growth = -1;
        try {
            if (body()) {
                rusage after{};
                getrusage(RUSAGE_SELF, &after);
                growth = (after.ru_maxrss - before.ru_maxrss) * 1024LL;
            }
        } catch (...) {
        }
        if (write(fds[1], &growth, sizeof growth) != sizeof growth) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    long long growth = -1;
    if (read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return growth;
}

// A ustar header as another tool would write it, with the checksum filled in.
inline std::vector<uint8_t> tarHeader(const std::string& name, char type, const std::string& sizeField, const std::string& prefix = {}) {
    std::vector<uint8_t> h(512, 0);
    std::memcpy(h.data(), name.data(), std::min<size_t>(name.size(), 100));
    std::memcpy(h.data() + 100, "0000644", 7);
    std::memcpy(h.data() + 124, sizeField.data(), std::min<size_t>(sizeField.size(), 12));
    h[156] = static_cast<uint8_t>(type);
    std::memcpy(h.data() + 257, "ustar\0" "00", 8);
    std::memcpy(h.data() + 345, prefix.data(), std::min<size_t>(prefix.size(), 155));
    std::memset(h.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (uint8_t b : h) sum += b;
    snprintf(reinterpret_cast<char*>(h.data() + 148), 8, "%06o", sum);
    h[155] = ' ';
    return h;
}

inline std::string octal(uint64_t n) {
    char buf[16];
    snprintf(buf, sizeof buf, "%011llo", static_cast<unsigned long long>(n));
    return buf;
}

}  // namespace calvoro::archive_testing
