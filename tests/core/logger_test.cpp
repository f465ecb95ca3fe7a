#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "core/conversion_logger.h"

using calvoro::ConversionLogger;
using Level = ConversionLogger::Level;

namespace {

// Captures the printed lines in a memory stream instead of standard output.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        stream_ = open_memstream(&buffer_, &size_);
        ConversionLogger::shared().setOutputStream(stream_);
        ConversionLogger::shared().clear();
    }
    void TearDown() override {
        ConversionLogger::shared().setOutputStream(stdout);
        ConversionLogger::shared().clear();
        std::fclose(stream_);
        std::free(buffer_);
    }
    std::string printed() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* stream_ = nullptr;
};

}  // namespace

TEST_F(LoggerTest, LinesCarryTimeLevelCategoryAndDetail) {
    auto& log = ConversionLogger::shared();
    log.error("Extraction produced no files", "Archive");
    log.success("Done", "Engine", std::string());
    log.warning("Careful", "Files", std::string("detail"));
    auto lines = printed();
    std::regex first(R"(^\[\d\d:\d\d:\d\d\.\d{3}\] \[ERROR\] \[Archive\] Extraction produced no files\n)");
    EXPECT_TRUE(std::regex_search(lines, first)) << lines;
    EXPECT_NE(lines.find("] [OK] [Engine] Done \u2014 \n"), std::string::npos);
    EXPECT_NE(lines.find("] [WARN] [Files] Careful \u2014 detail\n"), std::string::npos);
    auto text = log.exportText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_NE(text.back(), '\n');
}

TEST_F(LoggerTest, DebugRecordsNothingAndClearPrintsNothing) {
    auto& log = ConversionLogger::shared();
    log.debug("Loading image: x", "Image");
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(log.exportText(), "");
    log.info("one", "App");
    auto before = printed();
    log.clear();
    EXPECT_EQ(printed(), before);
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(LoggerTest, The501stEntryTrimsToTheNewest400) {
    auto& log = ConversionLogger::shared();
    for (int i = 1; i <= 500; ++i) log.info(std::to_string(i), "Engine");
    EXPECT_EQ(log.entries().size(), 500u);
    log.info("501", "Engine");
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 400u);
    EXPECT_EQ(entries.front().message, "102");
    EXPECT_EQ(entries.back().message, "501");
}

TEST(LoggerLevels, RawValues) {
    using E = ConversionLogger::LogEntry;
    EXPECT_EQ(E::levelFromRawValue("OK"), Level::success);
    EXPECT_FALSE(E::levelFromRawValue("info"));
    EXPECT_EQ(E::rawValue(Level::warning), "WARN");
}
