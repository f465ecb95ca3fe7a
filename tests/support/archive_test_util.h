#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace calvoro::archive_testing {

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
};

// A ZIP file built by hand, so that tests can say exactly what a hostile archive claims.
inline std::vector<uint8_t> rawZip(const std::vector<RawEntry>& entries, bool zip64Locator = false) {
    std::vector<uint8_t> local, central;
    for (const auto& e : entries) {
        uint32_t csize = e.compressedSize == 0xFFFFFFFEu ? static_cast<uint32_t>(e.payload.size()) : e.compressedSize;
        uint32_t usize = e.uncompressedSize == 0xFFFFFFFEu ? static_cast<uint32_t>(e.payload.size()) : e.uncompressedSize;
        uint32_t offset = static_cast<uint32_t>(local.size());
        put32(local, e.badLocalSignature ? 0x12345678 : 0x04034B50);
        put16(local, 20);
        put16(local, e.flags);
        put16(local, e.method);
        put16(local, 0);
        put16(local, 0x21);
        put32(local, 0);
        put32(local, csize);
        put32(local, usize);
        put16(local, static_cast<uint16_t>(e.name.size()));
        put16(local, 0);
        local.insert(local.end(), e.name.begin(), e.name.end());
        local.insert(local.end(), e.payload.begin(), e.payload.end());
        put32(central, 0x02014B50);
        put16(central, 0x031E);
        put16(central, 20);
        put16(central, e.flags);
        put16(central, e.method);
        put16(central, 0);
        put16(central, 0x21);
        put32(central, 0);
        put32(central, csize);
        put32(central, usize);
        put16(central, static_cast<uint16_t>(e.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0x81A40000);
        put32(central, offset);
        central.insert(central.end(), e.name.begin(), e.name.end());
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

}  // namespace calvoro::archive_testing
