#pragma once

// A well-formedness check of JSON text in one pass, building nothing: what the output check
// needs, at the speed of reading the bytes.
#include <functional>
#include <optional>
#include <string_view>

namespace calvoro::validation {

struct JSONOutline {
    enum class Root { array, object, scalar };
    Root root = Root::scalar;
    bool rootHasItem = false;  // a top-level array or object holds something
};

// The outline of text when it is one well-formed JSON value (RFC 8259, an optional byte-order
// mark, numbers that fit a double); nothing otherwise. The text must be known to be UTF-8.
// passed(p) is told now and then that the bytes before p will not be read again.
std::optional<JSONOutline> scanJSON(std::string_view text, const std::function<void(const char*)>& passed = {});

}  // namespace calvoro::validation
