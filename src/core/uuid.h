#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// A random (version 4) UUID.
class Uuid {
public:
    Uuid();  // a new random UUID
    static std::optional<Uuid> fromString(std::string_view text);

    // Upper-case canonical text, 8-4-4-4-12.
    std::string uuidString() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    explicit Uuid(const std::array<uint8_t, 16>& b) : bytes_(b) {}
    std::array<uint8_t, 16> bytes_{};
};

}  // namespace calvoro

template <>
struct std::hash<calvoro::Uuid> {
    size_t operator()(const calvoro::Uuid& u) const noexcept {
        size_t h = 0;
        for (auto b : u.bytes()) h = h * 131 + b;
        return h;
    }
};
