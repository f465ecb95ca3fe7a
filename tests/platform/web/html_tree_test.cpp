#include "platform/web/html_tree.h"
#include "platform/web/html_nesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace calvoro::web;

namespace {

std::vector<std::string> namesUnder(const GumboNode& node) {
    std::vector<std::string> names;
    for (const GumboNode* child : html::children(node)) {
        if (!html::isElement(*child)) continue;
        names.push_back(html::tagName(*child));
        for (auto& n : namesUnder(*child)) names.push_back(n);
    }
    return names;
}

}  // namespace

TEST(HTMLTree, NamesAndAttributesAreTheParsersEvenWhenTheTextIsGone) {
    auto document = std::make_unique<html::Document>(std::string("<BODY/ONLOAD=go()><O:P>x</O:P><svg><animateMotion/></svg>"
                                                                  "<img src=\"a.png\"onerror=x()>"));
    // The tree points into the text it was made from: that text must live as long as the tree.
    std::string reuse(200, '#');
    const GumboNode* body = document->body();
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(html::attribute(*body, "onload"), "go()");
    EXPECT_EQ(namesUnder(*body), (std::vector<std::string>{"o:p", "svg", "animatemotion", "img"}));
    const GumboNode* img = html::children(*body)[2];
    EXPECT_STREQ(html::attribute(*img, "onerror"), "x()");
    EXPECT_EQ(html::attribute(*img, "onload"), nullptr);
    EXPECT_EQ(html::text(*html::children(*html::children(*body)[0])[0]), "x");
}

TEST(HTMLTree, AFramesetPageHasNoBody) {
    const html::Document frames("<html><frameset><frame src=a.html></frameset></html>");
    EXPECT_EQ(frames.body(), nullptr);
    const html::Document empty("");
    ASSERT_NE(empty.body(), nullptr);
    EXPECT_TRUE(html::children(*empty.body()).empty());
}

namespace {

size_t depthOf(const GumboNode& node) {
    size_t deepest = 0;
    for (const GumboNode* child : html::children(node)) deepest = std::max(deepest, depthOf(*child));
    return deepest + (html::isElement(node) ? 1 : 0);
}

std::string repeated(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

}  // namespace

// Tags that close others by themselves never count as nesting, however many there are; only a
// page nested deeper than browsers build loses the tags past that depth, and none of its text,
// whose words stay apart where blocks held them.
TEST(HTMLTree, NestingIsBoundedAsBrowsersBoundItWithoutTouchingOrdinaryPages) {
    const std::string ordinary = repeated("<p>para", 3000) + "<ul>" + repeated("<li>item", 3000) + "</ul><table>" +
                                 repeated("<tr><td>a<td>b", 1000) + "</table><select>" + repeated("<option>o", 1000) +
                                 "</select><dl>" + repeated("<dt>t<dd>d", 1000) + "</dl>" + repeated("<h2>t<h3>u", 600);
    EXPECT_TRUE(html::boundedNesting(ordinary) == ordinary);
    EXPECT_EQ(html::blockCount(ordinary), 13203u);  // the blocks, items, rows, cells and options it opens
    const html::Document paragraphs(ordinary);
    EXPECT_LE(depthOf(paragraphs.root()), 8u);

    const std::string deep = "<p>" + repeated("<div>x", 20000) + "<!-- <div> --><script>if (a <div> b) {}</script>end" +
                             repeated("</div>", 20000) + "<i>after</i>";
    EXPECT_EQ(html::blockCount(deep), 20001u);  // not the tags in its comment or script
    const html::Document document(deep);
    EXPECT_LE(depthOf(document.root()), html::maxNesting + 4);
    std::string text;
    std::function<void(const GumboNode&)> collect = [&](const GumboNode& node) {
        if (node.type == GUMBO_NODE_TEXT) text += html::text(node);
        for (const GumboNode* child : html::children(node)) collect(*child);
    };
    collect(*document.body());
    std::string words = text;
    std::erase(words, ' ');
    EXPECT_TRUE(words == repeated("x", 20000) + "if(a<div>b){}endafter") << words.substr(20000);
    // The blocks left out leave their words apart.
    EXPECT_EQ(text.find(repeated("x", html::maxNesting + 1)), std::string::npos);
    // Past the depth, the tags are gone but their end tags still close what they opened.
    const GumboNode* last = html::children(*document.body()).back();
    EXPECT_EQ(html::tagName(*last), "i");
}
