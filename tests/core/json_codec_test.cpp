#include <gtest/gtest.h>

#include "core/json_codec.h"
#include "support/test_support.h"

using calvoro::dumpJSON;
using calvoro::parseJSON;
using Json = nlohmann::ordered_json;

namespace {

const std::string latin1 = "/tmp/caf\xE9.png";  // "café" as an old archive or USB stick names it

TEST(JSONCodec, BytesThatAreNotUTF8TravelAsLoneSurrogateEscapesAndReadBackTheSame) {
    const Json value = {{"path", latin1}, {"caf\xE9", Json::array({"\xFF\xFE", "caf\xC3\xA9", std::string("a\0b", 3)})}};
    const std::string text = dumpJSON(value);
    EXPECT_EQ(text, R"({"path":"/tmp/caf\udce9.png","caf\udce9":["\udcff\udcfe","café","a\u0000b"]})");
    const auto back = parseJSON(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
    // A truncated sequence is bytes too; so is a surrogate written in UTF-8 form.
    for (const std::string bytes : {"\xC3", "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF", "ok\xF4\x90\x80\x80"}) {
        const auto read = parseJSON(dumpJSON(Json(bytes)));
        ASSERT_TRUE(read) << dumpJSON(Json(bytes));
        EXPECT_EQ(read->get<std::string>(), bytes);
    }
}

TEST(JSONCodec, ValidDocumentsAreWrittenAsTheJSONLibraryWritesThem) {
    const Json value = Json::parse(R"({"a":[1,-2,3.5,1e300,18446744073709551615,true,null,{}],"b":{"c":[],"d":"tab\tquote\"slash\\ \u0001 \u007f é 😀"},"e":{"f":{"g":0}}})");
    EXPECT_EQ(dumpJSON(value), value.dump());
    EXPECT_EQ(dumpJSON(value, 2), value.dump(2));
    EXPECT_EQ(parseJSON(value.dump(2)), value);
}

TEST(JSONCodec, ReadingAcceptsWhatJSONAllowsAndRefusesTheRest) {
    EXPECT_EQ(parseJSON(R"( {"s":"\ud83d\ude00\u00e9\/","n":[0,-0.5,12e-1,9223372036854775807,-9223372036854775808]} )"),
              Json::parse(R"({"s":"😀é/","n":[0,-0.5,12e-1,9223372036854775807,-9223372036854775808]})"));
    EXPECT_EQ(parseJSON("\xEF\xBB\xBF[1]"), Json::array({1}));
    // A lone surrogate outside the byte range names no byte.
    for (const char* text : {R"("\ud800")", R"("\udc7f")", R"("\ud800x")", R"("\ude00")", "\"caf\xE9\"", "\"a\nb\"", "01", "1.", "-",
                             "[1,]", "{\"a\"}", "{\"a\":1,}", "[1] [2]", "tru", "\"\\x\"", "\"\\u12\"", "", "  ", "{\"a\":1"})
        EXPECT_FALSE(parseJSON(text)) << text;
    std::string deep = std::string(300, '[') + std::string(300, ']');
    EXPECT_FALSE(parseJSON(deep));
    EXPECT_TRUE(parseJSON(deep, 300));
    // The bound is checked before each level: a million levels, closed or not, are refused.
    std::string objects;
    for (int i = 0; i < 1'000'000; ++i) objects += "{\"a\":";
    for (const std::string& text : {std::string(1'000'000, '[') + std::string(1'000'000, ']'), objects + "1" + std::string(1'000'000, '}'),
                                    std::string(1'000'000, '[')})
        EXPECT_FALSE(parseJSON(text));
}

}  // namespace
