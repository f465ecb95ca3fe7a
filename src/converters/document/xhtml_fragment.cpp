// Writes the body of an HTML page, as an HTML5 parser builds it, as the body of an EPUB 3
// chapter: well-formed XHTML in the content model EPUB readers check. Nothing of the body's
// text is lost: what the content model has no place for becomes a div or a span holding the
// same text, presentational attributes become inline CSS, and links that would lead out of the
// book to a file it does not hold, or to an anchor the chapter lacks, become plain text.
// Scripts, styles, templates and embedded media (the book holds no resources) are left out.
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "converters/document/document_converter.h"
#include "converters/document/xhtml_presentation.h"
#include "platform/text/xml_text.h"
#include "platform/web/html_tree.h"

namespace calvoro::DocumentConverter::detail {

namespace {

namespace html = web::html;

enum class Kind {
    drop,         // left out with all it holds
    foreign,      // SVG and MathML: their text only
    phrasing,     // holds phrasing content
    transparent,  // holds what its parent may hold
    link,         // a
    wrapper,      // no place in the chapter: a div or a span, by what it holds
    block,        // holds flow content
    paragraph,    // a block that holds phrasing content
    list,
    item,
    definitions,
    term,
    definition,
    table,
    rows,  // thead, tbody, tfoot, tr, colgroup
    cell,  // td, th, caption
    empty, // br, wbr, hr, col
};

struct Shape {
    Kind kind;
    const char* as = nullptr;  // the name written, when not the element's own
    const char* css = "";      // what the element meant, for a div or span written instead
    bool blockish = false;     // a wrapper that is a block wherever it stands
};

const std::unordered_map<std::string, Shape>& shapes() {
    static const std::unordered_map<std::string, Shape> table = [] {
        std::unordered_map<std::string, Shape> t;
        for (const char* n : {"script", "style", "template", "head", "img", "image", "input", "meta", "link", "base", "basefont",
                              "bgsound", "source", "track", "param", "area", "embed", "keygen", "spacer", "isindex", "frame",
                              "frameset", "nextid", "command", "picture"})
            t[n] = {Kind::drop};
        t["title"] = {Kind::wrapper};  // a title written in the body is shown as text
        for (const char* n : {"svg", "math"}) t[n] = {Kind::foreign};
        for (const char* n : {"abbr", "b", "bdi", "cite", "code", "dfn", "em", "i", "kbd", "mark", "q", "s", "samp", "small", "span",
                              "strong", "sub", "sup", "u", "var"})
            t[n] = {Kind::phrasing};
        t["bdo"] = {Kind::phrasing};
        t["acronym"] = {Kind::phrasing, "abbr"};
        t["tt"] = {Kind::phrasing, "span", "font-family:monospace"};
        t["big"] = {Kind::phrasing, "span", "font-size:larger"};
        t["strike"] = {Kind::phrasing, "span", "text-decoration:line-through"};
        t["nobr"] = {Kind::phrasing, "span", "white-space:nowrap"};
        t["textarea"] = {Kind::phrasing, "span", "white-space:pre-wrap"};
        for (const char* n : {"blink", "ruby", "rb", "rt", "rp", "rtc", "time", "data", "meter", "progress", "output", "label", "button",
                              "select", "option", "optgroup", "datalist"})
            t[n] = {Kind::phrasing, "span"};
        for (const char* n : {"ins", "del"}) t[n] = {Kind::transparent};
        t["a"] = {Kind::link};
        t["center"] = {Kind::wrapper, nullptr, "text-align:center", true};
        t["address"] = {Kind::wrapper, nullptr, "font-style:italic", true};
        for (const char* n : {"main", "hgroup", "search", "dialog", "fieldset", "legend", "details", "summary", "figure", "figcaption",
                              "form", "noframes", "multicol"})
            t[n] = {Kind::wrapper, nullptr, "", true};
        for (const char* n : {"div", "blockquote", "article", "aside", "nav", "section", "header", "footer"}) t[n] = {Kind::block};
        for (const char* n : {"p", "h1", "h2", "h3", "h4", "h5", "h6", "pre"}) t[n] = {Kind::paragraph};
        for (const char* n : {"listing", "xmp", "plaintext"}) t[n] = {Kind::paragraph, "pre"};
        for (const char* n : {"ul", "ol"}) t[n] = {Kind::list};
        for (const char* n : {"dir", "menu"}) t[n] = {Kind::list, "ul"};
        t["li"] = {Kind::item};
        t["dl"] = {Kind::definitions};
        t["dt"] = {Kind::term};
        t["dd"] = {Kind::definition};
        t["table"] = {Kind::table};
        for (const char* n : {"thead", "tbody", "tfoot", "tr", "colgroup"}) t[n] = {Kind::rows};
        for (const char* n : {"td", "th", "caption"}) t[n] = {Kind::cell};
        for (const char* n : {"br", "wbr", "hr", "col"}) t[n] = {Kind::empty};
        return t;
    }();
    return table;
}

Shape shapeOf(const std::string& name) {
    auto it = shapes().find(name);
    return it == shapes().end() ? Shape{Kind::wrapper} : it->second;
}

bool isHTMLElement(const GumboNode& n) { return n.type == GUMBO_NODE_ELEMENT && n.v.element.tag_namespace == GUMBO_NAMESPACE_HTML; }

bool isFlowKind(Kind k) {
    switch (k) {
        case Kind::block:
        case Kind::paragraph:
        case Kind::list:
        case Kind::item:
        case Kind::definitions:
        case Kind::term:
        case Kind::definition:
        case Kind::table:
        case Kind::rows:
        case Kind::cell: return true;
        default: return false;
    }
}

// How a block written as a span inside phrasing content still shows.
const char* displayOf(const std::string& name) {
    if (name == "table") return "display:table";
    if (name == "tr") return "display:table-row";
    if (name == "td" || name == "th") return "display:table-cell";
    if (name == "thead") return "display:table-header-group";
    if (name == "tbody") return "display:table-row-group";
    if (name == "tfoot") return "display:table-footer-group";
    if (name == "caption") return "display:table-caption";
    if (name == "li") return "display:list-item";
    return "display:block";
}

bool isBlank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
    return true;
}

// Digits only, at most `digits` of them.
bool isNumber(std::string_view v, size_t digits) {
    return !v.empty() && v.size() <= digits && v.find_first_not_of("0123456789") == std::string_view::npos;
}

bool isBidiOverride(const GumboNode& n) {
    const char* dir = html::attribute(n, "dir");
    return dir && (std::string_view(dir) == "ltr" || std::string_view(dir) == "rtl");
}

void appendEscaped(std::string& out, std::string_view raw, bool attribute) {
    for (char c : raw) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"':
                if (attribute) out += "&quot;";
                else out += c;
                break;
            default: out += c;
        }
    }
}

