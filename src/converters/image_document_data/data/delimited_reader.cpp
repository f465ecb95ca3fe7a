#include <array>
#include <cstring>

#include "converters/image_document_data/data/data_converter.h"

namespace calvoro {

DataConverter::Table DataConverter::parseDelimited(std::string_view text, char delimiter) {
    // Characters that end a run of plain field text outside quotes.
    std::array<bool, 256> special{};
    special[static_cast<unsigned char>(delimiter)] = true;
    special['"'] = special['\r'] = special['\n'] = true;

    Table rows;
    Row row;
    std::string field;  // only used once a field has quotes in it; plain fields go straight into the row
    const char* data = text.data();
    const size_t n = text.size();
    size_t i = 0;
    bool inQuotes = false;

    auto endRow = [&] {
        size_t width = row.size();
        if (width == 1 && row[0].empty()) {
            row.clear();  // a blank line yields no row
            return;
        }
        rows.push_back(std::move(row));
        row = Row();
        row.reserve(width);
    };
    auto endField = [&](size_t from, size_t to) {
        if (field.empty()) {
            row.emplace_back(data + from, to - from);
        } else {
            field.append(data + from, to - from);
            row.push_back(std::move(field));
            field.clear();
        }
    };

    while (i < n) {
        if (inQuotes) {
            const void* found = std::memchr(data + i, '"', n - i);
            if (!found) {  // an unterminated quoted field runs to the end
                field.append(data + i, n - i);
                i = n;
                break;
            }
            size_t q = static_cast<const char*>(found) - data;
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
        if (j == n) {
            field.append(data + i, n - i);
            i = n;
            break;
        }
        char c = data[j];
        if (c == '"') {
            field.append(data + i, j - i);
            inQuotes = true;
            i = j + 1;
            continue;
        }
        endField(i, j);
        i = j + 1;
        if (c == delimiter) continue;
        if (c == '\r' && i < n && data[i] == '\n') ++i;
        endRow();
    }
    if (!(field.empty() && row.empty())) {
        row.push_back(std::move(field));
        endRow();
    }
    return rows;
}

}  // namespace calvoro
