#include <gtest/gtest.h>

#include "core/handoff_request.h"
#include "core/handoff_url.h"

using namespace calvoro;

TEST(HandoffURL, ConvertAndCompressForms) {
    EXPECT_EQ(HandoffURL::convert("/Volumes/Work/a b.jpg", "pdf_image"),
              "calvoro://convert?src=/Volumes/Work/a%20b.jpg&fmt=pdf_image");
    EXPECT_EQ(HandoffURL::compress("/Volumes/Work/a.mov", "balanced", false),
              "calvoro://compress?src=/Volumes/Work/a.mov&level=balanced");
    EXPECT_EQ(HandoffURL::compress("/Volumes/Work/a.mov", std::nullopt, true),
              "calvoro://compress?src=/Volumes/Work/a.mov&choose=1");
    EXPECT_EQ(HandoffURL::compress("/a.mov", std::nullopt, false), "calvoro://compress?src=/a.mov");
}

TEST(HandoffURL, EncodesEveryByteButUnreservedAndSlash) {
    EXPECT_EQ(HandoffURL::percentEncode("/x/a & b #1.jpg"), "/x/a%20%26%20b%20%231.jpg");
    EXPECT_EQ(HandoffURL::percentEncode("=+%?;:@!$'()*,[]"), "%3D%2B%25%3F%3B%3A%40%21%24%27%28%29%2A%2C%5B%5D");
    EXPECT_EQ(HandoffURL::percentEncode("AZaz09-._~/"), "AZaz09-._~/");
    EXPECT_EQ(HandoffURL::percentEncode("\u00E9t\u00E9"), "%C3%A9t%C3%A9");
    EXPECT_EQ(HandoffURL::percentEncode(std::string_view("a\0\n\xff", 4)), "a%00%0A%FF");
}

TEST(HandoffURL, RefusesPathsThatAreNotAbsolute) {
    EXPECT_FALSE(HandoffURL::convert("", "png"));
    EXPECT_FALSE(HandoffURL::convert("a.jpg", "png"));
    EXPECT_FALSE(HandoffURL::compress("~/a.mov", "high", false));
}

TEST(HandoffURL, ALinkCarriesANameThatIsNotUTF8ToTheSameBytes) {
    const std::string latin1 = "/media/usb/caf\xE9 (1).png";
    const auto url = HandoffURL::convert(latin1, "jpeg");
    ASSERT_TRUE(url);
    const auto request = HandoffRequest::read(*url);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->source, std::filesystem::path(latin1));
}
