#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/supported_format.h"

namespace calvoro {

// One query item of a URL, with its percent escapes decoded; a value is absent when the item
// has no "=".
struct URLQueryItem {
    std::string name;
    std::optional<std::string> value;
};

// The parts of a URL that a hand-off needs, split the way URL components are: scheme, host and
// query items as written (scheme and host keep their letter case). Nothing when the text is not a
// well-formed URL (blanks or controls in it, a broken percent escape, no scheme).
struct URLParts {
    std::string scheme;
    std::string host;
    std::optional<std::vector<URLQueryItem>> queryItems;  // absent without a "?"

    static std::optional<URLParts> split(std::string_view url);
    // The value of the first item with exactly this name (absent when there is no such item or
    // that first item has no value).
    std::optional<std::string> firstValue(std::string_view name) const;
};

// A request that the file manager's menu hands to the program as a "calvoro:" URL:
//   calvoro://convert?src=<absolute path>&fmt=<format identifier>
//   calvoro://compress?src=<absolute path>&level=<level>   or   ...&choose=1
class HandoffRequest {
public:
    enum class Action { convert, compress, chooseCompression };

    Action action = Action::convert;
    std::filesystem::path source;
    // convert: the target format.
    std::optional<SupportedFormat> target;
    // compress: the level as written; the reader of levels decides whether it names one.
    std::string level;

    // Why a URL is no hand-off request.
    struct Refusal {
        enum class Reason {
            malformed,       // not a URL that can be split into its parts
            unknownAction,   // another scheme, or a host other than "convert" and "compress"
            noSource,        // "src" missing, empty or not an absolute path
            unknownFormat,   // convert: "fmt" missing or no format identifier
            noLevel,         // compress without the picker: "level" missing or empty
        };
        Reason reason;
        // What the URL gave instead: the action (scheme and host), the format or the source.
        std::string value;
    };

    // The source must be an absolute path; whether a file lies there is the receiver's check.
    static std::variant<HandoffRequest, Refusal> parse(std::string_view url);
    // Nothing for a URL that is not a well-formed hand-off request.
    static std::optional<HandoffRequest> read(std::string_view url);
};

}  // namespace calvoro
