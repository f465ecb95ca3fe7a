#include <gtest/gtest.h>

#include "converters/data/data_converter.h"

namespace calvoro {
namespace {

using Table = DataConverter::Table;

Table csv(std::string_view text) { return DataConverter::parseDelimited(text, ','); }

TEST(DelimitedReader, EveryLineEndEndsOneRow) {
    Table expected{{"a", "b"}, {"c", "d"}};
    EXPECT_EQ(csv("a,b\r\nc,d\r\n"), expected);
    EXPECT_EQ(csv("a,b\nc,d"), expected);
    EXPECT_EQ(csv("a,b\rc,d"), expected);
    // CR then a character other than LF: the row ends and the character starts the next one.
    EXPECT_EQ(csv("a,b\r\rc,d\n\n"), expected);
}

TEST(DelimitedReader, BlankLinesAndEmptyFields) {
    EXPECT_EQ(csv("a,b\n\n\"\"\nc\n"), (Table{{"a", "b"}, {"c"}}));
    EXPECT_EQ(csv("a,\n"), (Table{{"a", ""}}));
    EXPECT_EQ(csv(",\n"), (Table{{"", ""}}));
    EXPECT_TRUE(csv("").empty());
    EXPECT_TRUE(csv("\n\r\n\r").empty());
    EXPECT_EQ(csv(" a , b "), (Table{{" a ", " b "}}));  // blanks are kept
}

TEST(DelimitedReader, Quotes) {
    EXPECT_EQ(csv("x,\"He said \"\"hi\"\"\",y"), (Table{{"x", "He said \"hi\"", "y"}}));
    EXPECT_EQ(csv("1,\"two\nlines\",3\n4"), (Table{{"1", "two\nlines", "3"}, {"4"}}));
    EXPECT_EQ(csv("1,\"a\r\nb\",3"), (Table{{"1", "a\r\nb", "3"}}));
    // A quote anywhere in a field switches quoting on.
    EXPECT_EQ(csv("ab\"c,d\"e,f"), (Table{{"abc,de", "f"}}));
    // An unterminated quoted field runs to the end of the text.
    EXPECT_EQ(csv("a,\"b,c\nd"), (Table{{"a", "b,c\nd"}}));
    // A closing quote at the very end.
    EXPECT_EQ(csv("a,\"b\""), (Table{{"a", "b"}}));
    EXPECT_EQ(csv("\"\"\"\""), (Table{{"\""}}));
}

TEST(DelimitedReader, RaggedRowsStayRagged) {
    EXPECT_EQ(csv("a,b,c\n1\n1,2,3,4\n"), (Table{{"a", "b", "c"}, {"1"}, {"1", "2", "3", "4"}}));
}

TEST(DelimitedReader, TabDelimiter) {
    EXPECT_EQ(DataConverter::parseDelimited("a,b\tc\n\"x\ty\"\tz", '\t'), (Table{{"a,b", "c"}, {"x\ty", "z"}}));
}

TEST(DelimitedWriter, QuotesOnlyWhatNeedsIt) {
    Table table{{"plain", "a,b", "a\"b", "line\nend", "cr\rx"}, {}, {"1"}};
    EXPECT_EQ(DataConverter::writeDelimited(table, ','),
              "plain,\"a,b\",\"a\"\"b\",\"line\nend\",\"cr\rx\"\n\n1\n");
    EXPECT_EQ(DataConverter::writeDelimited({{"a,b", "t\tu"}}, '\t'), "a,b\t\"t\tu\"\n");
    EXPECT_EQ(DataConverter::writeDelimited({}, ','), "\n");
}

TEST(DelimitedWriter, ReadsBackUnchanged) {
    Table table{{"name", "note"}, {"Ann", "said \"hi\", left"}, {"Bob", "two\nlines"}, {"", " x "}, {"ragged"}};
    for (char delimiter : {',', '\t'})
        EXPECT_EQ(DataConverter::parseDelimited(DataConverter::writeDelimited(table, delimiter), delimiter), table);
}

}  // namespace
}  // namespace calvoro