// Deeper than browsers nest; below it only the text is written.
constexpr int maxDepth = 400;

struct Context {
    bool phrasing = false;               // only phrasing content may stand here
    Kind parent = Kind::block;           // the structure written around
    const GumboNode* table = nullptr;    // the nearest table, for its cells' padding and border
    bool orderedList = false;
    bool inHeaderOrFooter = false;

    Context with(bool phrasingOnly, Kind parentKind) const {
        Context c = *this;
        c.phrasing = phrasingOnly;
        c.parent = parentKind;
        return c;
    }
};

// How an element is written where it stands: its kind there, the name written and its style.
struct Placed {
    Kind kind;
    std::string as;
    std::string css;
};

// Pieces of a structure found outside it are plain blocks.
bool isOutOfPlace(const GumboNode& n, const std::string& name, Kind kind, const Context& c) {
    return (kind == Kind::item && c.parent != Kind::list) ||
           ((kind == Kind::term || kind == Kind::definition) && c.parent != Kind::definitions) ||
           ((kind == Kind::rows || kind == Kind::cell) && c.parent != Kind::table && c.parent != Kind::rows) ||
           ((name == "header" || name == "footer") && c.inHeaderOrFooter) || (name == "bdo" && !isBidiOverride(n));
}

// An item's number, kept only in an ordered list.
std::string itemAttributes(const GumboNode& n, const Context& c) {
    if (const char* v = html::attribute(n, "value"); v && c.orderedList && isNumber(v, 9)) return std::string(" value=\"") + v + "\"";
    return {};
}

