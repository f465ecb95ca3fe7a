// Re-serialises an HTML fragment as well-formed XHTML for an EPUB chapter: tags balanced,
// names lower-cased, attributes quoted, void elements closed, entities resolved to
// characters, and what an EPUB without resources cannot hold (scripts, styles, embedded
// media, links to other files) left out. Inline SVG keeps its text, without its drawing.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text_util.h"
#include "converters/image_document_data/document/document_converter.h"
#include "platform/text/xml_text.h"

namespace calvoro::DocumentConverter::detail {

namespace {

const std::map<std::string, char32_t>& namedEntities() {
    static const std::map<std::string, char32_t> table = [] {
        std::map<std::string, char32_t> t{
            {"quot", 34}, {"amp", 38}, {"apos", 39}, {"lt", 60}, {"gt", 62}, {"OElig", 338}, {"oelig", 339}, {"Scaron", 352},
            {"scaron", 353}, {"Yuml", 376}, {"fnof", 402}, {"circ", 710}, {"tilde", 732}, {"ensp", 8194}, {"emsp", 8195},
            {"thinsp", 8201}, {"zwnj", 8204}, {"zwj", 8205}, {"lrm", 8206}, {"rlm", 8207}, {"ndash", 8211}, {"mdash", 8212},
            {"lsquo", 8216}, {"rsquo", 8217}, {"sbquo", 8218}, {"ldquo", 8220}, {"rdquo", 8221}, {"bdquo", 8222},
            {"dagger", 8224}, {"Dagger", 8225}, {"bull", 8226}, {"hellip", 8230}, {"permil", 8240}, {"prime", 8242},
            {"Prime", 8243}, {"lsaquo", 8249}, {"rsaquo", 8250}, {"oline", 8254}, {"frasl", 8260}, {"euro", 8364},
            {"trade", 8482}, {"larr", 8592}, {"uarr", 8593}, {"rarr", 8594}, {"darr", 8595}, {"harr", 8596},
            {"minus", 8722}, {"infin", 8734}, {"ne", 8800}, {"le", 8804}, {"ge", 8805}, {"hearts", 9829},
        };
        // The Latin-1 names, U+00A0 to U+00FF in order.
        const char* latin1[] = {
            "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf", "laquo", "not", "shy",
            "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para", "middot", "cedil", "sup1", "ordm",
            "raquo", "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig",
            "Ccedil", "Egrave", "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve",
            "Oacute", "Ocirc", "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN",
            "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave", "eacute", "ecirc",
            "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve", "oacute", "ocirc", "otilde", "ouml",
            "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml"};
        for (size_t i = 0; i < sizeof latin1 / sizeof *latin1; ++i) t[latin1[i]] = static_cast<char32_t>(0xA0 + i);
        return t;
    }();
    return table;
}

const std::set<std::string> voidElements{"area", "br", "col", "hr", "wbr"};
// Dropped with everything inside them.
const std::set<std::string> droppedElements{"script", "style", "head", "title", "noscript", "iframe", "object", "embed",
                                            "video", "audio", "canvas", "template", "math", "frameset", "frame",
                                            "applet", "select", "textarea", "button"};
// Dropped as tags; their content stays.
const std::set<std::string> droppedTags{"html", "body", "form", "font", "center", "input", "label", "meta", "link", "base",
                                        "img", "source", "track", "param", "picture", "map", "option", "optgroup"};
// Opening one of these ends an open paragraph, as HTML parsers do.
const std::set<std::string> closesParagraph{"address", "article", "aside", "blockquote", "div", "dl", "fieldset", "figure",
                                            "footer", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hr", "main", "nav",
                                            "ol", "p", "pre", "section", "table", "ul", "details", "figcaption", "menu"};

bool allowedInXML(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Text with entities resolved, then escaped for XML (quotes too, for attribute values).
std::string escapedText(std::string_view raw, bool attribute) {
    std::string out;
    out.reserve(raw.size());
    auto put = [&](char32_t c) {
        if (!allowedInXML(c)) return;
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"':
                if (attribute) out += "&quot;";
                else out.push_back('"');
                break;
            default: appendUTF8(c, out);
        }
    };
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c != '&') {
            unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
            if (c == '<' || c == '>' || c == '"') put(static_cast<char32_t>(c));
            else out.push_back(c);
            continue;
        }
        size_t semi = raw.find(';', i + 1);
        if (semi != std::string_view::npos && semi - i <= 12) {
            std::string_view name = raw.substr(i + 1, semi - i - 1);
            if (!name.empty() && name[0] == '#') {
                char32_t value = 0;
                bool hexForm = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
                std::string_view digits = name.substr(hexForm ? 2 : 1);
                bool ok = !digits.empty();
                for (char d : digits) {
                    int v = (d >= '0' && d <= '9') ? d - '0' : hexForm && d >= 'a' && d <= 'f' ? d - 'a' + 10 : hexForm && d >= 'A' && d <= 'F' ? d - 'A' + 10 : -1;
                    if (v < 0 || value > 0x10FFFF) { ok = false; break; }
                    value = value * (hexForm ? 16 : 10) + static_cast<char32_t>(v);
                }
                if (ok) {
                    put(value);
                    i = semi;
                    continue;
                }
            } else {
                auto it = namedEntities().find(std::string(name));
                if (it != namedEntities().end()) {
                    put(it->second);
                    i = semi;
                    continue;
                }
            }
        }
        out += "&amp;";
    }
    // Invalid UTF-8 and the non-characters that the byte loop let through are removed here.
    return text::removingXMLForbiddenCharacters(out);
}

bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':' || c == '.'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

struct Tag {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool end = false;
    bool selfClosing = false;
};

// Parses a tag at text[i] == '<'; returns the position after it, or npos when it is no tag.
size_t parseTag(std::string_view text, size_t i, Tag& tag) {
    size_t p = i + 1;
    if (p < text.size() && text[p] == '/') {
        tag.end = true;
        ++p;
    }
    if (p >= text.size() || !isNameStart(text[p])) return std::string_view::npos;
    size_t nameStart = p;
    while (p < text.size() && isNameChar(text[p])) ++p;
    tag.name = lower(text.substr(nameStart, p - nameStart));
    for (;;) {
        while (p < text.size() && isSpace(text[p])) ++p;
        if (p >= text.size()) return std::string_view::npos;
        if (text[p] == '>') return p + 1;
        if (text[p] == '/') {
            ++p;
            if (p < text.size() && text[p] == '>') {
                tag.selfClosing = true;
                return p + 1;
            }
            continue;
        }
        size_t an = p;
        while (p < text.size() && !isSpace(text[p]) && text[p] != '>' && text[p] != '/' && text[p] != '=') ++p;
        std::string name = lower(text.substr(an, p - an));
        if (name.empty()) {
            ++p;
            continue;
        }
        while (p < text.size() && isSpace(text[p])) ++p;
        std::string value;
        if (p < text.size() && text[p] == '=') {
            ++p;
            while (p < text.size() && isSpace(text[p])) ++p;
            if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
                char q = text[p];
                size_t e = text.find(q, p + 1);
                if (e == std::string_view::npos) return std::string_view::npos;
                value = std::string(text.substr(p + 1, e - p - 1));
                p = e + 1;
            } else {
                size_t vs = p;
                while (p < text.size() && !isSpace(text[p]) && text[p] != '>') ++p;
                value = std::string(text.substr(vs, p - vs));
            }
        }
        tag.attributes.emplace_back(name, value);
    }
}

// Absolute links, and links to an anchor of the same page: a relative one would point at a
// file the book does not hold.
bool keepsLink(const std::string& href, const std::set<std::string>& anchors) {
    if (!href.empty() && href[0] == '#') return anchors.count(href.substr(1)) > 0;
    std::string h = lower(href);
    return h.rfind("http://", 0) == 0 || h.rfind("https://", 0) == 0 || h.rfind("mailto:", 0) == 0;
}

// The ids (and anchor names) the page declares, which its own links may point at.
std::set<std::string> anchorsOf(std::string_view html) {
    std::set<std::string> anchors;
    for (size_t i = html.find('<'); i != std::string_view::npos; i = html.find('<', i + 1)) {
        Tag tag;
        if (parseTag(html, i, tag) == std::string_view::npos || tag.end) continue;
        for (const auto& [name, value] : tag.attributes)
            if (name == "id" || (name == "name" && tag.name == "a")) anchors.insert(value);
    }
    return anchors;
}

bool validAttributeName(const std::string& name) {
    if (name.empty() || !isNameStart(name[0])) return false;
    for (char c : name)
        if (!isNameChar(c) || c == ':') return false;
    // Event handlers would make the book a scripted one.
    return name.rfind("on", 0) != 0 && name != "xmlns";
}

