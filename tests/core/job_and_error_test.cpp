#include <gtest/gtest.h>

#include <unordered_set>

#include "core/conversion_error.h"
#include "core/conversion_job.h"

using calvoro::ConversionError;
using calvoro::ConversionJob;
using calvoro::ConversionStatus;
using F = calvoro::SupportedFormat;

namespace {

ConversionJob job(int64_t size, std::optional<int64_t> output) {
    ConversionJob j("/tmp/a.png", "a.png", size, F::png);
    j.outputSize = output;
    return j;
}

}  // namespace

TEST(ConversionJob, SizeDeltaRoundsHalvesAwayFromZero) {
    EXPECT_FALSE(job(1000, std::nullopt).sizeDeltaFormatted());
    EXPECT_FALSE(job(0, 10).sizeDeltaFormatted());
    EXPECT_EQ(*job(1000, 1004).sizeDeltaFormatted(), "1 KB \u2192 1 KB");
    EXPECT_EQ(*job(1000, 995).sizeDeltaFormatted(), "1 KB \u2192 995 bytes \u00B7 \u22121%");
    EXPECT_EQ(*job(1000, 0).sizeDeltaFormatted(), "1 KB \u2192 Zero KB \u00B7 \u2212100%");
    EXPECT_EQ(*job(1000, 3000).sizeDeltaFormatted(), "1 KB \u2192 3 KB \u00B7 +200%");
    EXPECT_EQ(*job(2000000, 2000000).sizeDeltaFormatted(), "2 MB \u2192 2 MB");
}

TEST(ConversionJob, IdentityIsTheIdButEqualityComparesEveryField) {
    auto a = job(10, std::nullopt);
    auto b = job(10, std::nullopt);
    EXPECT_NE(a, b);
    EXPECT_NE(std::hash<ConversionJob>()(a), std::hash<ConversionJob>()(b));
    auto copy = a;
    EXPECT_EQ(a, copy);
    copy.progress = 0.5;
    EXPECT_NE(a, copy);
    EXPECT_EQ(std::hash<ConversionJob>()(a), std::hash<ConversionJob>()(copy));
    EXPECT_EQ(a.category(), calvoro::FileCategory::image);
    EXPECT_EQ(a.status, ConversionStatus::pending);
    EXPECT_FALSE(a.targetFormat);
    EXPECT_FALSE(a.stripMetadata);
}

TEST(ConversionStatus, RawValuesAreExact) {
    EXPECT_EQ(ConversionStatus::fromRawValue("Completed"), ConversionStatus(ConversionStatus::completed));
    EXPECT_FALSE(ConversionStatus::fromRawValue("pending"));
    EXPECT_EQ(ConversionStatus(ConversionStatus::failed).rawValue(), "Failed");
}

TEST(ConversionError, MessagesKeepPayloadsAndSeparators) {
    EXPECT_STREQ(ConversionError::unsupportedConversion("PNG", "MP3").what(), "Converting PNG \u2192 MP3 is not supported.");
    EXPECT_STREQ(ConversionError::converterNotAvailable("").what(), "The converter '' is not available on this system.");
    EXPECT_STREQ(ConversionError::exportSessionFailed("").what(), "Export failed: ");
    EXPECT_STREQ(ConversionError::corruptFile("a \"b\".\nc.").what(), "File appears corrupt: a \"b\".\nc.");
    EXPECT_STREQ(ConversionError::sandboxDenied("/x").what(), "File access denied: /x. Please grant permission.");
    EXPECT_STREQ(ConversionError::fileAccessDenied("/x").what(), "Cannot access file at /x. Try re-adding the file.");
    EXPECT_STREQ(ConversionError::failedToLoadFile().what(),
                 "Could not read the source file. It may be corrupted or in an unsupported variant.");
    EXPECT_STREQ(ConversionError::unsupportedFormat().what(), "This file format is not supported for conversion.");
    EXPECT_STREQ(ConversionError::failedToCreateOutput().what(),
                 "Could not create the output file. Check disk space and permissions.");
    EXPECT_STREQ(ConversionError::conversionFailed().what(), "Conversion failed unexpectedly.");
    EXPECT_STREQ(ConversionError::emptyOutput().what(), "Conversion produced an empty file.");
    EXPECT_STREQ(ConversionError::cancelled().what(), "Conversion was cancelled.");
    EXPECT_STREQ(ConversionError::noTargetSelected().what(), "No target format selected.");
    EXPECT_EQ(ConversionError::corruptFile("x").kind(), ConversionError::Kind::corruptFile);
}
