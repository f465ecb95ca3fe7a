#include <gtest/gtest.h>

#include "core/handoff_request.h"
#include "core/handoff_url.h"

using calvoro::HandoffRequest;
using calvoro::SupportedFormat;
using Action = HandoffRequest::Action;

TEST(HandoffRequest, ReadsConvertAndCompressRequests) {
    auto convert = HandoffRequest::read("calvoro://convert?src=/home/u/a.png&fmt=jpeg");
    ASSERT_TRUE(convert);
    EXPECT_EQ(convert->action, Action::convert);
    EXPECT_EQ(convert->source, "/home/u/a.png");
    EXPECT_EQ(convert->target, SupportedFormat::jpeg);

    // Item order does not matter; unknown items are ignored.
    auto compress = HandoffRequest::read("calvoro://compress?x=1&level=small&src=/a.mov");
    ASSERT_TRUE(compress);
    EXPECT_EQ(compress->action, Action::compress);
    EXPECT_EQ(compress->level, "small");
    EXPECT_EQ(compress->source, "/a.mov");

    // The picker wins over a level; a "choose" other than "1" leaves the level in charge.
    EXPECT_EQ(HandoffRequest::read("calvoro://compress?src=/a.png&choose=1&level=tiny")->action, Action::chooseCompression);
    auto notChoose = HandoffRequest::read("calvoro://compress?src=/a.png&choose=yes&level=tiny");
    ASSERT_TRUE(notChoose);
    EXPECT_EQ(notChoose->action, Action::compress);
    EXPECT_EQ(notChoose->level, "tiny");
    EXPECT_FALSE(HandoffRequest::read("calvoro://compress?src=/a.png&choose=yes"));
}

TEST(HandoffRequest, SchemeAndHostAreCaseInsensitiveButValuesAreNot) {
    auto upper = HandoffRequest::read("CALVORO://CONVERT?src=/Home/A.PNG&fmt=jpeg");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->action, Action::convert);
    EXPECT_EQ(upper->source, "/Home/A.PNG");
    auto mixed = HandoffRequest::read("Calvoro://Compress?src=/a.png&level=small");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->action, Action::compress);
    EXPECT_EQ(mixed->level, "small");
    // Item names and values keep their case: these are still refused.
    EXPECT_FALSE(HandoffRequest::read("Calvoro://Convert?SRC=/a.png&fmt=jpeg"));
    EXPECT_FALSE(HandoffRequest::read("Calvoro://Convert?src=/a.png&fmt=JPEG"));
}

TEST(HandoffRequest, FirstItemWinsEvenWhenItHasNoValue) {
    EXPECT_EQ(HandoffRequest::read("calvoro://convert?src=/one.png&src=/two.png&fmt=jpeg")->source, "/one.png");
    EXPECT_EQ(HandoffRequest::read("calvoro://convert?src=/a.png&fmt=jpeg&fmt=png")->target, SupportedFormat::jpeg);
    EXPECT_FALSE(HandoffRequest::read("calvoro://convert?src&src=/a.png&fmt=jpeg"));
    EXPECT_FALSE(HandoffRequest::read("calvoro://convert?src=/a.png&fmt=bogus&fmt=jpeg"));
}

TEST(HandoffRequest, DecodesPercentEscapesAndKeepsPlus) {
    auto r = HandoffRequest::read("calvoro://convert?src=/My%20Files/a+b%26c%3Dd%23e%25f%C3%A9.png&fmt=png");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->source.string(), "/My Files/a+b&c=d#e%f\xC3\xA9.png");
    // The fragment ends the query.
    EXPECT_EQ(HandoffRequest::read("calvoro://convert?src=/a.png&fmt=jpeg#frag")->target, SupportedFormat::jpeg);
}

