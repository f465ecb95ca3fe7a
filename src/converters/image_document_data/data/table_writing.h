#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "converters/image_document_data/data/delimited_parsing.h"

// The table writers, fed one row at a time and writing into a sink: a string for the
// public writers, a file for the converter, which so streams a source of any size to its
// output without holding a table or a whole output text.
//
// A sink has `std::string& text()` to append to and `void rowDone()`, called after each
// row, where a file sink passes the text on.
namespace calvoro::datatable {

// What a cell of the JSON writer is taken to be. The text points into the cell.
struct Scalar {
    enum class Kind { boolean, number, string, null };
    Kind kind = Kind::null;
    bool boolValue = false;
    std::string_view text;

    // Appends text as a JSON string literal.
    static void quote(std::string_view text, std::string& out);
};

// JSON's number grammar exactly, ASCII digits only.
bool isJSONNumber(std::string_view text);
Scalar infer(std::string_view cell);
void appendMarkupEscaped(std::string_view text, std::string& out);
void appendHTMLHead(std::string_view title, std::string& out);
void appendMarkdownCell(std::string_view cell, std::string& out);
void appendJSONValue(std::string_view cell, std::string& out);

template <class Sink>
class DelimitedEmitter {
public:
    // padToHeader: rows shorter than the first are filled up with empty cells.
    DelimitedEmitter(Sink& sink, char delimiter, bool padToHeader = false)
        : sink_(sink), delimiter_(delimiter), padToHeader_(padToHeader) {
        needsQuotes_[static_cast<unsigned char>(delimiter)] = true;
        needsQuotes_['"'] = needsQuotes_['\n'] = needsQuotes_['\r'] = true;
    }
    void row(Cells cells) {
        std::string& out = sink_.text();
        if (!first_) out.push_back('\n');
        else if (padToHeader_) columns_ = cells.size();
        first_ = false;
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c > 0) out.push_back(delimiter_);
            std::string_view cell = cells[c];
            bool quote = std::any_of(cell.begin(), cell.end(), [&](char ch) { return needsQuotes_[static_cast<unsigned char>(ch)]; });
            if (!quote) {
                out += cell;
                continue;
            }
            out.push_back('"');
            size_t run = 0;
            for (size_t i = 0; i < cell.size(); ++i) {
                if (cell[i] != '"') continue;
                out.append(cell, run, i + 1 - run);
                out.push_back('"');
                run = i + 1;
            }
            out.append(cell, run);
            out.push_back('"');
        }
        for (size_t c = std::max<size_t>(cells.size(), 1); c < columns_; ++c) out.push_back(delimiter_);
        sink_.rowDone();
    }
    void finish() { sink_.text().push_back('\n'); }

private:
    Sink& sink_;
    char delimiter_;
    std::array<bool, 256> needsQuotes_{};
    bool padToHeader_;
    bool first_ = true;
    size_t columns_ = 0;  // the header's width when padding
};

// The first row names the keys; every later row becomes one object.
template <class Sink>
class JSONEmitter {
public:
    explicit JSONEmitter(Sink& sink) : sink_(sink) {}
    void row(Cells cells) {
        std::string& out = sink_.text();
        if (!haveHeader_) {
            haveHeader_ = true;
            for (size_t c = 0; c < cells.size(); ++c) {
                // Each key's line start, "    \"key\": ", made once.
                std::string prefix = "    ";
                Scalar::quote(cells[c].empty() ? "column" + std::to_string(c + 1) : std::string(cells[c]), prefix);
                prefix += ": ";
                prefixes_.push_back(std::move(prefix));
            }
            if (!prefixes_.empty()) out += "[\n";
            return;
        }
        if (prefixes_.empty()) return;
        out += objects_++ > 0 ? ",\n  {\n" : "  {\n";
        for (size_t c = 0; c < prefixes_.size(); ++c) {
            out += prefixes_[c];
            appendJSONValue(c < cells.size() ? cells[c] : std::string_view(), out);
            out += c + 1 < prefixes_.size() ? ",\n" : "\n";
        }
        out += "  }";
        sink_.rowDone();
    }
    void finish() {
        std::string& out = sink_.text();
        if (prefixes_.empty()) {
            out += "[]";
            return;
        }
        out += objects_ > 0 ? "\n]\n" : "]\n";
    }

private:
    Sink& sink_;
    bool haveHeader_ = false;
    std::vector<std::string> prefixes_;
    size_t objects_ = 0;
};

// The first row is the header row, whatever the source was.
template <class Sink>
class HTMLTableEmitter {
public:
    HTMLTableEmitter(Sink& sink, std::string_view title) : sink_(sink) { appendHTMLHead(title, sink_.text()); }
    void row(Cells cells) {
        std::string& out = sink_.text();
        const std::string_view open = first_ ? "<th>" : "<td>";
        const std::string_view close = first_ ? "</th>" : "</td>";
        first_ = false;
        out += "<tr>";
        for (std::string_view cell : cells) {
            out += open;
            appendMarkupEscaped(cell, out);
            out += close;
        }
        out += "</tr>\n";
        sink_.rowDone();
    }
    void finish() { sink_.text() += "</table>\n</body>\n</html>\n"; }

private:
    Sink& sink_;
    bool first_ = true;
};

// Needs the width of the widest row up front: every row is padded to it.
template <class Sink>
class MarkdownTableEmitter {
public:
    MarkdownTableEmitter(Sink& sink, size_t columns) : sink_(sink), columns_(columns) {}
    void row(Cells cells) {
        std::string& out = sink_.text();
        out += "| ";
        for (size_t c = 0; c < columns_; ++c) {
            if (c > 0) out += " | ";
            if (c < cells.size()) appendMarkdownCell(cells[c], out);
        }
        out += " |\n";
        if (first_) {
            first_ = false;
            out += "| ";
            for (size_t c = 0; c < columns_; ++c) out += c > 0 ? " | ---" : "---";
            out += " |\n";
        }
        sink_.rowDone();
    }
    void finish() {}

private:
    Sink& sink_;
    size_t columns_;
    bool first_ = true;
};

// Collects the whole text.
class StringSink {
public:
    explicit StringSink(size_t expectedSize = 0) { text_.reserve(expectedSize); }
    std::string& text() { return text_; }
    void rowDone() {}
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

}  // namespace calvoro::datatable
