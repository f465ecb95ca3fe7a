// Checks of plain-text outputs: SVG, text, HTML and JSON.
#include <cstdint>
#include <iterator>

#include <nlohmann/json.hpp>

#include "core/text_util.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {

Status validateSVG(const fs::path& url) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("SVG not readable as UTF-8");
    const std::string lowered = unicodeLowercased(trimWhitespace(*text));
    if (lowered.find("<svg") == std::string::npos) return Status::failed("SVG missing <svg> root element");
    return Status::passed();
}

Status validateText(const fs::path& url) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("File not readable as UTF-8");
    if (text->empty()) return Status::failed("Text file is empty");
    return Status::passed();
}

Status validateHTML(const fs::path& url) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("HTML not readable as UTF-8");
    if (text->empty()) return Status::failed("HTML is empty");
    const std::string lowered = unicodeLowercased(*text);
    if (lowered.find("<html") == std::string::npos && lowered.find("<body") == std::string::npos &&
        lowered.find("<!doctype") == std::string::npos)
        return Status::failed("HTML lacks <html>/<body>/<!doctype>");
    return Status::passed();
}

namespace {

// Follows the parse as it streams past, keeping only what the check asks: the kind of the
// top-level value and whether a top-level array holds anything.
struct JSONShape : nlohmann::json_sax<nlohmann::json> {
    enum class Root { none, array, object, scalar };
    Root root = Root::none;
    bool rootHasItem = false;
    size_t depth = 0;

    bool item() {
        if (depth == 0) root = Root::scalar;
        if (depth == 1) rootHasItem = true;
        return true;
    }
    bool open(Root kind) {
        if (depth == 0) root = kind;
        if (depth == 1) rootHasItem = true;
        ++depth;
        return true;
    }
    bool close() {
        --depth;
        return true;
    }
    bool null() override { return item(); }
    bool boolean(bool) override { return item(); }
    bool number_integer(number_integer_t) override { return item(); }
    bool number_unsigned(number_unsigned_t) override { return item(); }
    bool number_float(number_float_t, const string_t&) override { return item(); }
    bool string(string_t&) override { return item(); }
    bool binary(binary_t&) override { return item(); }
    bool start_object(std::size_t) override { return open(Root::object); }
    bool key(string_t&) override { return true; }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Root::array); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
};

// Walks a mapped file for the parser, handing back each megabyte it has passed.
struct ReleasingReader {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;
    const char* at = nullptr;
    MappedFile* file = nullptr;

    reference operator*() const { return *at; }
    ReleasingReader& operator++() {
        if ((reinterpret_cast<std::uintptr_t>(++at) & 0xFFFFF) == 0) file->releaseBefore(at);
        return *this;
    }
    ReleasingReader operator++(int) {
        ReleasingReader before = *this;
        ++*this;
        return before;
    }
    bool operator==(const ReleasingReader& other) const { return at == other.at; }
};

}  // namespace

Status validateJSON(const fs::path& url) {
    // Parsed as it streams, without building the document.
    auto file = MappedFile::open(url);
    if (!file) return Status::failed("JSON not readable");
    JSONShape shape;
    const std::string_view text = file->view();
    const bool parsed = nlohmann::json::sax_parse(ReleasingReader{text.data(), &*file},
                                                  ReleasingReader{text.data() + text.size(), &*file}, &shape);
    // Like the platform's reader without fragments: only an object or an array at the top.
    if (!parsed || !(shape.root == JSONShape::Root::array || shape.root == JSONShape::Root::object))
        return Status::failed("Output is not valid JSON");
    if (shape.root != JSONShape::Root::array) return Status::failed("JSON root is not an array");
    if (!shape.rootHasItem) return Status::failed("JSON array is empty");
    return Status::passed();
}

}  // namespace calvoro::validation
