#pragma once

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace calvoro {

// The id of a request read from the start of a frame too large to hold: the members are read
// in order until one runs past the end of start. A request names a string "method" and an
// "id" (a string, a number or null) among them; anything else, a client's response included,
// gives nothing.
std::optional<nlohmann::ordered_json> requestIdAtFrameStart(std::string_view start);

}  // namespace calvoro
