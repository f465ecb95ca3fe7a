#pragma once

#include <optional>
#include <string>

#include "core/uuid.h"

namespace calvoro {

// A short notice over the window; each one made has its own id.
struct Toast {
    enum class Kind { success, warning, error };

    Uuid id;
    Kind kind = Kind::success;
    std::string title;
    std::optional<std::string> detail;

    Toast() = default;
    Toast(Kind kind, std::string title, std::optional<std::string> detail = std::nullopt)
        : kind(kind), title(std::move(title)), detail(std::move(detail)) {}

    // Seconds on screen: 1.5 + 0.28 per blank-separated word of title and detail, within 2.4...8.
    double displayDuration() const;

    friend bool operator==(const Toast&, const Toast&) = default;
};

}  // namespace calvoro
