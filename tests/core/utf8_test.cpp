#include <gtest/gtest.h>

#include "core/utf8.h"

namespace {

TEST(UTF8, TheScreenShowsReplacementCharactersAndCutsFallBetweenCharacters) {
    EXPECT_EQ(calvoro::displayText("caf\xE9.png"), "caf\uFFFD.png");
    EXPECT_EQ(calvoro::displayText("caf\xC3\xA9 \xE2\x82"), "café \uFFFD\uFFFD");
    EXPECT_EQ(calvoro::displayName("/tmp/caf\xE9.png"), "caf\uFFFD.png");
    EXPECT_TRUE(calvoro::isValidUTF8(calvoro::displayText("\xFF\xED\xA0\x80\xF4\x90")));

    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 2), "a");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 3), "aé");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 6), "aé");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("aé😀", 7), "aé😀");
    EXPECT_EQ(calvoro::prefixAtCharacterBoundary("caf\xE9\xE9", 4), "caf\xE9");
}

}  // namespace
