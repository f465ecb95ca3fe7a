#pragma once

#include <array>
#include <cstring>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The CSV and TSV reader as a single pass that hands each row to a visitor, so that a
// conversion streams from the source text to the output without holding a table.
namespace calvoro::datatable {

using Cells = std::span<const std::string_view>;

// Calls visit(Cells) for every row of text, in order; visit returns false to stop early.
// The cells point into text, or into storage that is reused once visit returns.
template <class Visitor>
void forEachDelimitedRow(std::string_view text, char delimiter, Visitor&& visit) {
    // Characters that end a run of plain field text outside quotes.
    std::array<bool, 256> special{};
    special[static_cast<unsigned char>(delimiter)] = true;
    special['"'] = special['\r'] = special['\n'] = true;

    std::vector<std::string_view> row;
    std::deque<std::string> owned;  // unquoted texts of the row's quoted fields; a deque keeps them in place
    size_t ownedUsed = 0;
    std::string field;       // a field that had quotes in it, collected so far
    bool collected = false;  // field holds the start of the current field
    const char* data = text.data();
    const size_t n = text.size();
    size_t i = 0;
    bool inQuotes = false;

    auto endField = [&](size_t from, size_t to) {
        if (!collected) {
            row.emplace_back(data + from, to - from);
            return;
        }
        if (ownedUsed == owned.size()) owned.emplace_back();
        std::string& cell = owned[ownedUsed++];
        cell.assign(field);
        cell.append(data + from, to - from);
        row.emplace_back(cell);
        field.clear();
        collected = false;
    };
    // A row of exactly one empty field is a blank line and yields no row.
    auto endRow = [&] {
        bool keep = !(row.size() == 1 && row[0].empty());
        bool more = !keep || visit(Cells(row));
        row.clear();
        ownedUsed = 0;
        return more;
    };

    while (i < n) {
        if (inQuotes) {
            const void* found = std::memchr(data + i, '"', n - i);
            if (!found) {  // an unterminated quoted field runs to the end
                field.append(data + i, n - i);
                i = n;
                break;
            }
            size_t q = static_cast<size_t>(static_cast<const char*>(found) - data);
            field.append(data + i, q - i);
            if (q + 1 < n && data[q + 1] == '"') {
                field.push_back('"');
                i = q + 2;
            } else {
                inQuotes = false;
                i = q + 1;
            }
            continue;
        }
        size_t j = i;
        while (j < n && !special[static_cast<unsigned char>(data[j])]) ++j;
        if (j == n) break;
        char c = data[j];
        if (c == '"') {
            field.append(data + i, j - i);
            collected = true;
            inQuotes = true;
            i = j + 1;
            continue;
        }
        endField(i, j);
        i = j + 1;
        if (c == delimiter) continue;
        if (c == '\r' && i < n && data[i] == '\n') ++i;
        if (!endRow()) return;
    }
    // The last field, unless the text ended with a line end (or was empty).
    if (i < n || collected || !row.empty()) {
        endField(i, n);
        endRow();
    }
}

}  // namespace calvoro::datatable
