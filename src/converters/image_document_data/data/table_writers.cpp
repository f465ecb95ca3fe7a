#include <algorithm>
#include <array>

#include "converters/image_document_data/data/data_converter.h"
#include "converters/image_document_data/data/text_scan.h"

namespace calvoro {

namespace {

size_t textSize(const DataConverter::Table& table) {
    size_t size = 0;
    for (const auto& row : table)
        for (const auto& cell : row) size += cell.size();
    return size;
}

void appendMarkupEscaped(std::string_view text, std::string& out) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
}

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

std::string DataConverter::writeDelimited(const Table& table, char delimiter) {
    std::array<bool, 256> needsQuotes{};
    needsQuotes[static_cast<unsigned char>(delimiter)] = true;
    needsQuotes['"'] = needsQuotes['\n'] = needsQuotes['\r'] = true;

    std::string out;
    out.reserve(textSize(table) + textSize(table) / 8 + table.size() * 2 + 16);
    for (size_t r = 0; r < table.size(); ++r) {
        if (r > 0) out.push_back('\n');
        const auto& row = table[r];
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) out.push_back(delimiter);
            const std::string& cell = row[c];
            bool quote = std::any_of(cell.begin(), cell.end(), [&](char ch) { return needsQuotes[static_cast<unsigned char>(ch)]; });
            if (!quote) {
                out += cell;
                continue;
            }
            out.push_back('"');
            for (char ch : cell) {
                if (ch == '"') out.push_back('"');
                out.push_back(ch);
            }
            out.push_back('"');
        }
    }
    out.push_back('\n');
    return out;
}

bool DataConverter::isJSONNumber(std::string_view text) {
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

DataConverter::Scalar DataConverter::infer(std::string_view cell) {
    std::string_view trimmed = datatext::trimBlanksAndTabs(cell);
    if (trimmed.empty()) return {Scalar::Kind::null, false, {}};
    if (isJSONNumber(trimmed)) return {Scalar::Kind::number, false, trimmed};
    // Lower-casing can only give these ASCII words from ASCII letters.
    if (asciiEqualsIgnoringCase(trimmed, "true")) return {Scalar::Kind::boolean, true, {}};
    if (asciiEqualsIgnoringCase(trimmed, "false")) return {Scalar::Kind::boolean, false, {}};
    if (asciiEqualsIgnoringCase(trimmed, "null")) return {Scalar::Kind::null, false, {}};
    return {Scalar::Kind::string, false, cell};
}

void DataConverter::Scalar::quote(std::string_view text, std::string& out) {
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

std::string DataConverter::writeJSON(const Table& table) {
    if (table.empty() || table.front().empty()) return "[]";
    const Row& header = table.front();
    // Each key's line prefix, "    \"key\": ", made once.
    std::vector<std::string> prefixes;
    prefixes.reserve(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        std::string prefix = "    ";
        Scalar::quote(header[c].empty() ? "column" + std::to_string(c + 1) : header[c], prefix);
        prefix += ": ";
        prefixes.push_back(std::move(prefix));
    }

    std::string out;
    size_t prefixSize = 0;
    for (const auto& p : prefixes) prefixSize += p.size() + 3;
    out.reserve(textSize(table) + textSize(table) / 8 + (table.size() - 1) * (prefixSize + 10) + 8);
    out += "[\n";
    for (size_t r = 1; r < table.size(); ++r) {
        const Row& row = table[r];
        out += "  {\n";
        for (size_t c = 0; c < header.size(); ++c) {
            out += prefixes[c];
            std::string_view cell = c < row.size() ? std::string_view(row[c]) : std::string_view();
            Scalar value = infer(cell);
            switch (value.kind) {
                case Scalar::Kind::boolean: out += value.boolValue ? "true" : "false"; break;
                case Scalar::Kind::number: out += value.text; break;
                case Scalar::Kind::null: out += "null"; break;
                case Scalar::Kind::string: Scalar::quote(value.text, out); break;
            }
            if (c + 1 < header.size()) out.push_back(',');
            out.push_back('\n');
        }
        out += r + 1 < table.size() ? "  },\n" : "  }\n";
    }
    out += "]\n";
    return out;
}

std::string DataConverter::writeHTMLTable(const Table& table, std::string_view title) {
    std::string out;
    out.reserve(textSize(table) + table.size() * 24 + 640);
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
    for (size_t r = 0; r < table.size(); ++r) {
        const char* tag = r == 0 ? "th" : "td";
        out += "<tr>";
        for (const auto& cell : table[r]) {
            out += '<';
            out += tag;
            out += '>';
            appendMarkupEscaped(cell, out);
            out += "</";
            out += tag;
            out += '>';
        }
        out += "</tr>\n";
    }
    out += "</table>\n</body>\n</html>\n";
    return out;
}

std::string DataConverter::writeMarkdownTable(const Table& table) {
    if (table.empty()) return {};
    size_t columns = 0;
    for (const auto& row : table) columns = std::max(columns, row.size());

    std::string out;
    out.reserve(textSize(table) + table.size() * (columns * 3 + 4) + 16);
    auto writeRow = [&](const Row& row) {
        out += "| ";
        for (size_t c = 0; c < columns; ++c) {
            if (c > 0) out += " | ";
            if (c >= row.size()) continue;  // padding
            const std::string& cell = row[c];
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
        out += " |\n";
    };
    writeRow(table.front());
    out += "| ";
    for (size_t c = 0; c < columns; ++c) out += c > 0 ? " | ---" : "---";
    out += " |\n";
    for (size_t r = 1; r < table.size(); ++r) writeRow(table[r]);
    return out;
}

}  // namespace calvoro
