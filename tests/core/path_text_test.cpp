#include <gtest/gtest.h>

#include "core/path_text.h"
#include "support/test_support.h"

using calvoro::dumpJSON;
using calvoro::parseJSON;
using Json = nlohmann::ordered_json;

namespace {

const std::string latin1 = "/tmp/caf\xE9.png";  // "café" as an old archive or USB stick names it

TEST(PathJSON, BytesThatAreNotUTF8TravelAsLoneSurrogateEscapesAndReadBackTheSame) {
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

TEST(PathJSON, ValidDocumentsAreWrittenAsTheJSONLibraryWritesThem) {
    const Json value = Json::parse(R"({"a":[1,-2,3.5,1e300,18446744073709551615,true,null,{}],"b":{"c":[],"d":"tab\tquote\"slash\\ \u0001 \u007f é 😀"},"e":{"f":{"g":0}}})");
    EXPECT_EQ(dumpJSON(value), value.dump());
    EXPECT_EQ(dumpJSON(value, 2), value.dump(2));
    EXPECT_EQ(parseJSON(value.dump(2)), value);
}

TEST(PathJSON, ReadingAcceptsWhatJSONAllowsAndRefusesTheRest) {
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
}

TEST(PathText, TheScreenShowsReplacementCharactersAndCutsFallBetweenCharacters) {
    EXPECT_EQ(calvoro::displayText("caf\xE9.png"), "caf\uFFFD.png");
    EXPECT_EQ(calvoro::displayText("caf\xC3\xA9 \xE2\x82"), "café \uFFFD\uFFFD");
    EXPECT_EQ(calvoro::displayName(latin1), "caf\uFFFD.png");
    EXPECT_TRUE(calvoro::isValidUTF8(calvoro::displayText("\xFF\xED\xA0\x80\xF4\x90")));

    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 2), "a");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 3), "aé");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 6), "aé");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 7), "aé😀");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("caf\xE9\xE9", 4), "caf\xE9");
}

TEST(PathText, KeysAreThePathUnlessItIsNotUTF8) {
    EXPECT_EQ(calvoro::pathKey("/tmp/café.png"), "/tmp/café.png");
    EXPECT_EQ(calvoro::pathKey("/tmp/caf\xE9.png"), "file:///tmp/caf%E9.png");
    EXPECT_NE(calvoro::pathKey("/tmp/caf\xE9.png"), calvoro::pathKey("/tmp/caf\xE8.png"));
}

TEST(PathText, FileURLsCarryEveryByte) {
    EXPECT_EQ(calvoro::fileURL("/tmp/caf\xE9 #1%.png"), "file:///tmp/caf%E9%20%231%25.png");
    EXPECT_EQ(calvoro::fileURL("/a/b-c_d.e~"), "file:///a/b-c_d.e~");
    for (const char* path : {"/tmp/caf\xE9 #1%.png", "/a/b-c_d.e~", "/x?y", "/"})
        EXPECT_EQ(calvoro::pathFromFileURL(calvoro::fileURL(path)), std::filesystem::path(path)) << path;
    EXPECT_EQ(calvoro::pathFromFileURL("FILE://LocalHost/a%2fb"), std::filesystem::path("/a/b"));
    EXPECT_EQ(calvoro::pathFromFileURL("file:/a%00b"), std::filesystem::path(std::string("/a\0b", 4)));
    for (const char* url : {"file://host/a", "file:///a?b", "file:///a#b", "file:///a%4", "file:///a%g0", "file:a", "file://",
                            "http:///a", "/a"})
        EXPECT_FALSE(calvoro::pathFromFileURL(url)) << url;
}

}  // namespace
