#include "app/entry/mcp_frame_scanner.h"

#include "core/json_codec.h"
#include "core/utf8.h"

namespace calvoro {

namespace {

using Json = nlohmann::ordered_json;

// Longer than any spelling of the keys looked for, escapes included ("\u0069\u0064" is "id").
constexpr size_t maxKeyBytes = 64;

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int hexDigit(unsigned char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void FrameScanner::feed(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i) {
        if (state_ == State::failed) return;
        // What makes a frame this large is nearly always one long string: its plain characters
        // are passed over in bulk.
        if (state_ == State::string && !capturingKey_ && !capturingId_ && !highSurrogate_) {
            while (i < n && p[i] >= 0x20 && p[i] < 0x80 && p[i] != '"' && p[i] != '\\') ++i;
            if (i == n) return;
        }
        step(p[i]);
    }
}

std::optional<Json> FrameScanner::requestId() const {
    if (state_ != State::done || !methodIsString_ || isResponse_ || !id_ || id_->empty()) return std::nullopt;
    auto value = parseJSON(*id_);
    if (!value || !(value->is_string() || value->is_number() || value->is_null())) return std::nullopt;
    return value;
}

void FrameScanner::capture(unsigned char c) {
    if (capturingKey_) {
        if (key_.size() <= maxKeyBytes) key_ += static_cast<char>(c);
    } else if (capturingId_) {
        if (idText_.size() <= maxIdBytes) idText_ += static_cast<char>(c);
    }
}

void FrameScanner::beginValue(unsigned char c) {
    if (atTopLevel()) {
        switch (member_) {
            case Member::method: methodIsString_ = c == '"'; break;
            case Member::response: isResponse_ = true; break;
            case Member::id:
                if (c == '"' || c == '-' || isDigit(c) || c == 'n') {
                    capturingId_ = true;
                    idText_.clear();
                } else {
                    id_ = std::string();  // an object, an array or a Boolean names no request
                }
                break;
            case Member::other: break;
        }
    }
    capture(c);
    switch (c) {
        case '{':
        case '[':
            if (stack_.size() >= maxDepth) return fail();
            stack_.push_back(static_cast<char>(c));
            state_ = c == '{' ? State::keyOrClose : State::valueOrClose;
            return;
        case '"': state_ = State::string; return;
        case '-': state_ = State::minus; return;
        case '0': state_ = State::zero; return;
        case 't': literal_ = "rue"; break;
        case 'f': literal_ = "alse"; break;
        case 'n': literal_ = "ull"; break;
        default:
            if (!isDigit(c)) return fail();
            state_ = State::integer;
            return;
    }
    literalAt_ = 0;
    state_ = State::literal;
}

void FrameScanner::endValue() {
    if (capturingId_) {
        capturingId_ = false;
        id_ = idText_.size() <= maxIdBytes ? idText_ : std::string();
    }
    state_ = stack_.empty() ? State::done : State::afterValue;
}

void FrameScanner::endString() {
    if (!stringIsKey_) return endValue();
    stringIsKey_ = false;
    state_ = State::colon;
    if (!capturingKey_) return;
    capturingKey_ = false;
    member_ = Member::other;
    if (key_.size() > maxKeyBytes) return;
    const auto key = parseJSON(key_);
    if (!key || !key->is_string()) return;
    const auto& name = key->get_ref<const std::string&>();
    if (name == "id") member_ = Member::id;
    else if (name == "method") member_ = Member::method;
    else if (name == "result" || name == "error") member_ = Member::response;
}

// Lone surrogates are noted where the frame reader refuses them: only \udc80 to \udcff name a byte.
void FrameScanner::endEscape(char32_t u) {
    state_ = State::string;
    if (highSurrogate_) {
        highSurrogate_ = false;
        if (u >= 0xDC00 && u <= 0xDFFF) return;
        strayEscape_ = true;
    }
    if (u >= 0xD800 && u <= 0xDBFF) highSurrogate_ = true;
    else if (u >= 0xDC00 && u <= 0xDFFF && (u < 0xDC80 || u > 0xDCFF)) strayEscape_ = true;
}

// A number ends at the first byte that cannot go on with it; that byte is read next.
void FrameScanner::endNumber(unsigned char c) {
    endValue();
    step(c);
}

void FrameScanner::step(unsigned char c) {
    switch (state_) {
        case State::failed: return;
        case State::start:
        case State::done:
        case State::value:
        case State::valueOrClose:
        case State::keyOrClose:
        case State::key:
        case State::colon:
        case State::afterValue: return stepStructure(c);
        case State::string:
        case State::utf8:
        case State::escape:
        case State::unicode: return stepString(c);
        case State::minus:
        case State::integer:
        case State::zero:
        case State::fraction:
        case State::dot:
        case State::exponent:
        case State::exponentSign:
        case State::exponentDigits: return stepNumber(c);
        case State::literal:
            if (c != static_cast<unsigned char>(literal_[literalAt_])) return fail();
            capture(c);
            if (++literalAt_ == literal_.size()) endValue();
            return;
    }
}

// Between values: the braces, brackets, keys, colons and commas around them.
void FrameScanner::stepStructure(unsigned char c) {
    switch (state_) {
        case State::start:
            if (isBlank(c)) return;
            if (c != '{') return fail();
            stack_.push_back('{');
            state_ = State::keyOrClose;
            return;
        case State::done:
            if (!isBlank(c)) fail();
            return;
        case State::value:
            if (isBlank(c)) return;
            return beginValue(c);
        case State::valueOrClose:
            if (isBlank(c)) return;
            if (c != ']') return beginValue(c);
            stack_.pop_back();
            return endValue();
        case State::keyOrClose:
            if (isBlank(c)) return;
            if (c == '}') {
                stack_.pop_back();
                return endValue();
            }
            [[fallthrough]];
        case State::key:
            if (isBlank(c)) return;
            if (c != '"') return fail();
            stringIsKey_ = true;
            capturingKey_ = atTopLevel();
            key_.clear();
            capture(c);
            state_ = State::string;
            return;
        case State::colon:
            if (isBlank(c)) return;
            if (c != ':') return fail();
            state_ = State::value;
            return;
        case State::afterValue:
            if (isBlank(c)) return;
            if (c == ',') {
                state_ = stack_.back() == '{' ? State::key : State::value;
                return;
            }
            if (c != (stack_.back() == '{' ? '}' : ']')) return fail();
            stack_.pop_back();
            return endValue();
        default: return;
    }
}

// Inside a string: plain characters, UTF-8 sequences and escapes.
void FrameScanner::stepString(unsigned char c) {
    switch (state_) {
        case State::string:
            if (highSurrogate_ && c != '\\') strayEscape();
            if (c < 0x20) return fail();
            capture(c);
            if (c == '"') return endString();
            if (c == '\\') {
                state_ = State::escape;
                return;
            }
            if (c < 0x80) return;
            // Raw bytes must be UTF-8, as everywhere in a frame.
            if (const auto start = utf8Start(c)) {
                utf8Left_ = static_cast<int>(start->length) - 1;
                utf8Low_ = start->secondLow;
                utf8High_ = start->secondHigh;
                state_ = State::utf8;
                return;
            }
            return fail();
        case State::utf8:
            if (c < utf8Low_ || c > utf8High_) return fail();
            capture(c);
            utf8Low_ = 0x80;
            utf8High_ = 0xBF;
            if (--utf8Left_ == 0) state_ = State::string;
            return;
        case State::escape:
            capture(c);
            if (c == 'u') {
                hexLeft_ = 4;
                hexValue_ = 0;
                state_ = State::unicode;
                return;
            }
            if (highSurrogate_) strayEscape();
            if (std::string_view("\"\\/bfnrt").find(static_cast<char>(c)) == std::string_view::npos) return fail();
            state_ = State::string;
            return;
        case State::unicode: {
            const int digit = hexDigit(c);
            if (digit < 0) return fail();
            capture(c);
            hexValue_ = hexValue_ * 16 + static_cast<char32_t>(digit);
            if (--hexLeft_ == 0) endEscape(hexValue_);
            return;
        }
        default: return;
    }
}

// A number, from its sign to its exponent's digits.
void FrameScanner::stepNumber(unsigned char c) {
    switch (state_) {
        case State::minus:
            if (!isDigit(c)) return fail();
            capture(c);
            state_ = c == '0' ? State::zero : State::integer;
            return;
        case State::integer:
            if (isDigit(c)) return capture(c);
            [[fallthrough]];
        case State::zero:
            if (c == '.') {
                capture(c);
                state_ = State::dot;
                return;
            }
            [[fallthrough]];
        case State::fraction:
            if (state_ == State::fraction && isDigit(c)) return capture(c);
            if (c == 'e' || c == 'E') {
                capture(c);
                state_ = State::exponent;
                return;
            }
            endNumber(c);
            return;
        case State::dot:
            if (!isDigit(c)) return fail();
            capture(c);
            state_ = State::fraction;
            return;
        case State::exponent:
            if (c == '+' || c == '-') {
                capture(c);
                state_ = State::exponentSign;
                return;
            }
            [[fallthrough]];
        case State::exponentSign:
            if (!isDigit(c)) return fail();
            capture(c);
            state_ = State::exponentDigits;
            return;
        case State::exponentDigits:
            if (isDigit(c)) return capture(c);
            endNumber(c);
            return;
        default: return;
    }
}

}  // namespace calvoro
