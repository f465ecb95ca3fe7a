#include <gtest/gtest.h>

#include "converters/data/data_converter.h"

namespace calvoro {
namespace {

TEST(HTMLTableWriter, Page) {
    std::string html = DataConverter::writeHTMLTable({{"a|b", "<b>"}, {"x & \"y\""}, {}}, "Q&A <1>");
    EXPECT_EQ(html,
              "<!DOCTYPE html>\n"
              "<html lang=\"en\">\n"
              "<head><meta charset=\"UTF-8\"><title>Q&amp;A &lt;1&gt;</title>\n"
              "<style>\n"
              "body{font-family:-apple-system,BlinkMacSystemFont,\"SF Pro Text\",sans-serif;margin:2rem;color:#111}\n"
              "table{border-collapse:collapse;width:100%;font-size:14px}\n"
              "th,td{border:1px solid #ddd;padding:8px 10px;text-align:left}\n"
              "th{background:#f5f5f7;font-weight:600}\n"
              "tr:nth-child(even) td{background:#fafafa}\n"
              "</style></head>\n"
              "<body>\n"
              "<table>\n"
              "<tr><th>a|b</th><th>&lt;b&gt;</th></tr>\n"
              "<tr><td>x &amp; &quot;y&quot;</td></tr>\n"
              "<tr></tr>\n"
              "</table>\n"
              "</body>\n"
              "</html>\n");
    // A header shorter than a later row gets an empty header cell for each column it lacks.
    html = DataConverter::writeHTMLTable({{"t"}, {"a", "b", "c"}, {"1"}}, "r");
    EXPECT_NE(html.find("<table>\n<tr><th>t</th><th></th><th></th></tr>\n<tr><td>a</td><td>b</td><td>c</td></tr>\n<tr><td>1</td></tr>\n"),
              std::string::npos)
        << html;
}

TEST(MarkdownTableWriter, PadsToTheLongestRow) {
    EXPECT_EQ(DataConverter::writeMarkdownTable({{"h1", "h2"}, {"1", "2", "3"}, {"only"}}),
              "| h1 | h2 |  |\n"
              "| --- | --- | --- |\n"
              "| 1 | 2 | 3 |\n"
              "| only |  |  |\n");
    EXPECT_EQ(DataConverter::writeMarkdownTable({{"just", "header"}}), "| just | header |\n| --- | --- |\n");
    EXPECT_EQ(DataConverter::writeMarkdownTable({}), "");
}

TEST(MarkdownTableWriter, CellsCannotBreakTheTable) {
    // A pipe is escaped; a line feed, a carriage return or a CR LF pair each become one blank.
    EXPECT_EQ(DataConverter::writeMarkdownTable({{"k"}, {"a|b"}, {"one\ntwo"}, {"one\rtwo"}, {"one\r\ntwo"}, {"*x* <b>"}}),
              "| k |\n| --- |\n| a\\|b |\n| one two |\n| one two |\n| one two |\n| *x* <b> |\n");
}

}  // namespace
}  // namespace calvoro
