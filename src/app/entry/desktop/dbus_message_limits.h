#pragma once

#include <cstdint>

namespace calvoro {

// What one D-Bus message may carry. libdbus aborts the whole program when asked to build a
// larger one, so a reply is measured before it is built.
struct DBusMessageLimits {
    std::uint64_t maxArrayBytes = std::uint64_t{64} << 20;     // DBUS_MAXIMUM_ARRAY_LENGTH
    std::uint64_t maxMessageBytes = std::uint64_t{128} << 20;  // DBUS_MAXIMUM_MESSAGE_LENGTH

    // A message whose body is one string of stringBytes and one byte array of arrayBytes.
    bool fits(std::uint64_t stringBytes, std::uint64_t arrayBytes) const {
        return arrayBytes <= largestArray(stringBytes);
    }

    // The largest byte array that fits beside a string of stringBytes.
    std::uint64_t largestArray(std::uint64_t stringBytes) const {
        // The header (names, path, serials, signature) stays well below this; the body holds the
        // string's length, bytes and NUL, up to 3 bytes of padding and the array's length.
        constexpr std::uint64_t headerAllowance = 4096;
        const std::uint64_t body = headerAllowance + 4 + stringBytes + 1 + 3 + 4;
        if (body >= maxMessageBytes) return 0;
        const std::uint64_t room = maxMessageBytes - body;
        return room < maxArrayBytes ? room : maxArrayBytes;
    }
};

}  // namespace calvoro