// A cell's spans and, for a header cell, what it heads.
std::string cellAttributes(const GumboNode& n, const std::string& name) {
    std::string extra;
    for (const char* span : {"colspan", "rowspan"})
        if (const char* v = html::attribute(n, span); v && isNumber(v, 3) && std::stoi(v) > 0)
            extra += std::string(" ") + span + "=\"" + v + "\"";
    if (const char* scope = html::attribute(n, "scope"); scope && name == "th") {
        const std::string v = scope;
        if (v == "row" || v == "col" || v == "rowgroup" || v == "colgroup") extra += " scope=\"" + v + "\"";
    }
    return extra;
}

// The context an element's children are written in.
Context contextInside(const GumboNode& n, const std::string& name, const Placed& p, const Context& c) {
    switch (p.kind) {
        case Kind::transparent: return c.with(c.phrasing, Kind::transparent);
        case Kind::phrasing: return c.with(true, Kind::phrasing);
        case Kind::wrapper: return c.with(p.as == "span", Kind::block);
        case Kind::term: return c.with(true, Kind::term);
        case Kind::rows: return c.with(false, Kind::rows);
        case Kind::cell: return c.with(false, Kind::cell);
        case Kind::item: {
            Context inner = c.with(false, Kind::item);
            inner.orderedList = false;
            return inner;
        }
        case Kind::table: {
            Context inner = c.with(false, Kind::table);
            inner.table = &n;
            return inner;
        }
        default: {
            Context inner = c.with(false, Kind::block);
            if (name == "header" || name == "footer") inner.inHeaderOrFooter = true;
            return inner;
        }
    }
}

class ChapterWriter {
public:
    ChapterWriter(const GumboNode& body, const std::set<std::string>& unusable) { collectAnchors(body, unusable); }

    std::string write(const GumboNode& body) {
        children(body, Context{});
        return std::move(out_);
    }
    // Anchors given an id that no written element carries.
    std::set<std::string> unwritten() const {
        std::set<std::string> names;
        for (const auto& [name, id] : anchors_)
            if (!written_.count(id)) names.insert(name);
        return names;
    }

private:
    void collectAnchors(const GumboNode& body, const std::set<std::string>& unusable);
    void children(const GumboNode& n, const Context& c);
    void node(const GumboNode& n, const Context& c);
    void element(const GumboNode& n, const Context& c);
    Placed placed(const GumboNode& n, const std::string& name, const Shape& s, const Context& c);
    void blockInPhrasing(const GumboNode& n, const std::string& name, const std::string& css, const Context& c);
    void elementInPlace(const GumboNode& n, const std::string& name, const Placed& p, const Context& c);
    void emptyElement(const GumboNode& n, const std::string& name, const Placed& p, const Context& c);
    void paragraph(const GumboNode& n, const std::string& as, const Context& c);
    void list(const GumboNode& n, const std::string& as, const Context& c);
    void definitions(const GumboNode& n, const Context& c);
    void link(const GumboNode& n, const Context& c);
    void foreignText(const GumboNode& n);
    void plainText(const GumboNode& n);
    void open(const std::string& as, const GumboNode& n, const std::string& css, const std::string& extra = {}, bool withId = true);
    void close(const std::string& as) { out_ += "</" + as + ">"; }
    bool isBlock(const GumboNode& n, int depth = 0);
    bool holdsBlock(const GumboNode& n, int depth = 0);

