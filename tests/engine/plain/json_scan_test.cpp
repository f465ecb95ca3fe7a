// The output check's JSON scanner against nlohmann's parser: the same verdict on hand-picked
// cases and on every cut and every one-byte change of a document that uses all of the grammar.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/utf8.h"
#include "engine/json_scan.h"
#include "engine/validation_checks.h"

using namespace calvoro::validation;

namespace {

bool scans(const std::string& text) {
    return calvoro::isValidUTF8(text) && scanJSON(text).has_value();
}

}  // namespace

TEST(JSONScan, AgreesWithAFullParser) {
    const std::vector<std::string> cases = {
        "", " ", "[]", "{}", "[1]", "[1,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{1:2}", "[01]", "[-0]", "[-]", "[1.]", "[.5]",
        "[1e5]", "[1E+5]", "[1e-5]", "[1e]", "[+1]", "[1e999]", "[-1e999]", "[1e-999]", "[0.0000e400]", "[true,false,null]",
        "[tru]", "[nul]", "[True]", "\"x\"", "42", " [1] ", "[1] x", "[1][2]", "\xEF\xBB\xBF[1]", "\xEF\xBB[1]",
        "[\"\\u00e9\\n\\t\\\"\\\\\\/\\b\\f\\r\"]", "[\"\\x\"]", "[\"\\u12\"]", "[\"\\uD83D\\uDE00\"]", "[\"\\uD83D\"]",
        "[\"\\uDE00\"]", "[\"\\uD83Dx\"]", "[\"\\uD83D\\u0041\"]", "[\"a\tb\"]", "[\"\xC3\xA9\"]", "[\"\xC3\"]", "[\"\xED\xA0\x80\"]",
        "[\"\xF4\x90\x80\x80\"]", "[\"\xC0\xAF\"]", "\xC3\xA9", std::string("[\0]", 3), std::string("[\"\0\"]", 5), "[[[[[]]]]]",
        "[[[[[]]]]", "{\"a\":{\"b\":[{}]}}", "{\"a\":{\"b\":[{}]}", "[1 2]", "[\"a\" \"b\"]", "\n\r\t[\n1\r]\t",
        std::string(400, '1'), "[" + std::string(400, '9') + "]", "[0." + std::string(400, '0') + "1]",
    };
    for (const auto& text : cases) EXPECT_EQ(scans(text), nlohmann::json::accept(text)) << text;

    const std::string document =
        "\xEF\xBB\xBF [ {\"name\": \"Z\\u00fcrich \\\"\xC3\xA9\\\" \\uD83D\\uDE00\", \"n\": -12.5e+3, \"ok\": true},"
        " {\"list\": [0, 1.25, false, null, {}], \"e\": 1E-2}, [] ]\n";
    ASSERT_TRUE(nlohmann::json::accept(document));
    EXPECT_TRUE(scans(document));
    for (size_t i = 0; i < document.size(); ++i) {
        const std::string cut = document.substr(0, i);
        EXPECT_EQ(scans(cut), nlohmann::json::accept(cut)) << cut;
        for (const char c : std::string("[]{},:\"\\ 0e-.atu\x01\x80")) {
            std::string changed = document;
            changed[i] = c;
            EXPECT_EQ(scans(changed), nlohmann::json::accept(changed)) << changed;
        }
    }
}

TEST(JSONScan, OutlinesTheTopLevel) {
    EXPECT_EQ(scanJSON("[1]")->root, JSONOutline::Root::array);
    EXPECT_TRUE(scanJSON("[1]")->rootHasItem);
    EXPECT_FALSE(scanJSON(" [ ] ")->rootHasItem);
    EXPECT_TRUE(scanJSON("[[]]")->rootHasItem);
    EXPECT_EQ(scanJSON("{\"a\":[]}")->root, JSONOutline::Root::object);
    EXPECT_EQ(scanJSON("\"a\"")->root, JSONOutline::Root::scalar);
}
