#include <gtest/gtest.h>

#include "converters/data/data_converter.h"
#include "core/conversion_error.h"

namespace calvoro {
namespace {

using Table = DataConverter::Table;

Table json(std::string_view text) { return DataConverter::rowsFromJSON(text); }

void expectNotJSON(std::string_view text) {
    try {
        json(text);
        ADD_FAILURE() << "accepted " << text;
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        EXPECT_STREQ(e.what(), "File appears corrupt: Not valid JSON or NDJSON");
    }
}

TEST(JSONReader, ArraysModeHasNoHeader) {
    EXPECT_EQ(json("[[1,2],[3]]"), (Table{{"1", "2"}, {"3"}}));
    EXPECT_EQ(json("[[], 7, [true, null, \"s\"]]"), (Table{{}, {"true", "", "s"}}));
}

TEST(JSONReader, ObjectsModeColumns) {
    // First object's keys in written order, then later objects' new keys sorted.
    EXPECT_EQ(json(R"([{"b":1,"a":2},{"c":true,"a":null}])"), (Table{{"b", "a", "c"}, {"1", "2", ""}, {"", "", "true"}}));
    EXPECT_EQ(json(R"([{"z":1},{"y":2,"x":3,"z":4}])"), (Table{{"z", "x", "y"}, {"1", "", ""}, {"4", "3", "2"}}));
    // Items that are not objects are skipped once there are columns.
    EXPECT_EQ(json(R"([1, "x", {"k": [1, 2]}])"), (Table{{"k"}, {"[1,2]"}}));
    EXPECT_EQ(json(R"({"only":"one"})"), (Table{{"only"}, {"one"}}));
}

TEST(JSONReader, EscapedKeysNameTheSameColumn) {
    EXPECT_EQ(json(R"([{"\u0041":1,"b\"q":2},{"A":3}])"), (Table{{"A", "b\"q"}, {"1", "2"}, {"3", ""}}));
    EXPECT_EQ(DataConverter::orderedKeysOfFirstObject(R"({"caf\u00e9":1,"\ud83d\ude00":2,"t\tab":3})"),
              (std::vector<std::string>{"caf\u00e9", "\U0001F600", "t\tab"}));
}

TEST(JSONReader, OrderedKeysIgnoreNestedAndStringContent) {
    EXPECT_EQ(DataConverter::orderedKeysOfFirstObject(R"([ "{not", {"a": {"x": 1, "y": [{"z":2}]}, "b": "}", "c": 3}, {"d":4}])"),
              (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(DataConverter::orderedKeysOfFirstObject("[1,2]").empty());
    // Unfinished text gives what was found.
    EXPECT_EQ(DataConverter::orderedKeysOfFirstObject(R"({"a":1,"b")"), (std::vector<std::string>{"a", "b"}));
}

TEST(JSONReader, EmptyAndKeylessDocuments) {
    EXPECT_TRUE(json("[]").empty());
    EXPECT_TRUE(json("  \n[ ]\n ").empty());
    EXPECT_EQ(json("{}"), (Table{{"{}"}}));
    EXPECT_EQ(json("[{}, {}]"), (Table{{"{}"}, {"{}"}}));
    expectNotJSON("5");
    expectNotJSON("\"x\"");
    expectNotJSON("");
    expectNotJSON("{\"a\":");
    expectNotJSON("nonsense\nmore nonsense\n");
}

TEST(JSONReader, NDJSONSkipsBrokenLines) {
    EXPECT_EQ(json("{\"a\":1,\"b\":\"x\"}\r\n{broken\n\n\t{\"b\":\"y\",\"a\":2}  \n"), (Table{{"a", "b"}, {"1", "x"}, {"2", "y"}}));
    EXPECT_EQ(json("[1,2]\n[3]\n"), (Table{{"1", "2"}, {"3"}}));
}

TEST(JSONReader, NestingPastTheBoundIsRefusedWithoutRecursion) {
    auto nested = [](size_t depth, bool objects) {
        std::string open, close;
        for (size_t i = 0; i < depth; ++i) {
            open += objects ? "{\"a\":" : "[";
            close += objects ? "}" : "]";
        }
        return open + "1" + close;
    };
    // 512 levels are a document like any other: the inner levels are one cell's text.
    const Table arrays = json(nested(512, false));
    ASSERT_EQ(arrays.size(), 1u);
    EXPECT_TRUE(arrays[0] == DataConverter::Row{nested(510, false)});
    const Table objects = json(nested(512, true));
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_TRUE(objects[1] == DataConverter::Row{nested(511, true)});
    for (const std::string& text : {nested(513, false), nested(1'000'000, false), nested(1'000'000, true),
                                    "{\"a\":1}\n" + nested(1'000'000, false) + "\n", std::string(1'000'000, '[')}) {
        try {
            json(text);
            ADD_FAILURE() << "accepted " << text.substr(0, 20);
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
            EXPECT_STREQ(e.what(), "File appears corrupt: The JSON document nests too deeply");
        }
    }
}

TEST(JSONReader, CellTextOfValues) {
    Table table = json(R"([{"f":2.5,"h":100.0,"t":1e-07,"i":-42,"big":18446744073709551615,"e":1e5,"w":9.5e15,
                          "s":"a/b","n":{"k":"v/w","l":[1.5,null]},"b":false}])");
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0], (DataConverter::Row{"f", "h", "t", "i", "big", "e", "w", "s", "n", "b"}));
    EXPECT_EQ(table[1], (DataConverter::Row{"2.5", "100.0", "1e-07", "-42", "18446744073709551615", "100000.0", "9.5e+15",
                                            "a/b", R"({"k":"v/w","l":[1.5,null]})", "false"}));
}

