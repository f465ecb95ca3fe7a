#include "core/handoff_url.h"

namespace calvoro::HandoffURL {

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

std::string withSource(std::string_view host, std::string_view sourcePath) {
    std::string url;
    url.reserve(scheme.size() + host.size() + sourcePath.size() * 3 + 32);
    url.append(scheme).append("://").append(host).append("?src=").append(percentEncode(sourcePath));
    return url;
}

}  // namespace

std::string percentEncode(std::string_view value) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c) || c == '/') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

std::optional<std::string> convert(std::string_view sourcePath, std::string_view formatRawValue) {
    if (sourcePath.empty() || sourcePath.front() != '/') return std::nullopt;
    return withSource("convert", sourcePath).append("&fmt=").append(percentEncode(formatRawValue));
}

std::optional<std::string> compress(std::string_view sourcePath, std::optional<std::string_view> level, bool choose) {
    if (sourcePath.empty() || sourcePath.front() != '/') return std::nullopt;
    std::string url = withSource("compress", sourcePath);
    if (level) url.append("&level=").append(percentEncode(*level));
    if (choose) url.append("&choose=1");
    return url;
}

}  // namespace calvoro::HandoffURL
