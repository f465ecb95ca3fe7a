#include "platform/web/html_nesting.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace calvoro::web::html {

namespace {

bool isLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool among(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isVoid(std::string_view name) {
    return among(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img", "input",
                        "keygen", "link", "meta", "param", "source", "track", "wbr", "html", "head", "body"});
}

// Elements whose content is text up to their own end tag: they hold no elements.
bool holdsRawText(std::string_view name) {
    return among(name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

bool closesParagraph(std::string_view name) {
    return among(name, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl",
                        "fieldset", "figcaption", "figure", "footer", "form", "h1", "h2", "h3", "h4", "h5", "h6", "header",
                        "hgroup", "hr", "main", "menu", "nav", "ol", "p", "pre", "section", "summary", "table", "ul",
                        "li", "dd", "dt", "listing", "search"});
}

// Elements that stand apart from the text around them: on lines of their own, or side by side.
bool standsApart(std::string_view name) {
    return closesParagraph(name) || among(name, {"tr", "td", "th", "caption", "thead", "tbody", "tfoot", "legend", "option",
                                                 "optgroup"});
}

// Where the search for an element to close stops.
bool isScopeBoundary(std::string_view name) {
    return among(name, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template", "button", "svg",
                        "math"});
}

struct Tag {
    std::string name;
    size_t end = 0;  // one past the '>'
    bool isEnd = false;
    bool selfClosing = false;
};

// The tag that starts at text[at] == '<', or nothing when the '<' is text.
std::optional<Tag> readTag(std::string_view text, size_t at) {
    Tag tag;
    size_t i = at + 1;
    if (i < text.size() && text[i] == '/') {
        tag.isEnd = true;
        ++i;
    }
    if (i >= text.size() || !isLetter(text[i])) return std::nullopt;
    while (i < text.size() && !isSpace(text[i]) && text[i] != '/' && text[i] != '>') tag.name += lowered(text[i++]);
    while (i < text.size() && text[i] != '>') {
        if (text[i] == '=') {
            ++i;
            while (i < text.size() && isSpace(text[i])) ++i;
            if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
                size_t close = text.find(text[i], i + 1);
                i = close == std::string_view::npos ? text.size() : close + 1;
            }
            continue;
        }
        tag.selfClosing = text[i] == '/' && i + 1 < text.size() && text[i + 1] == '>';
        ++i;
    }
    tag.end = std::min(i + 1, text.size());
    return tag;
}

// Where the end tag of a raw-text element starts, or the end of the text.
size_t rawTextEnd(std::string_view text, size_t from, std::string_view name) {
    for (size_t i = text.find("</", from); i != std::string_view::npos; i = text.find("</", i + 2)) {
        size_t after = i + 2 + name.size();
        if (after > text.size()) break;
        bool same = true;
        for (size_t k = 0; k < name.size() && same; ++k) same = lowered(text[i + 2 + k]) == name[k];
        if (same && (after == text.size() || isSpace(text[after]) || text[after] == '/' || text[after] == '>')) return i;
    }
    return text.size();
}

class Nesting {
public:
    explicit Nesting(size_t maxDepth) : maxDepth_(maxDepth) {}

    // Whether the start tag stays in the page.
    bool open(const Tag& tag) {
        if (isVoid(tag.name) || (tag.selfClosing && foreign_ > 0)) return true;
        uint32_t id = idOf(tag.name);
        if (dropped_.empty()) closeImplied(tag.name);
        if (!dropped_.empty() || kept_.size() >= maxDepth_) {
            dropped_.push_back(id);
            ++droppedCount_[id];
            return false;
        }
        kept_.push_back(id);
        if (tag.name == "svg" || tag.name == "math") ++foreign_;
        return true;
    }

    // Whether the end tag stays in the page.
    bool close(const std::string& name) {
        auto found = ids_.find(name);
        if (found == ids_.end()) return true;
        uint32_t id = found->second;
        if (droppedCount_[id] > 0) {
            // Popping pays for the search: each entry is searched past once.
            while (dropped_.back() != id) pop(dropped_);
            pop(dropped_);
            return false;
        }
        auto it = std::find(kept_.rbegin(), kept_.rend(), id);
        if (it == kept_.rend()) return true;
        while (!dropped_.empty()) pop(dropped_);
        kept_.resize(kept_.size() - static_cast<size_t>(it - kept_.rbegin()) - 1);
        recountForeign();
        return true;
    }

private:
    uint32_t idOf(const std::string& name) {
        auto [it, added] = ids_.emplace(name, static_cast<uint32_t>(names_.size()));
        if (added) {
            names_.push_back(name);
            droppedCount_.push_back(0);
        }
        return it->second;
    }

    void pop(std::vector<uint32_t>& stack) {
        if (&stack == &dropped_) --droppedCount_[stack.back()];
        stack.pop_back();
    }

