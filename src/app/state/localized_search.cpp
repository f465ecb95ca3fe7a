#include "app/state/localized_search.h"

#include <QLocale>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace calvoro {
namespace {

uint32_t foldOptions() {
    static const uint32_t options = [] {
        const auto language = QLocale().language();
        return language == QLocale::Turkish || language == QLocale::Azerbaijani ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                                                : U_FOLD_CASE_DEFAULT;
    }();
    return options;
}

}  // namespace

std::u16string localizedSearchFold(std::string_view text) {
    // Malformed UTF-8 becomes U+FFFD, so the result is well-formed UTF-16: a match of one folded
    // text in another always starts and ends on whole characters.
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    s.foldCase(foldOptions());
    return std::u16string(s.getBuffer(), static_cast<size_t>(s.length()));
}

bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query) {
    if (query.empty()) return false;
    return foldedContains(localizedSearchFold(text), localizedSearchFold(query));
}

}  // namespace calvoro