    std::string out_;
    std::unordered_map<std::string, std::string> anchors_;  // name in the page -> id in the chapter
    std::unordered_map<const GumboNode*, std::string> ids_;
    std::unordered_set<std::string> written_;
    std::unordered_map<const GumboNode*, bool> holdsBlock_;
    int depth_ = 0;
};

void ChapterWriter::collectAnchors(const GumboNode& body, const std::set<std::string>& unusable) {
    std::unordered_set<std::string> used;
    std::vector<const GumboNode*> stack{&body};
    std::vector<const GumboNode*> order;
    // Document order, so that the first of two equal ids keeps it.
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (!isHTMLElement(*n)) continue;
        const Kind k = shapeOf(html::tagName(*n)).kind;
        if (k == Kind::drop || k == Kind::foreign) continue;
        order.push_back(n);
        auto kids = html::children(*n);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
    }
    for (const GumboNode* n : order) {
        std::vector<std::string> names;
        if (const char* id = html::attribute(*n, "id"); id && *id) names.emplace_back(id);
        if (n->v.element.tag == GUMBO_TAG_A)
            if (const char* name = html::attribute(*n, "name"); name && *name) names.emplace_back(name);
        std::string assigned;
        for (const std::string& name : names) {
            if (anchors_.count(name) || unusable.count(name)) continue;
            if (assigned.empty()) {
                assigned = idName(name);
                for (int i = 2; !used.insert(assigned).second; ++i) assigned = idName(name) + "-" + std::to_string(i);
                ids_[n] = assigned;
            }
            // An anchor's name and its id both lead to it.
            anchors_[name] = assigned;
        }
    }
}

bool ChapterWriter::isBlock(const GumboNode& n, int depth) {
    if (!isHTMLElement(n)) return false;
    const std::string name = html::tagName(n);
    const Shape s = shapeOf(name);
    if (isFlowKind(s.kind)) return true;
    if (s.kind == Kind::empty) return name == "hr";
    if (s.kind == Kind::wrapper) return s.blockish || holdsBlock(n, depth + 1);
    return false;
}

bool ChapterWriter::holdsBlock(const GumboNode& n, int depth) {
    if (depth > maxDepth) return false;
    auto known = holdsBlock_.find(&n);
    if (known != holdsBlock_.end()) return known->second;
    bool holds = false;
    for (const GumboNode* child : html::children(n)) {
        if (isBlock(*child, depth + 1)) holds = true;
        else if (isHTMLElement(*child) && shapeOf(html::tagName(*child)).kind == Kind::transparent) holds = holdsBlock(*child, depth + 1);
        if (holds) break;
    }
    holdsBlock_[&n] = holds;
    return holds;
}

void ChapterWriter::children(const GumboNode& n, const Context& c) {
    const bool structure = c.parent == Kind::table || c.parent == Kind::rows;
    for (const GumboNode* child : html::children(n)) {
        if (structure && isHTMLElement(*child)) {
            // Only rows and cells stand in a table; the parser leaves only empty form pieces besides.
            const Kind k = shapeOf(html::tagName(*child)).kind;
            if (k != Kind::rows && k != Kind::cell && html::tagName(*child) != "col") continue;
        }
        node(*child, c);
    }
}

void ChapterWriter::node(const GumboNode& n, const Context& c) {
    switch (n.type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA: appendEscaped(out_, html::text(n), false); break;
        case GUMBO_NODE_ELEMENT: element(n, c); break;
        default: break;  // comments, and templates, whose content is never shown
    }
}

