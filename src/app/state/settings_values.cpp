#include "app/state/settings_values.h"

#include <cmath>

namespace calvoro::settings {

std::optional<double> exactDouble(const SettingsStore::Value& value) {
    if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
    if (value.is_number_float()) return value.get<double>();
    if (value.is_number_integer()) {
        // Integers beyond 2^53 do not all have a Double.
        if (value.is_number_unsigned()) {
            const uint64_t v = value.get<uint64_t>();
            const double d = static_cast<double>(v);
            if (d >= 18446744073709551616.0 || static_cast<uint64_t>(d) != v) return std::nullopt;
            return d;
        }
        const int64_t v = value.get<int64_t>();
        const double d = static_cast<double>(v);
        if (d >= 9223372036854775808.0 || static_cast<int64_t>(d) != v) return std::nullopt;
        return d;
    }
    return std::nullopt;
}

std::optional<int64_t> exactInteger(const SettingsStore::Value& value) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

std::optional<bool> exactBool(const SettingsStore::Value& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number()) {
        const double d = value.get<double>();
        if (d == 0) return false;
        if (d == 1) return true;
    }
    return std::nullopt;
}

}  // namespace calvoro::settings
