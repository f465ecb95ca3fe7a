#include "converters/data/data_converter.h"
#include "converters/data/table_writing.h"
#include "converters/data/text_scan.h"

namespace calvoro {

namespace datatable {

namespace {

bool asciiEqualsIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

}  // namespace

void appendMarkupEscaped(std::string_view text, std::string& out) {
    size_t run = 0;  // start of the pending stretch that needs no escape
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            default: continue;
        }
        out.append(text, run, i - run);
        out += entity;
        run = i + 1;
    }
    out.append(text, run);
}

bool isJSONNumber(std::string_view text) {
    size_t i = 0, n = text.size();
    auto digit = [&](size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
    if (i < n && text[i] == '-') ++i;
    if (!digit(i)) return false;
    if (text[i] == '0') {
        ++i;
    } else {
        while (digit(i)) ++i;
    }
    if (i < n && text[i] == '.') {
        ++i;
        if (!digit(i)) return false;
        while (digit(i)) ++i;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        if (!digit(i)) return false;
        while (digit(i)) ++i;
    }
    return i == n;
}

Scalar infer(std::string_view cell) {
    std::string_view trimmed = datatext::trimBlanksAndTabs(cell);
    if (trimmed.empty()) return {Scalar::Kind::null, false, {}};
    if (isJSONNumber(trimmed)) return {Scalar::Kind::number, false, trimmed};
    // Lower-casing gives these ASCII words from ASCII letters only.
    if (asciiEqualsIgnoringCase(trimmed, "true")) return {Scalar::Kind::boolean, true, {}};
    if (asciiEqualsIgnoringCase(trimmed, "false")) return {Scalar::Kind::boolean, false, {}};
    if (asciiEqualsIgnoringCase(trimmed, "null")) return {Scalar::Kind::null, false, {}};
    return {Scalar::Kind::string, false, cell};
}

void Scalar::quote(std::string_view text, std::string& out) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    size_t run = 0;  // start of the pending stretch that needs no escape
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text, run, i - run);
        run = i + 1;
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            default:
                out += "\\u00";
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0xF]);
        }
    }
    out.append(text, run);
    out.push_back('"');
}

void appendHTMLHead(std::string_view title, std::string& out) {
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"UTF-8\"><title>";
    appendMarkupEscaped(title, out);
    out += "</title>\n"
           "<style>\n"
           "body{font-family:-apple-system,BlinkMacSystemFont,\"SF Pro Text\",sans-serif;margin:2rem;color:#111}\n"
           "table{border-collapse:collapse;width:100%;font-size:14px}\n"
           "th,td{border:1px solid #ddd;padding:8px 10px;text-align:left}\n"
           "th{background:#f5f5f7;font-weight:600}\n"
           "tr:nth-child(even) td{background:#fafafa}\n"
           "</style></head>\n"
           "<body>\n"
           "<table>\n";
}

void appendMarkdownCell(std::string_view cell, std::string& out) {
    for (size_t i = 0; i < cell.size(); ++i) {
        char ch = cell[i];
        if (ch == '|') {
            out += "\\|";
        } else if (ch == '\n') {
            out.push_back(' ');
        } else if (ch == '\r') {
            // A carriage return breaks the row just as a line feed would; a CR LF pair is one line end.
            out.push_back(' ');
            if (i + 1 < cell.size() && cell[i + 1] == '\n') ++i;
        } else {
            out.push_back(ch);
        }
    }
}

void appendJSONValue(std::string_view cell, std::string& out) {
    Scalar value = infer(cell);
    switch (value.kind) {
        case Scalar::Kind::boolean: out += value.boolValue ? "true" : "false"; break;
        case Scalar::Kind::number: out += value.text; break;
        case Scalar::Kind::null: out += "null"; break;
        case Scalar::Kind::string: Scalar::quote(value.text, out); break;
    }
}

}  // namespace datatable

namespace {

size_t widestRow(const DataConverter::Table& table) {
    size_t columns = 0;
    for (const auto& row : table) columns = std::max(columns, row.size());
    return columns;
}

size_t textSize(const DataConverter::Table& table) {
    size_t size = 0;
    for (const auto& row : table)
        for (const auto& cell : row) size += cell.size();
    return size;
}

// Feeds the rows of a table to an emitter and returns the text.
template <class Emitter>
std::string emitAll(const DataConverter::Table& table, Emitter& emitter, datatable::StringSink& sink) {
    std::vector<std::string_view> cells;
    for (const auto& row : table) {
        cells.assign(row.begin(), row.end());
        emitter.row(cells);
    }
    emitter.finish();
    return sink.take();
}

}  // namespace

std::string DataConverter::writeDelimited(const Table& table, char delimiter) {
    datatable::StringSink sink(textSize(table) * 9 / 8 + table.size() * 2 + 16);
    datatable::DelimitedEmitter emitter(sink, delimiter);
    return emitAll(table, emitter, sink);
}

std::string DataConverter::writeJSON(const Table& table) {
    datatable::StringSink sink(textSize(table) * 2 + table.size() * 16 + 16);
    datatable::JSONEmitter emitter(sink, widestRow(table));
    return emitAll(table, emitter, sink);
}

std::string DataConverter::writeHTMLTable(const Table& table, std::string_view title) {
    datatable::StringSink sink(textSize(table) * 9 / 8 + table.size() * 24 + 640);
    datatable::HTMLTableEmitter emitter(sink, title, widestRow(table));
    return emitAll(table, emitter, sink);
}

std::string DataConverter::writeMarkdownTable(const Table& table) {
    const size_t columns = widestRow(table);
    datatable::StringSink sink(textSize(table) * 9 / 8 + table.size() * (columns * 3 + 4) + 16);
    datatable::MarkdownTableEmitter emitter(sink, columns);
    return emitAll(table, emitter, sink);
}

}  // namespace calvoro
