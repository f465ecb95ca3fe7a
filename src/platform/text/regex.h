#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::text {

// An ICU regular expression over UTF-8 text. Positions are byte offsets into that text.
// "." does not match line ends; "(?m)" switches on multi-line anchors; "+?" is lazy.
class Regex {
public:
    explicit Regex(std::string_view pattern, bool caseInsensitive = false);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    struct Match {
        size_t begin = 0;
        size_t end = 0;
        std::vector<std::pair<size_t, size_t>> groups;  // capture groups 1...n
    };

    std::optional<Match> firstMatch(std::string_view text, size_t from = 0) const;
    bool contains(std::string_view text) const { return firstMatch(text).has_value(); }
    // Replaces every match; "$n" in the template stands for capture group n, "\$" for a dollar.
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;
    // Replaces every match with what the callback makes of the matched text.
    template <typename F>
    std::string replaceAllWith(std::string_view text, F&& make) const {
        std::string out;
        size_t last = 0;
        forEachMatch(text, [&](const Match& m) {
            out.append(text.substr(last, m.begin - last));
            out.append(make(text, m));
            last = m.end;
        });
        out.append(text.substr(last));
        return out;
    }

private:
    void forEachMatchImpl(std::string_view text, void (*cb)(const Match&, void*), void* ctx) const;
    template <typename F>
    void forEachMatch(std::string_view text, F&& f) const {
        forEachMatchImpl(text, [](const Match& m, void* c) { (*static_cast<F*>(c))(m); }, &f);
    }
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace calvoro::text