void ChapterWriter::open(const std::string& as, const GumboNode& n, const std::string& css, const std::string& extra, bool withId) {
    out_ += "<" + as;
    if (auto id = ids_.find(&n); withId && id != ids_.end() && written_.insert(id->second).second)
        out_ += " id=\"" + id->second + "\"";
    for (const char* name : {"class", "title"})
        if (const char* v = html::attribute(n, name)) {
            out_ += std::string(" ") + name + "=\"";
            appendEscaped(out_, v, true);
            out_ += "\"";
        }
    for (const char* name : {"lang", "xml:lang"})
        if (const char* v = html::attribute(n, name); v && isLanguageTag(v)) out_ += std::string(" ") + name + "=\"" + v + "\"";
    if (const char* dir = html::attribute(n, "dir")) {
        const std::string d = dir;
        if (d == "ltr" || d == "rtl" || d == "auto") out_ += " dir=\"" + d + "\"";
    }
    if (html::attribute(n, "hidden")) out_ += " hidden=\"hidden\"";
    out_ += extra;
    std::string style = css;
    const std::string presented = presentationalStyle(n);
    if (!presented.empty()) style += (style.empty() ? "" : ";") + presented;
    if (const char* own = html::attribute(n, "style"); own && !isBlank(own)) style += (style.empty() ? "" : ";") + std::string(own);
    if (!style.empty()) {
        out_ += " style=\"";
        appendEscaped(out_, style, true);
        out_ += "\"";
    }
    out_ += ">";
}

// Counts the elements open around the one being written, for maxDepth.
struct Deeper {
    int& depth;
    explicit Deeper(int& d) : depth(++d) {}
    ~Deeper() { --depth; }
    Deeper(const Deeper&) = delete;
    Deeper& operator=(const Deeper&) = delete;
};

void ChapterWriter::element(const GumboNode& n, const Context& c) {
    if (!isHTMLElement(n)) {
        foreignText(n);
        return;
    }
    const std::string name = html::tagName(n);
    const Shape s = shapeOf(name);
    if (s.kind == Kind::drop) return;
    if (s.kind == Kind::foreign) {
        foreignText(n);
        return;
    }
    if (depth_ >= maxDepth) {
        plainText(n);
        return;
    }
    const Deeper deeper(depth_);
    const Placed p = placed(n, name, s, c);
    if (c.phrasing && (isFlowKind(p.kind) || p.as == "div" || name == "hr")) {
        blockInPhrasing(n, name, p.css, c);
        return;
    }
    elementInPlace(n, name, p, c);
}

Placed ChapterWriter::placed(const GumboNode& n, const std::string& name, const Shape& s, const Context& c) {
    Placed p{s.kind, s.as ? s.as : name, s.css};
    if (isOutOfPlace(n, name, p.kind, c)) {
        p.kind = (p.kind == Kind::term || name == "bdo") ? Kind::phrasing : Kind::block;
        p.as = p.kind == Kind::phrasing ? "span" : "div";
    }
    if (p.kind == Kind::wrapper) p.as = (s.blockish || (!c.phrasing && holdsBlock(n))) ? "div" : "span";
    return p;
}

// A block inside phrasing content: a span that shows as the block did.
void ChapterWriter::blockInPhrasing(const GumboNode& n, const std::string& name, const std::string& css, const Context& c) {
    if (name == "col" || name == "colgroup") return;
    std::string display = displayOf(name);
    if (name == "hr") display += ";border-top:1px solid";
    open("span", n, display + (css.empty() ? "" : ";" + css));
    children(n, c.with(true, Kind::phrasing));
    close("span");
}

// The structures that have writers of their own, else the element around its children.
void ChapterWriter::elementInPlace(const GumboNode& n, const std::string& name, const Placed& p, const Context& c) {
    switch (p.kind) {
        case Kind::link: link(n, c); return;
        case Kind::paragraph: paragraph(n, p.as, c); return;
        case Kind::list: list(n, p.as, c); return;
        case Kind::definitions: definitions(n, c); return;
        case Kind::empty: emptyElement(n, name, p, c); return;
        case Kind::item: open(p.as, n, p.css, itemAttributes(n, c)); break;
        case Kind::cell: open(p.as, n, (name != "caption" && c.table) ? cellStyleOf(*c.table) : "", cellAttributes(n, name)); break;
        default: open(p.as, n, p.css); break;
    }
    children(n, contextInside(n, name, p, c));
    close(p.as);
}

