#include "platform/web/html_tree.h"

#include <cstring>

#include "platform/web/html_nesting.h"

namespace calvoro::web::html {

namespace {

template <typename T>
std::span<const T* const> items(const GumboVector& v) {
    return {reinterpret_cast<const T* const*>(v.data), v.length};
}

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Nothing reads the parse errors, and each one copies the stack of open elements.
const GumboOptions& parseOptions() {
    static const GumboOptions options = [] {
        GumboOptions o = kGumboDefaultOptions;
        o.max_errors = 0;
        return o;
    }();
    return options;
}

}  // namespace

Document::Document(std::string html)
    : source_(boundedNesting(std::move(html))),
      output_(gumbo_parse_with_options(&parseOptions(), source_.data(), source_.size())) {}

void Document::Free::operator()(GumboOutput* output) const { gumbo_destroy_output(&parseOptions(), output); }

const GumboNode* Document::body() const {
    for (const GumboNode* child : children(root()))
        if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag == GUMBO_TAG_BODY) return child;
    return nullptr;
}

bool isElement(const GumboNode& node) { return node.type == GUMBO_NODE_ELEMENT || node.type == GUMBO_NODE_TEMPLATE; }

std::string tagName(const GumboNode& node) {
    if (!isElement(node)) return {};
    const GumboElement& e = node.v.element;
    std::string name;
    if (e.tag != GUMBO_TAG_UNKNOWN) {
        name = gumbo_normalized_tagname(e.tag);
    } else {
        GumboStringPiece piece = e.original_tag;
        gumbo_tag_from_original_text(&piece);
        name.assign(piece.data ? piece.data : "", piece.data ? piece.length : 0);
    }
    for (char& c : name) c = lowered(c);
    return name;
}

const char* attribute(const GumboNode& element, std::string_view name) {
    if (!isElement(element)) return nullptr;
    for (const GumboAttribute* a : attributes(element))
        if (std::string_view(a->name) == name) return a->value;
    return nullptr;
}

std::span<const GumboAttribute* const> attributes(const GumboNode& element) {
    if (!isElement(element)) return {};
    return items<GumboAttribute>(element.v.element.attributes);
}

std::span<const GumboNode* const> children(const GumboNode& node) {
    if (node.type == GUMBO_NODE_DOCUMENT) return items<GumboNode>(node.v.document.children);
    if (isElement(node)) return items<GumboNode>(node.v.element.children);
    return {};
}

std::string_view text(const GumboNode& node) {
    switch (node.type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
        case GUMBO_NODE_COMMENT: return node.v.text.text;
        default: return {};
    }
}

}  // namespace calvoro::web::html