    // Closes the open element of one of the names, searching down to a boundary.
    void closeNearest(std::initializer_list<std::string_view> names, std::initializer_list<std::string_view> stops) {
        for (size_t i = kept_.size(); i-- > 0;) {
            std::string_view open = names_[kept_[i]];
            if (among(open, names)) {
                kept_.resize(i);
                recountForeign();
                return;
            }
            if (isScopeBoundary(open) || among(open, stops)) return;
        }
    }

    // The elements a start tag closes by itself, as the parser closes them.
    void closeImplied(std::string_view name) {
        if (closesParagraph(name)) closeNearest({"p"}, {});
        if (name == "li") closeNearest({"li"}, {"ul", "ol", "menu", "dir"});
        if (name == "dd" || name == "dt") closeNearest({"dd", "dt"}, {"dl"});
        const bool section = name == "thead" || name == "tbody" || name == "tfoot";
        if (name == "td" || name == "th" || name == "tr" || section) closeNearest({"td", "th"}, {"tr"});
        if (name == "tr" || section) closeNearest({"tr"}, {"thead", "tbody", "tfoot"});
        if (section) closeNearest({"thead", "tbody", "tfoot"}, {});
        if (name == "rb" || name == "rt" || name == "rp" || name == "rtc") closeNearest({"rb", "rt", "rp", "rtc"}, {"ruby"});
        if (name == "a" || name == "nobr" || name == "button" || name == "form") closeNearest({name}, {});
        if (!kept_.empty() && (name == "option" || name == "optgroup") && names_[kept_.back()] == "option") kept_.pop_back();
        if (!kept_.empty() && name == "optgroup" && names_[kept_.back()] == "optgroup") kept_.pop_back();
        if (!kept_.empty() && name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
            std::string_view open = names_[kept_.back()];
            if (open.size() == 2 && open[0] == 'h' && open[1] >= '1' && open[1] <= '6') kept_.pop_back();
        }
    }

    void recountForeign() {
        foreign_ = std::count_if(kept_.begin(), kept_.end(), [&](uint32_t id) { return names_[id] == "svg" || names_[id] == "math"; });
    }

    size_t maxDepth_;
    std::unordered_map<std::string, uint32_t> ids_;
    std::vector<std::string> names_;
    std::vector<size_t> droppedCount_;
    std::vector<uint32_t> kept_;     // open elements the page keeps, outermost first
    std::vector<uint32_t> dropped_;  // open elements left out, inside the last kept one
    std::ptrdiff_t foreign_ = 0;
};

// Calls visit(at, tag) for each tag of the page in order, past comments, declarations and the
// text of raw-text elements, until visit returns false.
template <typename Visit>
void forEachTag(std::string_view text, Visit visit) {
    size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        if (text.compare(i, 4, "<!--") == 0) {
            size_t end = text.find("-->", i + 4);
            i = end == std::string_view::npos ? text.size() : end + 3;
            continue;
        }
        if (i + 1 < text.size() && (text[i + 1] == '!' || text[i + 1] == '?')) {
            size_t end = text.find('>', i);
            i = end == std::string_view::npos ? text.size() : end + 1;
            continue;
        }
        auto tag = readTag(text, i);
        if (!tag) {
            ++i;
            continue;
        }
        if (!visit(i, *tag)) return;
        i = tag->end;
        if (!tag->isEnd && holdsRawText(tag->name)) i = rawTextEnd(text, i, tag->name);
    }
}

}  // namespace

std::string boundedNesting(std::string html, size_t maxDepth) {
    if (static_cast<size_t>(std::count(html.begin(), html.end(), '<')) <= maxDepth) return html;
    const std::string_view text = html;
    Nesting nesting(maxDepth);
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;  // text before this is in out, or left out
    forEachTag(text, [&](size_t at, const Tag& tag) {
        if (tag.name == "plaintext" && !tag.isEnd) return false;  // the rest of the page is text
        bool keep = tag.isEnd ? nesting.close(tag.name) : (holdsRawText(tag.name) || nesting.open(tag));
        // The text of a block left out runs on in the paragraph around it, its words still apart
        // from those of the next: on lines of their own, a page of nested one-line blocks would
        // print to thousands of pages, and as one word it would run off the page's edge.
        if (!keep) {
            out.append(text, copied, at - copied);
            out += standsApart(tag.name) ? " " : "";
            copied = tag.end;
        }
        return true;
    });
    out.append(text, copied, std::string_view::npos);
    return out;
}

size_t blockCount(std::string_view html) {
    size_t blocks = 0;
    forEachTag(html, [&](size_t, const Tag& tag) {
        if (!tag.isEnd && standsApart(tag.name)) ++blocks;
        return tag.name != "plaintext" || tag.isEnd;
    });
    return blocks;
}

}  // namespace calvoro::web::html
