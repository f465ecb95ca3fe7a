#pragma once

#include <string>
#include <string_view>

namespace calvoro {

// Whether text contains query ignoring case, with the case rules of the user's locale
// (Turkish and Azeri dotted and dotless i included).
bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query);

// The same in two steps, for texts searched again and again: each text folded once, then
// compared as folded (UTF-16) text. localizedCaseInsensitiveContains(text, query) is
// !query.empty() && foldedContains(localizedSearchFold(text), localizedSearchFold(query)).
std::u16string localizedSearchFold(std::string_view text);
inline bool foldedContains(std::u16string_view folded, std::u16string_view foldedQuery) {
    return folded.find(foldedQuery) != std::u16string_view::npos;
}

}  // namespace calvoro