std::string startTag(const Tag& tag, const std::set<std::string>& anchors) {
    std::string out = "<" + tag.name;
    std::set<std::string> seen;
    for (const auto& [name, value] : tag.attributes) {
        if (!validAttributeName(name) || !seen.insert(name).second) continue;
        if ((name == "href" || name == "src") && !keepsLink(value, anchors)) continue;
        out += " " + name + "=\"" + escapedText(value, true) + "\"";
    }
    return out;
}

}  // namespace

std::string toXHTMLFragment(std::string_view html) {
    std::string out;
    out.reserve(html.size() + html.size() / 8);
    std::vector<std::string> open;
    const std::set<std::string> anchors = anchorsOf(html);
    // Inside inline SVG only the text is kept: its elements have no place in XHTML.
    int svgDepth = 0;
    size_t i = 0;
    size_t textStart = 0;
    auto flushText = [&](size_t end) {
        if (end > textStart) out += escapedText(html.substr(textStart, end - textStart), false);
    };
    auto closeUntil = [&](size_t depth) {
        while (open.size() > depth) {
            out += "</" + open.back() + ">";
            open.pop_back();
        }
    };
    while (i < html.size()) {
        if (html[i] != '<') {
            ++i;
            continue;
        }
        if (html.compare(i, 4, "<!--") == 0) {
            flushText(i);
            size_t e = html.find("-->", i + 4);
            i = e == std::string_view::npos ? html.size() : e + 3;
            textStart = i;
            continue;
        }
        if (i + 1 < html.size() && (html[i + 1] == '!' || html[i + 1] == '?')) {
            flushText(i);
            size_t e = html.find('>', i);
            i = e == std::string_view::npos ? html.size() : e + 1;
            textStart = i;
            continue;
        }
        Tag tag;
        size_t after = parseTag(html, i, tag);
        if (after == std::string_view::npos) {
            ++i;  // a lone "<" is text
            continue;
        }
        flushText(i);
        i = after;
        textStart = i;
        if (droppedElements.count(tag.name)) {
            if (!tag.end && !tag.selfClosing) {
                // Skip to the matching end tag (these do not nest in practice).
                std::string needle = "</" + tag.name;
                size_t e = i;
                for (;;) {
                    e = html.find("</", e);
                    if (e == std::string_view::npos) break;
                    if (lower(html.substr(e, needle.size())) == needle) break;
                    e += 2;
                }
                if (e == std::string_view::npos) {
                    i = html.size();
                } else {
                    size_t close = html.find('>', e);
                    i = close == std::string_view::npos ? html.size() : close + 1;
                }
                textStart = i;
            }
            continue;
        }
        if (tag.name == "svg" && !tag.selfClosing) svgDepth = std::max(0, svgDepth + (tag.end ? -1 : 1));
        if (svgDepth > 0 || tag.name == "svg") {
            // Pieces of text placed apart in the drawing stay apart as words.
            if (!out.empty() && !isSpace(out.back())) out.push_back(' ');
            continue;
        }
        // Prefixed names (Word's o:p) would need namespaces the chapter does not declare.
        if (droppedTags.count(tag.name) || tag.name.find(':') != std::string::npos) continue;
        if (tag.end) {
            auto it = std::find(open.rbegin(), open.rend(), tag.name);
            if (it != open.rend()) closeUntil(static_cast<size_t>(open.rend() - it) - 1);
            continue;
        }
        if (closesParagraph.count(tag.name)) {
            auto it = std::find(open.rbegin(), open.rend(), std::string("p"));
            if (it != open.rend()) closeUntil(static_cast<size_t>(open.rend() - it) - 1);
        }
        if (tag.name == "li") {
            for (size_t d = open.size(); d > 0; --d) {
                if (open[d - 1] == "ul" || open[d - 1] == "ol") break;
                if (open[d - 1] == "li") {
                    closeUntil(d - 1);
                    break;
                }
            }
        }
        if (voidElements.count(tag.name)) {
            out += startTag(tag, anchors) + "/>";
        } else if (tag.selfClosing) {
            out += startTag(tag, anchors) + "></" + tag.name + ">";
        } else {
            out += startTag(tag, anchors) + ">";
            open.push_back(tag.name);
        }
    }
    flushText(html.size());
    closeUntil(0);
    return out;
}

}  // namespace calvoro::DocumentConverter::detail
