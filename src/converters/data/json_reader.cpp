#include <algorithm>
#include <charconv>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "converters/data/data_converter.h"
#include "converters/data/text_scan.h"
#include "core/conversion_error.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

using Json = nlohmann::ordered_json;

// Deeper than any table's cell holds and than the platform's parsers take.
constexpr size_t maxNesting = 512;

// The library's document builder, refusing a value before it opens a level past the bound: the
// parse keeps its own stack, but writing a cell's text recurses once per level.
class BoundedBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    explicit BoundedBuilder(Json& into) : json_sax_dom_parser(into, false) {}
    bool start_object(size_t n) { return enter() && json_sax_dom_parser::start_object(n); }
    bool start_array(size_t n) { return enter() && json_sax_dom_parser::start_array(n); }
    bool end_object() { return leave() && json_sax_dom_parser::end_object(); }
    bool end_array() { return leave() && json_sax_dom_parser::end_array(); }

private:
    bool enter() {
        if (++depth_ <= maxNesting) return true;
        throw ConversionError::corruptFile("The JSON document nests too deeply");
    }
    bool leave() {
        --depth_;
        return true;
    }
    size_t depth_ = 0;
};

// Only arrays and objects count as a table document.
std::optional<Json> parseContainer(std::string_view text) {
    Json value;
    BoundedBuilder builder(value);
    if (!Json::sax_parse(text.begin(), text.end(), &builder) || !(value.is_array() || value.is_object())) return std::nullopt;
    return value;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<char32_t> hexUnit(std::string_view text, size_t at) {
    if (at + 4 > text.size()) return std::nullopt;
    char32_t u = 0;
    for (size_t k = 0; k < 4; ++k) {
        int h = hexValue(text[at + k]);
        if (h < 0) return std::nullopt;
        u = (u << 4) | static_cast<char32_t>(h);
    }
    return u;
}

// Decodes the escape whose backslash is at text[i] into out; returns the index after it.
// An escape that is not JSON keeps the character after the backslash as it is.
size_t decodeEscape(std::string_view text, size_t i, std::string& out) {
    if (i + 1 >= text.size()) return i + 1;
    char c = text[i + 1];
    switch (c) {
        case 'b': out.push_back('\b'); return i + 2;
        case 'f': out.push_back('\f'); return i + 2;
        case 'n': out.push_back('\n'); return i + 2;
        case 'r': out.push_back('\r'); return i + 2;
        case 't': out.push_back('\t'); return i + 2;
        case 'u': {
            auto u = hexUnit(text, i + 2);
            if (!u) break;
            size_t next = i + 6;
            char32_t scalar = *u;
            if (scalar >= 0xD800 && scalar <= 0xDBFF) {
                auto low = next + 1 < text.size() && text[next] == '\\' && text[next + 1] == 'u' ? hexUnit(text, next + 2)
                                                                                                   : std::nullopt;
                if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                    scalar = 0x10000 + ((scalar - 0xD800) << 10) + (*low - 0xDC00);
                    next += 6;
                } else {
                    scalar = 0xFFFD;
                }
            } else if (scalar >= 0xDC00 && scalar <= 0xDFFF) {
                scalar = 0xFFFD;
            }
            datatext::appendUTF8(scalar, out);
            return next;
        }
        default: break;
    }
    out.push_back(c);
    return i + 2;
}

}  // namespace

