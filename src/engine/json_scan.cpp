#include "engine/json_scan.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace calvoro::validation {

namespace {

class Scanner {
public:
    Scanner(std::string_view text, const std::function<void(const char*)>& passed)
        : p_(text.data()), end_(text.data() + text.size()), passed_(passed) {}

    std::optional<JSONOutline> run() {
        if (end_ - p_ >= 3 && std::string_view(p_, 3) == "\xEF\xBB\xBF") p_ += 3;
        JSONOutline outline;
        // Containers open around the current point: '[' or '{'.
        std::vector<char> open;
        skipSpace();
        if (p_ == end_) return std::nullopt;
        if (*p_ == '[') outline.root = JSONOutline::Root::array;
        else if (*p_ == '{') outline.root = JSONOutline::Root::object;
        for (;;) {
            // A value is expected here.
            skipSpace();
            if (p_ == end_) return std::nullopt;
            const char c = *p_;
            if (c == '[' || c == '{') {
                ++p_;
                open.push_back(c);
                skipSpace();
                if (p_ != end_ && *p_ == (c == '[' ? ']' : '}')) {
                    ++p_;
                    open.pop_back();
                } else {
                    if (open.size() == 1) outline.rootHasItem = true;
                    if (c == '{' && !key()) return std::nullopt;
                    continue;
                }
            } else if (!scalar()) {
                return std::nullopt;
            }
            // After a value: a comma, the end of containers, or the end of the text.
            for (;;) {
                skipSpace();
                if (open.empty()) {
                    if (p_ != end_) return std::nullopt;
                    return outline;
                }
                if (p_ == end_) return std::nullopt;
                if (*p_ == ',') {
                    ++p_;
                    if (open.back() == '{' && !key()) return std::nullopt;
                    break;
                }
                if (*p_ != (open.back() == '[' ? ']' : '}')) return std::nullopt;
                ++p_;
                open.pop_back();
            }
            if (passed_ && p_ - lastTold_ > (1 << 20)) {
                lastTold_ = p_;
                passed_(p_);
            }
        }
    }

private:
    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    // A member's name and its colon.
    bool key() {
        skipSpace();
        if (p_ == end_ || *p_ != '"' || !string()) return false;
        skipSpace();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        return true;
    }

    bool scalar() {
        switch (*p_) {
            case '"': return string();
            case 't': return word("true");
            case 'f': return word("false");
            case 'n': return word("null");
            default: return number();
        }
    }

    bool word(std::string_view w) {
        if (static_cast<size_t>(end_ - p_) < w.size() || std::string_view(p_, w.size()) != w) return false;
        p_ += w.size();
        return true;
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // Four hex digits after "\u"; -1 when they are not.
    int unit() {
        if (end_ - p_ < 4) return -1;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hexValue(p_[i]);
            if (h < 0) return -1;
            v = v * 16 + h;
        }
        p_ += 4;
        return v;
    }

    // A string from its opening quote; bytes past ASCII were checked as UTF-8 with the whole.
    bool string() {
        ++p_;
        for (;;) {
            while (p_ != end_ && static_cast<unsigned char>(*p_) >= 0x20 && *p_ != '"' && *p_ != '\\') ++p_;
            if (p_ == end_ || static_cast<unsigned char>(*p_) < 0x20) return false;
            if (*p_++ == '"') return true;
            if (p_ == end_) return false;
            const char e = *p_++;
            if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') continue;
            if (e != 'u') return false;
            const int u = unit();
            if (u < 0 || (u >= 0xDC00 && u <= 0xDFFF)) return false;
            if (u >= 0xD800 && u <= 0xDBFF) {
                // A high surrogate stands only before a low one.
                if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
                p_ += 2;
                const int low = unit();
                if (low < 0xDC00 || low > 0xDFFF) return false;
            }
        }
    }

    bool digits() {
        const char* from = p_;
        while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        return p_ != from;
    }

    bool number() {
        const char* start = p_;
        if (*p_ == '-') ++p_;
        if (p_ == end_) return false;
        if (*p_ == '0') ++p_;
        else if (!digits()) return false;
        const bool zeroWhole = p_ - start <= 2 && p_[-1] == '0';
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (!digits()) return false;
        }
        bool positiveExponent = false, exponent = false;
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            exponent = true;
            ++p_;
            positiveExponent = p_ == end_ || *p_ != '-';
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (!digits()) return false;
        }
        // A number beyond what a double holds is refused; one too small for it is zero.
        if (!exponent && p_ - start < 300) return true;
        double value = 0;
        const auto result = std::from_chars(start, p_, value);
        if (result.ec != std::errc::result_out_of_range) return true;
        return zeroWhole || (exponent && !positiveExponent);
    }

    const char* p_;
    const char* end_;
    const char* lastTold_ = p_;
    const std::function<void(const char*)>& passed_;
};

}  // namespace

std::optional<JSONOutline> scanJSON(std::string_view text, const std::function<void(const char*)>& passed) {
    return Scanner(text, passed).run();
}

}  // namespace calvoro::validation
