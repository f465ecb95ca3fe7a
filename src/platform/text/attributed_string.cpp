#include "platform/text/attributed_string.h"

#include <algorithm>

namespace calvoro::text {

Font systemFont(double pointSize) {
    Font f;
    f.pointSize = pointSize;
    f.family = systemFontFamily;
    return f;
}

Font monospacedSystemFont(double pointSize) {
    Font f;
    f.pointSize = pointSize;
    f.monospace = true;
    f.family = monospacedFontFamily;
    return f;
}

AttributedString AttributedString::plain(std::string_view utf8, const Attributes& attributes) {
    AttributedString s;
    s.append(utf8, attributes);
    return s;
}

void AttributedString::append(std::string_view utf8, const Attributes& attributes) {
    append(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())), attributes);
}

void AttributedString::append(const QString& characters, const Attributes& attributes) {
    if (characters.isEmpty()) return;
    int location = length();
    characters_.append(characters);
    if (!runs_.empty() && runs_.back().attributes == attributes) {
        runs_.back().length += static_cast<int>(characters.size());
    } else {
        runs_.push_back(Run{location, static_cast<int>(characters.size()), attributes});
    }
}

std::string AttributedString::plainText() const {
    return characters_.toStdString();
}

std::vector<Run> AttributedString::runs(int location, int len) const {
    std::vector<Run> out;
    int end = location + len;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), location, [](int pos, const Run& r) { return pos < r.location + r.length; });
    for (; it != runs_.end() && it->location < end; ++it) {
        int s = std::max(it->location, location), e = std::min(it->location + it->length, end);
        if (e > s) out.push_back(Run{s, e - s, it->attributes});
    }
    return out;
}

const Attributes* AttributedString::attributesAt(int position) const {
    if (position < 0 || position >= length()) return nullptr;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), position, [](int pos, const Run& r) { return pos < r.location + r.length; });
    return it == runs_.end() ? nullptr : &it->attributes;
}

}  // namespace calvoro::text
