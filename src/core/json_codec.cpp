#include "core/json_codec.h"

#include <cstdint>
#include <cstring>

#include "core/text_util.h"
#include "core/utf8.h"

namespace calvoro {

using Json = nlohmann::ordered_json;

namespace {

const char kHex[] = "0123456789abcdef";

void appendEscapedString(std::string_view bytes, std::string& out) {
    out += '"';
    while (!bytes.empty()) {
        const auto c = static_cast<unsigned char>(bytes[0]);
        size_t n = 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else if (c < 0x80) {
                    out += static_cast<char>(c);
                } else if ((n = utf8SequenceLength(bytes)) != 0) {
                    out.append(bytes.substr(0, n));
                } else {
                    // A byte that is not UTF-8: the escape that reads back as that byte.
                    n = 1;
                    out += "\\udc";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                }
        }
        bytes.remove_prefix(n);
    }
    out += '"';
}

void newline(std::string& out, int indent, int depth) {
    if (indent < 0) return;
    out += '\n';
    out.append(static_cast<size_t>(indent) * static_cast<size_t>(depth), ' ');
}

void dumpValue(const Json& value, int indent, int depth, std::string& out) {
    switch (value.type()) {
        case Json::value_t::object: {
            if (value.empty()) {
                out += "{}";
                return;
            }
            out += '{';
            bool first = true;
            for (const auto& [key, item] : value.items()) {
                if (!first) out += ',';
                first = false;
                newline(out, indent, depth + 1);
                appendEscapedString(key, out);
                out += indent < 0 ? ":" : ": ";
                dumpValue(item, indent, depth + 1, out);
            }
            newline(out, indent, depth);
            out += '}';
            return;
        }
        case Json::value_t::array: {
            if (value.empty()) {
                out += "[]";
                return;
            }
            out += '[';
            bool first = true;
            for (const auto& item : value) {
                if (!first) out += ',';
                first = false;
                newline(out, indent, depth + 1);
                dumpValue(item, indent, depth + 1, out);
            }
            newline(out, indent, depth);
            out += ']';
            return;
        }
        case Json::value_t::string: appendEscapedString(value.get_ref<const std::string&>(), out); return;
        default: out += value.dump(-1, ' ', false, Json::error_handler_t::replace); return;
    }
}

class Parser {
public:
    Parser(std::string_view text, int maxDepth) : text_(text), maxDepth_(maxDepth) {}

    std::optional<Json> document() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        Json value;
        if (!parseValue(value, 0)) return std::nullopt;
        skipSpace();
        if (pos_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) ++pos_;
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool parseValue(Json& value, int depth) {
        skipSpace();
        if (pos_ >= text_.size()) return false;
        switch (text_[pos_]) {
            case '{': return depth < maxDepth_ && parseObject(value, depth + 1);
            case '[': return depth < maxDepth_ && parseArray(value, depth + 1);
            case '"': {
                std::string s;
                if (!parseString(s)) return false;
                value = std::move(s);
                return true;
            }
            case 't': value = true; return literal("true");
            case 'f': value = false; return literal("false");
            case 'n': value = nullptr; return literal("null");
            default: return parseNumber(value);
        }
    }

    bool parseObject(Json& value, int depth) {
        ++pos_;
        value = Json::object();
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            std::string key;
            if (pos_ >= text_.size() || text_[pos_] != '"' || !parseString(key)) return false;
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != ':') return false;
            ++pos_;
            Json item;
            if (!parseValue(item, depth)) return false;
            value[key] = std::move(item);
            skipSpace();
            if (pos_ >= text_.size()) return false;
            if (text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            if (text_[pos_++] != ',') return false;
        }
    }

    bool parseArray(Json& value, int depth) {
        ++pos_;
        value = Json::array();
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            Json item;
            if (!parseValue(item, depth)) return false;
            value.push_back(std::move(item));
            skipSpace();
            if (pos_ >= text_.size()) return false;
            if (text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            if (text_[pos_++] != ',') return false;
        }
    }

    bool digits() {
        const size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    // The number's text by the JSON grammar; its value as the JSON library reads numbers.
    bool parseNumber(Json& value) {
        const size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '0') {
            ++pos_;
        } else if (!digits()) {
            return false;
        }
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (!digits()) return false;
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (!digits()) return false;
        }
        const std::string_view token = text_.substr(start, pos_ - start);
        value = Json::parse(token.begin(), token.end(), nullptr, false);
        return !value.is_discarded();
    }

    std::optional<char32_t> hex4() {
        if (text_.size() - pos_ < 4) return std::nullopt;
        char32_t u = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            u <<= 4;
            if (c >= '0' && c <= '9') u |= static_cast<char32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') u |= static_cast<char32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') u |= static_cast<char32_t>(c - 'A' + 10);
            else return std::nullopt;
        }
        return u;
    }

    bool parseString(std::string& out) {
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size()) return false;
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return false;
            if (c >= 0x80) {
                // Raw bytes must be UTF-8: only the escape names a byte that is not.
                const size_t n = utf8SequenceLength(text_.substr(pos_));
                if (n == 0) return false;
                out.append(text_.substr(pos_, n));
                pos_ += n;
                continue;
            }
            ++pos_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= text_.size()) return false;
            switch (text_[pos_++]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    auto u = hex4();
                    if (!u) return false;
                    if (*u >= 0xD800 && *u <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
                        const size_t back = pos_;
                        pos_ += 2;
                        auto low = hex4();
                        if (!low) return false;
                        if (*low >= 0xDC00 && *low <= 0xDFFF) {
                            appendUTF8(0x10000 + ((*u - 0xD800) << 10) + (*low - 0xDC00), out);
                            break;
                        }
                        pos_ = back;
                    }
                    if (*u >= 0xDC80 && *u <= 0xDCFF) {
                        out += static_cast<char>(*u - 0xDC00);
                    } else if (*u >= 0xD800 && *u <= 0xDFFF) {
                        return false;
                    } else {
                        appendUTF8(*u, out);
                    }
                    break;
                }
                default: return false;
            }
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    int maxDepth_;
};

}  // namespace

std::string dumpJSON(const Json& value, int indent) {
    std::string out;
    dumpValue(value, indent, 0, out);
    return out;
}

std::optional<Json> parseJSON(std::string_view text, int maxDepth) {
    try {
        return Parser(text, maxDepth).document();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace calvoro