// br, wbr, hr and col close themselves; a col stands only in a table.
void ChapterWriter::emptyElement(const GumboNode& n, const std::string& name, const Placed& p, const Context& c) {
    if (name == "col" && c.parent != Kind::rows && c.parent != Kind::table) return;
    std::string extra;
    if (const char* span = html::attribute(n, "span"); span && name == "col" && isNumber(span, 3) && std::stoi(span) > 0)
        extra = std::string(" span=\"") + span + "\"";
    open(p.as, n, p.css, extra);
    out_.back() = '/';
    out_ += '>';
}

// A paragraph that holds a block (a table in a page the parser reads in quirks mode, say) is
// closed before the block and opened again after it.
void ChapterWriter::paragraph(const GumboNode& n, const std::string& as, const Context& c) {
    open(as, n, "");
    bool isOpen = true;
    for (const GumboNode* child : html::children(n)) {
        if (isBlock(*child)) {
            if (isOpen) close(as);
            isOpen = false;
            node(*child, c.with(false, Kind::block));
            continue;
        }
        if (!isOpen) {
            if (child->type != GUMBO_NODE_TEXT && child->type != GUMBO_NODE_ELEMENT && child->type != GUMBO_NODE_CDATA) {
                node(*child, c);
                continue;
            }
            open(as, n, "", {}, false);
            isOpen = true;
        }
        node(*child, c.with(true, Kind::paragraph));
    }
    if (isOpen) close(as);
}

// Whatever a list holds besides its items goes into an item without a marker.
void ChapterWriter::list(const GumboNode& n, const std::string& as, const Context& c) {
    std::string extra;
    if (as == "ol") {
        if (const char* start = html::attribute(n, "start"); start && isNumber(start, 9)) extra += std::string(" start=\"") + start + "\"";
        if (html::attribute(n, "reversed")) extra += " reversed=\"reversed\"";
    }
    open(as, n, "", extra);
    Context inner = c.with(false, Kind::list);
    inner.orderedList = as == "ol";
    bool loose = false;
    for (const GumboNode* child : html::children(n)) {
        const bool item = isHTMLElement(*child) && child->v.element.tag == GUMBO_TAG_LI;
        const bool blank = child->type == GUMBO_NODE_WHITESPACE || child->type == GUMBO_NODE_COMMENT ||
                           (isHTMLElement(*child) && shapeOf(html::tagName(*child)).kind == Kind::drop);
        if (item && loose) {
            close("li");
            loose = false;
        }
        if (!item && !blank && !loose) {
            out_ += "<li style=\"list-style-type:none\">";
            loose = true;
        }
        node(*child, loose ? c.with(false, Kind::item) : inner);
    }
    if (loose) close("li");
    close(as);
}

// Terms each followed by their definitions; what stands between them is a definition of its
// own, a list that ends on a term gets an empty one, and a list that does not start with a
// term is written as blocks.
void ChapterWriter::definitions(const GumboNode& n, const Context& c) {
    enum class Item { term, definition, other, none };
    auto itemOf = [](const GumboNode& child) {
        if (isHTMLElement(child)) {
            const Kind k = shapeOf(html::tagName(child)).kind;
            if (k == Kind::drop) return Item::none;
            if (k == Kind::term) return Item::term;
            if (k == Kind::definition) return Item::definition;
            return Item::other;
        }
        if (child.type == GUMBO_NODE_TEXT || child.type == GUMBO_NODE_CDATA) return Item::other;
        return Item::none;
    };
    Item first = Item::none;
    for (const GumboNode* child : html::children(n))
        if ((first = itemOf(*child)) != Item::none) break;
    if (first != Item::none && first != Item::term) {
        open("div", n, "");
        children(n, c.with(false, Kind::block));
        close("div");
        return;
    }
    open("dl", n, "");
    const Context inner = c.with(false, Kind::definitions);
    Item last = Item::none;
    bool loose = false;
    for (const GumboNode* child : html::children(n)) {
        const Item item = itemOf(*child);
        if ((item == Item::term || item == Item::definition) && loose) {
            close("dd");
            loose = false;
        }
        if (item == Item::other && !loose) {
            out_ += "<dd>";
            loose = true;
        }
        node(*child, loose ? c.with(false, Kind::definition) : inner);
        if (item != Item::none) last = item == Item::other ? Item::definition : item;
    }
    if (loose) close("dd");
    if (last == Item::term) out_ += "<dd></dd>";
    close("dl");
}

