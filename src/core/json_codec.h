#pragma once

// JSON that carries file names byte for byte.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace calvoro {

// JSON whose strings may hold bytes that are not UTF-8, as file names can: each such byte is
// written as a lone low-surrogate escape, \udc80 to \udcff, and that escape reads back as the
// byte. Everything else is the usual JSON. Writing never throws.
std::string dumpJSON(const nlohmann::ordered_json& value, int indent = -1);
// Nothing when text is not one JSON value (or nests deeper than maxDepth); a lone surrogate
// outside \udc80 to \udcff names no byte and is refused too.
std::optional<nlohmann::ordered_json> parseJSON(std::string_view text, int maxDepth = 256);

}  // namespace calvoro
