#pragma once

#include <gumbo.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>

// An HTML text read as browsers read it: the HTML5 tokenizer and tree-construction rules
// (character references, implied and misnested tags, foster parenting, foreign content).
namespace calvoro::web::html {

class Document {
public:
    // Takes UTF-8; bytes that are not are read as U+FFFD. Keeps its own copy of the text,
    // which the tree points into.
    explicit Document(std::string html);
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const GumboNode& root() const { return *output_->root; }
    // The body element, or nullptr for a frameset page.
    const GumboNode* body() const;

private:
    struct Free {
        void operator()(GumboOutput* output) const;
    };
    std::string source_;
    std::unique_ptr<GumboOutput, Free> output_;
};

bool isElement(const GumboNode& node);
// An element's name in lower case, as written for elements the parser does not know
// ("o:p", "animatemotion"); empty for other nodes.
std::string tagName(const GumboNode& node);
// The attribute's value, or nullptr.
const char* attribute(const GumboNode& element, std::string_view name);
std::span<const GumboAttribute* const> attributes(const GumboNode& element);
// The children of an element, template or document; nothing for other nodes.
std::span<const GumboNode* const> children(const GumboNode& node);
// Text, white space and CDATA nodes: their text.
std::string_view text(const GumboNode& node);

}  // namespace calvoro::web::html