std::vector<std::string> DataConverter::orderedKeysOfFirstObject(std::string_view text) {
    std::vector<std::string> keys;
    size_t depth = 0;        // open brackets
    size_t firstDepth = 0;   // depth inside the first object, 0 until it begins
    bool awaitingKey = false;
    std::string current;
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        char c = text[i];
        if (c == '"') {
            // Keys are decoded as the parser decodes them, so that an escaped key and its
            // plain spelling name one column.
            current.clear();
            ++i;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\') {
                    i = decodeEscape(text, i, current);
                } else {
                    size_t run = i;
                    while (run < n && text[run] != '"' && text[run] != '\\') ++run;
                    current.append(text.substr(i, run - i));
                    i = run;
                }
            }
            ++i;  // past the closing quote (or the end)
            if (awaitingKey && depth == firstDepth) {
                keys.push_back(current);
                awaitingKey = false;
            }
            continue;
        }
        switch (c) {
            case '{':
                ++depth;
                if (firstDepth == 0) {
                    firstDepth = depth;
                    awaitingKey = true;
                }
                break;
            case '[': ++depth; break;
            case '}':
                if (firstDepth != 0 && depth == firstDepth) return keys;
                if (depth > 0) --depth;
                break;
            case ']':
                if (depth > 0) --depth;
                break;
            case ',':
                if (firstDepth != 0 && depth == firstDepth) awaitingKey = true;
                break;
            default: break;
        }
        ++i;
    }
    return keys;
}

std::string DataConverter::stringify(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return {};
        case Json::value_t::boolean: return value.get<bool>() ? "true" : "false";
        case Json::value_t::number_float: return formatShortestDouble(value.get<double>());
        case Json::value_t::number_integer: return std::to_string(value.get<int64_t>());
        case Json::value_t::number_unsigned: return std::to_string(value.get<uint64_t>());
        case Json::value_t::string: return value.get_ref<const std::string&>();
        default: break;
    }
    try {
        return value.dump(-1, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception&) {
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

DataConverter::Table DataConverter::rowsFromJSON(std::string_view text) {
    std::string_view trimmed = datatext::trimUnicodeWhitespace(text);

    std::vector<Json> items;
    if (auto whole = parseContainer(trimmed)) {
        if (whole->is_array()) {
            items = std::move(whole->get_ref<Json::array_t&>());
        } else {
            items.push_back(std::move(*whole));
        }
    } else {
        bool any = false;
        size_t start = 0;
        while (start <= trimmed.size()) {
            size_t end = trimmed.find('\n', start);
            if (end == std::string_view::npos) end = trimmed.size();
            std::string_view piece = datatext::trimBlanksAndTabs(trimmed.substr(start, end - start));
            if (!piece.empty()) {
                if (auto value = parseContainer(piece)) {
                    items.push_back(std::move(*value));
                    any = true;
                }
            }
            start = end + 1;
        }
        if (!any) throw ConversionError::corruptFile("Not valid JSON or NDJSON");
    }

    Table table;
    if (items.empty()) return table;

    if (items.front().is_array()) {
        for (const auto& item : items) {
            if (!item.is_array()) continue;
            Row row;
            row.reserve(item.size());
            for (const auto& element : item) row.push_back(stringify(element));
            table.push_back(std::move(row));
        }
        return table;
    }

    std::vector<std::string> columns;
    std::unordered_map<std::string, size_t> columnIndex;
    auto take = [&](const std::string& key) {
        if (columnIndex.emplace(key, columns.size()).second) columns.push_back(key);
    };
    for (const auto& key : orderedKeysOfFirstObject(trimmed)) take(key);
    for (const auto& item : items) {
        if (!item.is_object()) continue;
        bool allTaken = std::all_of(item.items().begin(), item.items().end(),
                                    [&](const auto& entry) { return columnIndex.count(entry.key()) > 0; });
        if (allTaken) continue;
        std::vector<std::string_view> keys;
        for (const auto& entry : item.items()) keys.push_back(entry.key());
        std::sort(keys.begin(), keys.end());  // UTF-8 byte order is scalar-value order
        for (auto key : keys) take(std::string(key));
    }

    if (columns.empty()) {
        for (const auto& item : items) table.push_back(Row{stringify(item)});
        return table;
    }
    table.reserve(items.size() + 1);
    table.push_back(columns);
    for (const auto& item : items) {
        if (!item.is_object()) continue;
        Row row(columns.size());
        for (const auto& entry : item.items()) row[columnIndex.at(entry.key())] = stringify(entry.value());
        table.push_back(std::move(row));
    }
    return table;
}

}  // namespace calvoro
