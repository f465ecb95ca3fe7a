#include "converters/document/xhtml_presentation.h"

#include <cstdlib>

namespace calvoro::DocumentConverter::detail {

namespace {

using web::html::attribute;

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHex(char c) { return isDigit(c) || (lowered(c) >= 'a' && lowered(c) <= 'f'); }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r' || s.front() == '\f'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r' || s.back() == '\f'))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowered(c);
    return out;
}

std::string value(const GumboNode& e, std::string_view name) {
    const char* v = attribute(e, name);
    return v ? lower(trimmed(v)) : std::string();
}

void add(std::string& css, std::string_view declaration) {
    if (!css.empty()) css += ';';
    css += declaration;
}

std::optional<int> pixels(std::string_view v) {
    v = trimmed(v);
    if (v.empty() || v.size() > 6) return std::nullopt;
    int n = 0;
    for (char c : v) {
        if (!isDigit(c)) return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

// font size="1".."7", or relative "+1", "-2" to the base size 3.
std::optional<std::string> fontSize(std::string_view v) {
    static const char* sizes[] = {"x-small", "small", "medium", "large", "x-large", "xx-large", "3em"};
    v = trimmed(v);
    int sign = 0;
    if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
        sign = v[0] == '+' ? 1 : -1;
        v.remove_prefix(1);
    }
    auto n = pixels(v);
    if (!n) return std::nullopt;
    int size = sign == 0 ? *n : 3 + sign * *n;
    size = size < 1 ? 1 : size > 7 ? 7 : size;
    return sizes[size - 1];
}

// font face="Arial, Helvetica": each name quoted, with nothing in it that could end the string.
std::optional<std::string> fontFamilies(std::string_view v) {
    std::string out;
    size_t start = 0;
    while (start <= v.size()) {
        size_t comma = v.find(',', start);
        std::string_view part = trimmed(v.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        std::string name;
        for (char c : part)
            if (c != '\'' && c != '"' && c != '\\' && c != ';' && c != '{' && c != '}' && c != '<' && c != '>') name += c;
        if (!name.empty()) out += (out.empty() ? "'" : ",'") + name + "'";
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::optional<std::string> listStyle(std::string_view v) {
    if (v == "1") return "decimal";
    if (v == "a") return "lower-alpha";
    if (v == "A") return "upper-alpha";
    if (v == "i") return "lower-roman";
    if (v == "I") return "upper-roman";
    std::string l = lower(v);
    if (l == "disc" || l == "circle" || l == "square" || l == "none") return l;
    return std::nullopt;
}

bool isOneOf(std::string_view v, std::initializer_list<std::string_view> options) {
    for (auto o : options)
        if (v == o) return true;
    return false;
}

}  // namespace

std::optional<std::string> cssLength(std::string_view v) {
    v = trimmed(v);
    if (v.size() > 2 && v.substr(v.size() - 2) == "px") v.remove_suffix(2);
    bool percent = !v.empty() && v.back() == '%';
    if (percent) v.remove_suffix(1);
    if (v.empty() || v.size() > 10) return std::nullopt;
    bool dot = false;
    for (char c : v) {
        if (c == '.' && !dot) {
            dot = true;
            continue;
        }
        if (!isDigit(c)) return std::nullopt;
    }
    if (v.front() == '.' || v.back() == '.') return std::nullopt;
    return std::string(v) + (percent ? "%" : "px");
}

std::optional<std::string> cssColor(std::string_view v) {
    v = trimmed(v);
    if (!v.empty() && v[0] == '#') v.remove_prefix(1);
    bool hex = (v.size() == 3 || v.size() == 6);
    for (char c : v) hex = hex && isHex(c);
    if (hex) return "#" + lower(v);
    if (v.empty() || v.size() > 30) return std::nullopt;
    for (char c : v)
        if (!isLetter(c)) return std::nullopt;
    return lower(v);
}

std::string presentationalStyle(const GumboNode& e) {
    std::string css;
    const std::string tag = web::html::tagName(e);
    const bool table = tag == "table";
    const bool cell = tag == "td" || tag == "th";
    const std::string align = value(e, "align");
    if (!align.empty()) {
        if (table || tag == "hr") {
            if (align == "center") add(css, "margin-left:auto;margin-right:auto");
            else if (align == "left" || align == "right") add(css, table ? "float:" + align : "margin-" + std::string(align == "left" ? "right" : "left") + ":auto");
        } else if (tag == "caption") {
            if (align == "top" || align == "bottom") add(css, "caption-side:" + align);
        } else if (isOneOf(align, {"left", "right", "center", "justify"})) {
            add(css, "text-align:" + align);
        }
    }
    const std::string valign = value(e, "valign");
    if (isOneOf(valign, {"top", "middle", "bottom", "baseline"})) add(css, "vertical-align:" + valign);
    if (table || cell || tag == "col" || tag == "colgroup" || tag == "hr" || tag == "tr") {
        if (const char* w = attribute(e, "width"); w && tag != "tr")
            if (auto l = cssLength(w)) add(css, "width:" + *l);
        if (const char* h = attribute(e, "height"))
            if (auto l = cssLength(h)) add(css, "height:" + *l);
    }
    if (table || cell || tag == "tr" || tag == "thead" || tag == "tbody" || tag == "tfoot")
        if (const char* c = attribute(e, "bgcolor"))
            if (auto color = cssColor(c)) add(css, "background-color:" + *color);
    if (table) {
        if (auto b = pixels(value(e, "border")); b && *b > 0) add(css, "border:" + std::to_string(*b) + "px outset");
        if (auto s = pixels(value(e, "cellspacing"))) add(css, "border-spacing:" + std::to_string(*s) + "px");
    }
    if (cell && attribute(e, "nowrap")) add(css, "white-space:nowrap");
    if (tag == "hr") {
        if (auto s = pixels(value(e, "size")); s && *s > 0) add(css, "height:" + std::to_string(*s) + "px");
    }
    if (tag == "br") {
        const std::string clear = value(e, "clear");
        if (clear == "all" || clear == "both") add(css, "clear:both");
        else if (clear == "left" || clear == "right") add(css, "clear:" + clear);
    }
    if (tag == "ul" || tag == "ol" || tag == "li") {
        if (const char* t = attribute(e, "type"))
            if (auto s = listStyle(trimmed(t))) add(css, "list-style-type:" + *s);
    }
    if (tag == "font" || tag == "basefont") {
        if (const char* c = attribute(e, "color"))
            if (auto color = cssColor(c)) add(css, "color:" + *color);
        if (const char* f = attribute(e, "face"))
            if (auto families = fontFamilies(f)) add(css, "font-family:" + *families);
        if (const char* s = attribute(e, "size"))
            if (auto size = fontSize(s)) add(css, "font-size:" + *size);
    }
    return css;
}

std::string cellStyleOf(const GumboNode& table) {
    std::string css;
    if (auto p = pixels(value(table, "cellpadding"))) add(css, "padding:" + std::to_string(*p) + "px");
    if (auto b = pixels(value(table, "border")); b && *b > 0) add(css, "border:1px inset");
    return css;
}

std::optional<std::string> outsideLink(std::string_view href) {
    href = trimmed(href);
    const std::string l = lower(href.substr(0, 8));
    const bool web = l.rfind("http://", 0) == 0 || l.rfind("https://", 0) == 0;
    if (!web && l.rfind("mailto:", 0) != 0) return std::nullopt;
    // A web link needs a host.
    if (web && href.size() <= href.find("//") + 2) return std::nullopt;
    static const char* hexDigits = "0123456789ABCDEF";
    std::string out;
    bool fragment = false;
    for (size_t i = 0; i < href.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(href[i]);
        bool escape = c <= 0x20 || c >= 0x7F || std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos;
        if (c == '%' && !(i + 2 < href.size() && isHex(href[i + 1]) && isHex(href[i + 2]))) escape = true;
        if (c == '#') {
            escape = fragment;
            fragment = true;
        }
        if (escape) {
            out += '%';
            out += hexDigits[c >> 4];
            out += hexDigits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool isLanguageTag(std::string_view v) {
    size_t start = 0;
    bool first = true;
    while (start <= v.size()) {
        size_t dash = v.find('-', start);
        std::string_view part = v.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start);
        if (part.empty() || part.size() > 8) return false;
        for (char c : part)
            if (!(isLetter(c) || (!first && isDigit(c)))) return false;
        if (first && part.size() < 2) return false;
        first = false;
        if (dash == std::string_view::npos) return true;
        start = dash + 1;
    }
    return false;
}

std::string idName(std::string_view v) {
    std::string out;
    for (char c : v) out += (isLetter(c) || isDigit(c) || c == '-' || c == '_' || c == '.') ? c : '_';
    if (out.empty() || !(isLetter(out[0]) || out[0] == '_')) out.insert(0, "_");
    return out;
}

std::string percentDecoded(std::string_view v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && isHex(v[i + 1]) && isHex(v[i + 2])) {
            out += static_cast<char>(std::strtol(std::string(v.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

}  // namespace calvoro::DocumentConverter::detail
