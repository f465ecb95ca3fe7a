#include "app/entry/mcp_frame_start.h"

#include <string>

namespace calvoro {

namespace {

using Json = nlohmann::ordered_json;

// Reads JSON tokens off the front of text; every step fails at the end of text, so nothing is
// ever read past what arrived.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void skipBlanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) ++at_;
    }
    bool take(char c) {
        skipBlanks();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    // One whole value, as its text; nothing when it is cut off or broken.
    std::optional<std::string_view> value() {
        skipBlanks();
        const size_t start = at_;
        if (at_ >= text_.size()) return std::nullopt;
        if (text_[at_] == '"') {
            if (!skipString()) return std::nullopt;
        } else if (text_[at_] == '{' || text_[at_] == '[') {
            if (!skipNested()) return std::nullopt;
        } else {
            while (at_ < text_.size() && std::string_view(",}] \t\r\n").find(text_[at_]) == std::string_view::npos) ++at_;
            // A number or word that reaches the end may go on in the bytes not read.
            if (at_ >= text_.size() || at_ == start) return std::nullopt;
        }
        return text_.substr(start, at_ - start);
    }

private:
    bool skipString() {
        for (++at_; at_ < text_.size(); ++at_) {
            if (text_[at_] == '\\') ++at_;
            else if (text_[at_] == '"') {
                ++at_;
                return true;
            }
        }
        return false;
    }
    // Counted, not recursed: any depth is skipped in constant stack.
    bool skipNested() {
        size_t depth = 0;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                if (!skipString()) return false;
                continue;
            }
            if (c == '{' || c == '[') ++depth;
            else if (c == '}' || c == ']') {
                if (--depth == 0) {
                    ++at_;
                    return true;
                }
            }
            ++at_;
        }
        return false;
    }

    std::string_view text_;
    size_t at_ = 0;
};

std::optional<Json> parsed(std::string_view text) {
    Json value = Json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Json> requestIdAtFrameStart(std::string_view start) {
    Reader reader(start);
    if (!reader.take('{')) return std::nullopt;
    std::optional<Json> id;
    bool namesMethod = false;
    for (;;) {
        const auto nameText = reader.value();
        const auto name = nameText ? parsed(*nameText) : std::nullopt;
        if (!name || !name->is_string() || !reader.take(':')) break;
        const std::string& key = name->get_ref<const std::string&>();
        if (key == "result" || key == "error") return std::nullopt;  // a response: never answered
        const auto valueText = reader.value();
        if (!valueText) break;
        if (key == "id" && !id) {
            auto value = parsed(*valueText);
            if (!value || !(value->is_string() || value->is_number() || value->is_null())) return std::nullopt;
            id = std::move(value);
        } else if (key == "method") {
            namesMethod = valueText->front() == '"' && parsed(*valueText).has_value();
        }
        if (id && namesMethod) return id;
        if (!reader.take(',')) break;
    }
    return std::nullopt;
}

}  // namespace calvoro
