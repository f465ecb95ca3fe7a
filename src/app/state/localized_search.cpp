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

icu::UnicodeString folded(std::string_view text) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    s.foldCase(foldOptions());
    return s;
}

}  // namespace

bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query) {
    if (query.empty()) return false;
    return folded(text).indexOf(folded(query)) >= 0;
}

}  // namespace calvoro
