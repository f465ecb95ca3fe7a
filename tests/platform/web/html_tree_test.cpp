#include "platform/web/html_tree.h"

#include <gtest/gtest.h>

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