void ChapterWriter::link(const GumboNode& n, const Context& c) {
    std::string target;
    if (const char* href = html::attribute(n, "href")) {
        std::string_view h = href;
        if (!h.empty() && h[0] == '#') {
            const std::string fragment(h.substr(1));
            auto it = anchors_.find(fragment);
            if (it == anchors_.end()) it = anchors_.find(percentDecoded(fragment));
            if (it != anchors_.end()) target = "#" + it->second;
        } else if (auto outside = outsideLink(h)) {
            target = *outside;
        }
    }
    // A link that leads nowhere in the book is its text; an anchor keeps its place.
    if (target.empty() && !ids_.count(&n)) {
        children(n, c);
        return;
    }
    std::string extra;
    if (!target.empty()) {
        extra = " href=\"";
        appendEscaped(extra, target, true);
        extra += "\"";
    }
    open("a", n, "", extra);
    children(n, c.with(c.phrasing, Kind::transparent));
    close("a");
}

// SVG and MathML keep their text; pieces placed apart in the drawing stay apart as words.
void ChapterWriter::foreignText(const GumboNode& root) {
    auto space = [&] {
        if (!out_.empty() && !isBlank(std::string_view(&out_.back(), 1))) out_ += ' ';
    };
    std::vector<const GumboNode*> stack{&root};
    while (!stack.empty()) {
        const GumboNode& n = *stack.back();
        stack.pop_back();
        if (n.type == GUMBO_NODE_ELEMENT) {
            const std::string name = html::tagName(n);
            if (name == "script" || name == "style") continue;
            space();
            auto kids = html::children(n);
            for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
        } else if (n.type != GUMBO_NODE_COMMENT) {
            appendEscaped(out_, html::text(n), false);
        }
    }
    space();
}

// The words of blocks written as text stay apart from those around them.
void ChapterWriter::plainText(const GumboNode& root) {
    auto space = [&] {
        if (!out_.empty() && !isBlank(std::string_view(&out_.back(), 1))) out_ += ' ';
    };
    std::vector<const GumboNode*> stack{&root};  // nullptr: the end of a block
    while (!stack.empty()) {
        const GumboNode* top = stack.back();
        stack.pop_back();
        if (!top) {
            space();
            continue;
        }
        const GumboNode& n = *top;
        if (n.type == GUMBO_NODE_ELEMENT) {
            const Shape shape = shapeOf(html::tagName(n));
            if (shape.kind == Kind::drop) continue;
            if (isFlowKind(shape.kind) || shape.blockish) {
                space();
                stack.push_back(nullptr);
            }
            auto kids = html::children(n);
            for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
        } else if (n.type != GUMBO_NODE_COMMENT && n.type != GUMBO_NODE_TEMPLATE) {
            appendEscaped(out_, html::text(n), false);
        }
    }
}

}  // namespace

std::string toXHTMLFragment(std::string_view page) {
    // Control characters would reach the tree as U+FFFD; an XML document cannot hold them at all.
    const html::Document document(text::removingXMLForbiddenCharacters(std::string(page)));
    const GumboNode* body = document.body();
    if (!body) return {};
    // An anchor that ends up on no written element is taken away, and its links with it.
    std::set<std::string> unusable;
    for (int attempt = 0;; ++attempt) {
        ChapterWriter writer(*body, unusable);
        std::string out = writer.write(*body);
        std::set<std::string> missing = writer.unwritten();
        if (missing.empty() || attempt == 2) return text::removingXMLForbiddenCharacters(out);
        unusable.insert(missing.begin(), missing.end());
    }
}

}  // namespace calvoro::DocumentConverter::detail