TEST(HandoffRequest, DropsMalformedRequests) {
    for (const char* url : {
             "calvoro://open?src=/a.png&fmt=jpeg",
             "other://convert?src=/a.png&fmt=jpeg",
             "calvoro://convert",
             "calvoro://convert?",
             "calvoro://convert?fmt=jpeg",
             "calvoro://convert?src=&fmt=jpeg",
             "calvoro://convert?src=/a.png",
             "calvoro://convert?src=/a.png&fmt=",
             "calvoro://convert?src=/a.png&fmt=JPEG",  // identifiers are case-sensitive
             "calvoro://convert?src=a.png&fmt=jpeg",   // not an absolute path
             "calvoro://convert?src=%00/a.png&fmt=jpeg",
             "calvoro://convert?src=/a%2.png&fmt=jpeg",  // broken escape
             "calvoro://convert?src=/a b.png&fmt=jpeg",  // a blank is not part of a URL
             "calvoro://compress?src=/a.png",
             "calvoro://compress?src=/a.png&level=",
             "calvoro://compress?choose=1",
             "not a url",
             "",
         })
        EXPECT_FALSE(HandoffRequest::read(url)) << url;
}

TEST(HandoffRequest, SaysWhyALinkIsRefused) {
    using Reason = HandoffRequest::Refusal::Reason;
    auto why = [](const char* url) {
        auto parsed = HandoffRequest::parse(url);
        const auto* refusal = std::get_if<HandoffRequest::Refusal>(&parsed);
        EXPECT_TRUE(refusal) << url;
        return refusal ? std::pair(refusal->reason, refusal->value) : std::pair(Reason::malformed, std::string("accepted"));
    };
    EXPECT_EQ(why("calvoro://convert?src=%ZZ&fmt=png"), std::pair(Reason::malformed, std::string("calvoro://convert?src=%ZZ&fmt=png")));
    EXPECT_EQ(why("calvoro://open?src=/a.png"), std::pair(Reason::unknownAction, std::string("calvoro://open")));
    EXPECT_EQ(why("other://convert?src=/a.png&fmt=png"), std::pair(Reason::unknownAction, std::string("other://convert")));
    EXPECT_EQ(why("calvoro://convert"), std::pair(Reason::noSource, std::string()));
    EXPECT_EQ(why("calvoro://convert?src=a.png&fmt=png"), std::pair(Reason::noSource, std::string("a.png")));
    EXPECT_EQ(why("calvoro://convert?src=/a.png"), std::pair(Reason::unknownFormat, std::string()));
    EXPECT_EQ(why("calvoro://convert?src=/a.png&fmt=JPEG"), std::pair(Reason::unknownFormat, std::string("JPEG")));
    EXPECT_EQ(why("calvoro://compress?src=/a.png&level="), std::pair(Reason::noLevel, std::string()));
    EXPECT_TRUE(std::holds_alternative<HandoffRequest>(HandoffRequest::parse("calvoro://compress?src=/a.png&level=huge")));
}

TEST(HandoffRequest, WrittenURLsReadBackToTheSameFile) {
    using namespace calvoro;
    for (const std::string path : {
             "/tmp/plain.png",
             "/home/u/My Files/two  blanks.png",
             "/x/a&b=c#d+e%20f%.png",
             "/x/?query?.png",
             "/x/caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.png",
             "/x/\xFF\xFE not utf-8.png",
             "/x/line\nbreak.png",
         }) {
        auto convert = HandoffURL::convert(path, "jpeg");
        ASSERT_TRUE(convert) << path;
        auto r = HandoffRequest::read(*convert);
        ASSERT_TRUE(r) << *convert;
        EXPECT_EQ(r->source.string(), path);
        EXPECT_EQ(r->target, SupportedFormat::jpeg);

        auto compress = HandoffRequest::read(*HandoffURL::compress(path, "balanced", false));
        ASSERT_TRUE(compress);
        EXPECT_EQ(compress->source.string(), path);
        EXPECT_EQ(compress->level, "balanced");
        auto choose = HandoffRequest::read(*HandoffURL::compress(path, std::nullopt, true));
        ASSERT_TRUE(choose);
        EXPECT_EQ(choose->action, HandoffRequest::Action::chooseCompression);
        EXPECT_EQ(choose->source.string(), path);
    }
}