// The writer's layout, byte for byte.
TEST(JSONWriter, Layout) {
    Table table{{"name", "", ""}, {"Ann", "31", "true"}, {"Bob"}};
    EXPECT_EQ(DataConverter::writeJSON(table),
              "[\n"
              "  {\n"
              "    \"name\": \"Ann\",\n"
              "    \"column2\": 31,\n"
              "    \"column3\": true\n"
              "  },\n"
              "  {\n"
              "    \"name\": \"Bob\",\n"
              "    \"column2\": null,\n"
              "    \"column3\": null\n"
              "  }\n"
              "]\n");
    EXPECT_EQ(DataConverter::writeJSON({{"only", "header"}}), "[\n]\n");
    EXPECT_EQ(DataConverter::writeJSON({}), "[]");
    // Cells beyond the header are kept under keys named as empty header cells are.
    EXPECT_EQ(DataConverter::writeJSON({{}, {"x"}}), "[\n  {\n    \"column1\": \"x\"\n  }\n]\n");
    EXPECT_EQ(DataConverter::writeJSON({{"a"}, {"1", "2"}, {"3"}}),
              "[\n  {\n    \"a\": 1,\n    \"column2\": 2\n  },\n  {\n    \"a\": 3,\n    \"column2\": null\n  }\n]\n");
}

TEST(JSONWriter, InferredKinds) {
    auto valueOf = [](const std::string& cell) {
        std::string out = DataConverter::writeJSON({{"k"}, {cell}});
        const std::string prefix = "[\n  {\n    \"k\": ";
        const std::string suffix = "\n  }\n]\n";
        EXPECT_EQ(out.substr(0, prefix.size()), prefix);
        return out.substr(prefix.size(), out.size() - prefix.size() - suffix.size());
    };
    EXPECT_EQ(valueOf(" 42 "), "42");
    EXPECT_EQ(valueOf("\t-0\t"), "-0");
    EXPECT_EQ(valueOf("007"), "\"007\"");
    EXPECT_EQ(valueOf("1e3"), "1e3");
    EXPECT_EQ(valueOf("2E-03"), "2E-03");
    EXPECT_EQ(valueOf("3.25"), "3.25");
    for (const char* notNumber : {"01", "1.", ".5", "+1", "1e", "0x10", "\u0661\u0662", "1 2", "-"})
        EXPECT_EQ(valueOf(notNumber), "\"" + std::string(notNumber) + "\"") << notNumber;
    EXPECT_EQ(valueOf(""), "null");
    EXPECT_EQ(valueOf("   "), "null");
    EXPECT_EQ(valueOf("NULL"), "null");
    EXPECT_EQ(valueOf("TRUE"), "true");
    EXPECT_EQ(valueOf(" False "), "false");
    EXPECT_EQ(valueOf(" yes "), "\" yes \"");
    EXPECT_EQ(valueOf("\n5"), "\"\\n5\"");  // line ends are not trimmed
}

TEST(JSONWriter, StringEscapes) {
    std::string out = DataConverter::writeJSON({{"k\"ey"}, {"tab\there\nnew\r\\ \x1b/caf\u00e9\x7f"}});
    EXPECT_NE(out.find(R"("k\"ey": "tab\there\nnew\r\\ \u001b/caf)" "\u00e9\x7f\""), std::string::npos) << out;
}

TEST(JSONWriter, ReadsBackThroughTheJSONReader) {
    Table table{{"id", "name", "flag", "score"}, {"1", "Ann \"A\"", "true", "2.5"}, {"2", "", "no", "1e-07"}};
    EXPECT_EQ(json(DataConverter::writeJSON(table)),
              (Table{{"id", "name", "flag", "score"}, {"1", "Ann \"A\"", "true", "2.5"}, {"2", "", "no", "1e-07"}}));
}

}  // namespace
}  // namespace calvoro
