#include "core/uuid.h"

#include <cstdio>
#include <random>
#include <sys/random.h>

namespace calvoro {

Uuid::Uuid() {
    size_t got = 0;
    while (got < bytes_.size()) {
        ssize_t n = getrandom(bytes_.data() + got, bytes_.size() - got, 0);
        if (n <= 0) {
            std::random_device rd;
            for (auto& b : bytes_) b = static_cast<uint8_t>(rd());
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes_[6] = static_cast<uint8_t>((bytes_[6] & 0x0F) | 0x40);
    bytes_[8] = static_cast<uint8_t>((bytes_[8] & 0x3F) | 0x80);
}

std::optional<Uuid> Uuid::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> b{};
    size_t bi = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = hex(text[i]), lo = hex(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        b[bi++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return Uuid(b);
}

std::string Uuid::uuidString() const {
    char buf[37];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes_[0],
                  bytes_[1], bytes_[2], bytes_[3], bytes_[4], bytes_[5], bytes_[6], bytes_[7], bytes_[8], bytes_[9],
                  bytes_[10], bytes_[11], bytes_[12], bytes_[13], bytes_[14], bytes_[15]);
    return buf;
}

}  // namespace calvoro
