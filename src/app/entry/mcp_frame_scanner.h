#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace calvoro {

// Reads a frame too large to hold as it streams past, in constant memory: it checks the JSON
// and keeps only what answering it needs, the top-level "id" and whether "method" is a string,
// wherever in the object they stand. A client's response ("result" or "error") is never
// answered.
class FrameScanner {
public:
    // The next bytes of the frame (without its line feed).
    void feed(std::string_view bytes);
    // Once the frame has ended: the id to answer, when the frame is one well-formed object
    // naming a string "method" and an id that is a string, a number or null.
    std::optional<nlohmann::ordered_json> requestId() const;
    // Whether a string holds a \u escape that names no character: a lone surrogate, other than
    // \udc80 to \udcff, which name bytes. Such a frame is JSON by its grammar, but no request.
    bool namesNoCharacter() const { return strayEscape_; }

    static constexpr size_t maxDepth = 256;
    static constexpr size_t maxIdBytes = 64 * 1024;

private:
    enum class State : uint8_t {
        start, value, valueOrClose, keyOrClose, key, colon, afterValue, done, failed,
        string, escape, unicode, utf8,
        minus, zero, integer, dot, fraction, exponent, exponentSign, exponentDigits,
        literal,
    };
    enum class Member : uint8_t { other, id, method, response };

    void step(unsigned char c);
    void stepStructure(unsigned char c);
    void stepString(unsigned char c);
    void stepNumber(unsigned char c);
    void beginValue(unsigned char c);
    void endValue();
    void endString();
    void endEscape(char32_t u);
    void endNumber(unsigned char c);
    void strayEscape() {
        strayEscape_ = true;
        highSurrogate_ = false;
    }
    void fail() { state_ = State::failed; }
    bool atTopLevel() const { return stack_.size() == 1; }
    void capture(unsigned char c);

    State state_ = State::start;
    std::vector<char> stack_;  // '{' or '[' per open container, at most maxDepth
    bool stringIsKey_ = false;
    bool highSurrogate_ = false;  // a \uD800-\uDBFF escape waits for its low half
    bool strayEscape_ = false;
    int hexLeft_ = 0;
    char32_t hexValue_ = 0;
    int utf8Left_ = 0;
    unsigned char utf8Low_ = 0x80, utf8High_ = 0xBF;
    std::string_view literal_;
    size_t literalAt_ = 0;

    // The top-level member being read: its key as written (capped) and, for "id", its value.
    Member member_ = Member::other;
    bool capturingKey_ = false, capturingId_ = false;
    std::string key_;
    std::string idText_;
    std::optional<std::string> id_;  // the last "id" read whole; an empty text when unusable
    bool methodIsString_ = false, isResponse_ = false;
};

}  // namespace calvoro
