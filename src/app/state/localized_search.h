#pragma once

#include <string>
#include <string_view>

namespace calvoro {

// Whether text contains query ignoring case, with the case rules of the user's locale
// (Turkish and Azeri dotted and dotless i included).
bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query);

}  // namespace calvoro
