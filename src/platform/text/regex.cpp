#include "platform/text/regex.h"

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <stdexcept>

namespace calvoro::text {

struct Regex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
};

Regex::Regex(std::string_view pattern, bool caseInsensitive) : impl_(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    auto source = icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    impl_->pattern.reset(icu::RegexPattern::compile(source, caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
    if (U_FAILURE(status)) throw std::invalid_argument("invalid regular expression: " + std::string(pattern));
}

Regex::~Regex() = default;

namespace {
struct UTextCloser {
    void operator()(UText* t) const { utext_close(t); }
};
}  // namespace

void Regex::forEachMatchImpl(std::string_view text, void (*cb)(const Match&, void*), void* ctx) const {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> ut(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<icu::RegexMatcher> matcher(impl_->pattern->matcher(status));
    if (U_FAILURE(status)) return;
    matcher->reset(ut.get());
    int groups = matcher->groupCount();
    Match m;
    m.groups.resize(groups);
    while (matcher->find(status) && U_SUCCESS(status)) {
        m.begin = static_cast<size_t>(matcher->start64(status));
        m.end = static_cast<size_t>(matcher->end64(status));
        for (int g = 1; g <= groups; ++g) {
            int64_t s = matcher->start64(g, status), e = matcher->end64(g, status);
            m.groups[g - 1] = s < 0 ? std::pair<size_t, size_t>{0, 0} : std::pair<size_t, size_t>{size_t(s), size_t(e)};
        }
        cb(m, ctx);
    }
}

std::optional<Regex::Match> Regex::firstMatch(std::string_view text, size_t from) const {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> ut(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<icu::RegexMatcher> matcher(impl_->pattern->matcher(status));
    if (U_FAILURE(status)) return std::nullopt;
    matcher->reset(ut.get());
    if (!matcher->find(static_cast<int64_t>(from), status) || U_FAILURE(status)) return std::nullopt;
    Match m;
    m.begin = static_cast<size_t>(matcher->start64(status));
    m.end = static_cast<size_t>(matcher->end64(status));
    for (int g = 1; g <= matcher->groupCount(); ++g) {
        int64_t s = matcher->start64(g, status), e = matcher->end64(g, status);
        m.groups.push_back(s < 0 ? std::pair<size_t, size_t>{0, 0} : std::pair<size_t, size_t>{size_t(s), size_t(e)});
    }
    return m;
}

std::string Regex::replaceAll(std::string_view text, std::string_view tmpl) const {
    return replaceAllWith(text, [&](std::string_view src, const Match& m) {
        std::string piece;
        for (size_t i = 0; i < tmpl.size(); ++i) {
            char c = tmpl[i];
            if (c == '\\' && i + 1 < tmpl.size()) {
                piece.push_back(tmpl[++i]);
            } else if (c == '$' && i + 1 < tmpl.size() && tmpl[i + 1] >= '0' && tmpl[i + 1] <= '9') {
                size_t g = static_cast<size_t>(tmpl[++i] - '0');
                if (g == 0) piece.append(src.substr(m.begin, m.end - m.begin));
                else if (g <= m.groups.size()) piece.append(src.substr(m.groups[g - 1].first, m.groups[g - 1].second - m.groups[g - 1].first));
            } else {
                piece.push_back(c);
            }
        }
        return piece;
    });
}

}  // namespace calvoro::text
