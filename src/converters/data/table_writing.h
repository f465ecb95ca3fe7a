#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "converters/data/delimited_parsing.h"

// The table writers, fed one row at a time and writing into a sink: a string for the
// public writers, a file for the converter, which so streams a source of any size to its
// output without holding a table or a whole output text.
//
// A sink has `std::string& text()` to append to and `void rowDone()`, called after each
// row, where a file sink passes the text on.
//
// A table is as wide as its widest row. Where a writer names columns by the header (JSON, the
// HTML header row, the header line of a padded CSV), the header is widened to that width, so a
// first row shorter than later ones loses none of their cells.
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
    // columns: every row, the header too, is filled up with empty cells to this width.
    DelimitedEmitter(Sink& sink, char delimiter, size_t columns = 0) : sink_(sink), delimiter_(delimiter), columns_(columns) {
        needsQuotes_[static_cast<unsigned char>(delimiter)] = true;
        needsQuotes_['"'] = needsQuotes_['\n'] = needsQuotes_['\r'] = true;
    }
    void row(Cells cells) {
        std::string& out = sink_.text();
        if (!first_) out.push_back('\n');
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
    size_t columns_;
    bool first_ = true;
};

// The first row names the keys; every later row becomes one object. Columns the header
// has no cell for (up to the table's width) are named as empty header cells are.
template <class Sink>
class JSONEmitter {
public:
    explicit JSONEmitter(Sink& sink, size_t columns = 0) : sink_(sink), columns_(columns) {}
    void row(Cells cells) {
        std::string& out = sink_.text();
        if (!haveHeader_) {
            haveHeader_ = true;
            for (size_t c = 0; c < std::max(cells.size(), columns_); ++c) {
                // Each key's line start, "    \"key\": ", made once.
                std::string prefix = "    ";
                const std::string_view name = c < cells.size() ? cells[c] : std::string_view();
                Scalar::quote(name.empty() ? "column" + std::to_string(c + 1) : std::string(name), prefix);
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
    size_t columns_;
    bool haveHeader_ = false;
    std::vector<std::string> prefixes_;
    size_t objects_ = 0;
};

// The first row is the header row, whatever the source was; it has a cell for each column
// up to the table's width.
template <class Sink>
class HTMLTableEmitter {
public:
    HTMLTableEmitter(Sink& sink, std::string_view title, size_t columns = 0) : sink_(sink), columns_(columns) {
        appendHTMLHead(title, sink_.text());
    }
    void row(Cells cells) {
        std::string& out = sink_.text();
        const bool header = first_;
        const std::string_view open = first_ ? "<th>" : "<td>";
        const std::string_view close = first_ ? "</th>" : "</td>";
        first_ = false;
        out += "<tr>";
        for (std::string_view cell : cells) {
            out += open;
            appendMarkupEscaped(cell, out);
            out += close;
        }
        if (header)
            for (size_t c = cells.size(); c < columns_; ++c) out += "<th></th>";
        out += "</tr>\n";
        sink_.rowDone();
    }
    void finish() { sink_.text() += "</table>\n</body>\n</html>\n"; }

private:
    Sink& sink_;
    size_t columns_;
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
