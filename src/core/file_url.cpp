#include "core/file_url.h"

#include <algorithm>
#include <cctype>

#include "core/utf8.h"

namespace calvoro {

std::string fileURL(const std::filesystem::path& path) {
    // What the desktop's own file URLs keep as it is.
    static constexpr std::string_view kept = "-._~!$&'()*+,;=:@/";
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : path.string()) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || kept.find(ch) != kept.npos;
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> decodedPercentEscapes(std::string_view text) {
    auto hexValue = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

namespace {

// Schemes and hosts are compared without regard to ASCII letter case.
bool equalIgnoringASCIICase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::filesystem::path> pathFromFileURL(std::string_view url) {
    if (!equalIgnoringASCIICase(url.substr(0, 5), "file:")) return std::nullopt;
    std::string_view rest = url.substr(5);
    if (rest.find_first_of("?#") != std::string_view::npos) return std::nullopt;
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !equalIgnoringASCIICase(host, "localhost")) return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest[0] != '/') return std::nullopt;
    auto bytes = decodedPercentEscapes(rest);
    if (!bytes) return std::nullopt;
    return std::filesystem::path(std::move(*bytes));
}

std::string pathKey(const std::filesystem::path& path) {
    return isValidUTF8(path.native()) ? path.native() : fileURL(path);
}

}  // namespace calvoro
