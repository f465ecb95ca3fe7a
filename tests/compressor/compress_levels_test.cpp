#include <gtest/gtest.h>

#include "compressor/compressor.h"
#include "core/conversion_error.h"
#include "core/format_capabilities.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

TEST(CompressionLevel, RawValuesLabelsAndParametersInOrder) {
    const auto& all = CompressionLevel::allCases();
    ASSERT_EQ(all.size(), 5u);
    const char* raws[] = {"maximum", "high", "balanced", "small", "tiny"};
    const char* labels[] = {"Maximum Quality", "High", "Balanced", "Small", "Smallest"};
    const double qualities[] = {0.95, 0.82, 0.65, 0.48, 0.34};
    const double factors[] = {0.85, 0.65, 0.45, 0.30, 0.20};
    const int64_t bitrates[] = {256000, 192000, 128000, 96000, 64000};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(all[i].rawValue(), raws[i]);
        EXPECT_EQ(all[i].id(), raws[i]);
        EXPECT_EQ(all[i].label(), labels[i]);
        EXPECT_DOUBLE_EQ(all[i].imageQuality(), qualities[i]);
        EXPECT_DOUBLE_EQ(all[i].videoBitrateFactor(), factors[i]);
        EXPECT_EQ(all[i].audioBitrate(), bitrates[i]);
        EXPECT_EQ(CompressionLevel::fromRawValue(raws[i]), all[i]);
    }
    EXPECT_EQ(CompressionLevel::fromRawValue("tiny")->label(), "Smallest");
    for (const char* bad : {"Tiny", "BALANCED", "Smallest", "", "medium", "tiny "})
        EXPECT_FALSE(CompressionLevel::fromRawValue(bad)) << bad;
}

TEST(CompressionEstimate, SavedPercentRoundsHalvesUpAndNeverShowsAHundred) {
    auto saved = [](int64_t size, int64_t original) {
        CompressionEstimate e;
        e.byteSize = size;
        e.originalSize = original;
        return e.savedPercent();
    };
    EXPECT_EQ(saved(1, 1000), 99);
    EXPECT_EQ(saved(0, 1000), 99);
    EXPECT_EQ(saved(995, 1000), 1);   // 0.5 goes up
    EXPECT_EQ(saved(996, 1000), 0);   // 0.4 goes down
    EXPECT_EQ(saved(250, 1000), 75);
    EXPECT_EQ(saved(1500, 1000), 0);  // a bigger result saves nothing, not a negative share
    EXPECT_EQ(saved(10, 0), 0);
    EXPECT_EQ(saved(10, -5), 0);
    CompressionEstimate e;
    e.level = CompressionLevel::small;
    EXPECT_EQ(e.id(), "small");
}

TEST(CompressionEstimate, QualityLossesRiseLevelByLevelMovingEachAsLittleAsCan) {
    auto list = [](std::vector<std::optional<double>> losses) {
        std::vector<CompressionEstimate> estimates;
        for (size_t i = 0; i < losses.size(); ++i) {
            CompressionEstimate e;
            e.level = CompressionLevel::allCases()[i];
            e.qualityLoss = losses[i];
            estimates.push_back(e);
        }
        makeQualityLossesRise(estimates);
        std::vector<std::optional<double>> out;
        for (const auto& e : estimates) out.push_back(e.qualityLoss);
        return out;
    };
    using L = std::vector<std::optional<double>>;
    // Already rising: untouched.
    EXPECT_EQ(list({1.0, 2.0, 2.0, 5.0}), (L{1.0, 2.0, 2.0, 5.0}));
    // One dip of 1.5 points: both sides meet midway, 0.75 from where they were.
    EXPECT_EQ(list({1.0, 9.0, 7.5, 14.0}), (L{1.0, 8.25, 8.25, 14.0}));
    // A dip over several levels; a level without a score is passed over and stays without one.
    EXPECT_EQ(list({4.0, 3.0, std::nullopt, 2.0, 6.0}), (L{3.0, 3.0, std::nullopt, 3.0, 6.0}));
    EXPECT_EQ(list({}), L{});
}

TEST(CompressionTarget, FollowsTheEncodersOfThisSystem) {
    imaging::registerCapabilities();
    media::registerCapabilities();
    using F = SupportedFormat;
    const bool heic = imaging::canEncode(imaging::types::heic);
    for (F f : {F::png, F::tiff, F::bmp, F::psd, F::tga}) EXPECT_EQ(Compressor::compressionTarget(f), heic ? F::heic : F::jpeg);
    EXPECT_EQ(Compressor::compressionTarget(F::jpeg), F::jpeg);
    EXPECT_EQ(Compressor::compressionTarget(F::jpg), F::jpeg);
    EXPECT_EQ(Compressor::compressionTarget(F::heif), heic ? F::heic : F::jpeg);
    EXPECT_EQ(Compressor::compressionTarget(F::avif), imaging::canEncode(imaging::types::avif) ? F::avif : F::jpeg);
    EXPECT_EQ(Compressor::compressionTarget(F::jp2), imaging::canEncode(imaging::types::jpeg2000) ? F::jp2 : F::jpeg);
    for (F f : {F::mp4, F::mov, F::m4v}) EXPECT_EQ(Compressor::compressionTarget(f), f);
    EXPECT_EQ(Compressor::compressionTarget(F::avi), F::mp4);
    for (F f : {F::mp3, F::aac, F::m4a, F::wav, F::aiff, F::alac, F::flac}) EXPECT_EQ(Compressor::compressionTarget(f), F::m4a);
    for (F f : {F::gif, F::webp, F::ico, F::pdf_image, F::svg, F::jxl, F::icns, F::raw, F::webm, F::pdf, F::zip, F::ttf, F::csv,
                F::srt, F::pdfPagePng, F::pdfPageJpeg, F::pdfSplit, F::extractAudio})
        EXPECT_FALSE(Compressor::compressionTarget(f)) << f.rawValue();
}

TEST(Compress, FormatsWithoutATargetAreRefusedBeforeAnyNameIsTaken) {
    imaging::registerCapabilities();
    testing::TempDir dir;
    const auto src = dir / "in.gif";
    testing::writeFile(src, std::string("GIF89a"));
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    struct Case {
        const char* file;
        SupportedFormat format;
        const char* name;
    };
    for (const Case& c : {Case{"a.gif", SupportedFormat::gif, "GIF"}, Case{"a.webp", SupportedFormat::webp, "WebP"},
                          Case{"a.webm", SupportedFormat::webm, "WebM"}, Case{"a.zip", SupportedFormat::zip, "ZIP"}}) {
        try {
            Compressor::compress(dir / c.file, c.format, CompressionLevel::balanced, out);
            ADD_FAILURE() << c.file;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
            EXPECT_EQ(std::string(e.what()), std::string("Converting ") + c.name + " → compressed is not supported.");
        }
        EXPECT_TRUE(Compressor::estimates(dir / c.file, c.format).empty());
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST(CompressionEstimates, MissingOrUnreadableFilesFailWithTheReason) {
    imaging::registerCapabilities();
    testing::TempDir dir;
    testing::writeFile(dir / "junk.jpg", std::string(5000, 'x'));
    testing::writeFile(dir / "junk.mp4", std::string(5000, 'x'));
    for (const auto& [file, format] : {std::pair{"missing.png", SupportedFormat::png}, std::pair{"missing.wav", SupportedFormat::wav},
                                       std::pair{"junk.jpg", SupportedFormat::jpeg}, std::pair{"junk.mp4", SupportedFormat::mp4}}) {
        try {
            Compressor::estimates(dir / file, format);
            ADD_FAILURE() << file << " is estimated";
        } catch (const std::exception& e) {
            EXPECT_GT(std::string(e.what()).size(), 10u) << file << " fails without saying why";
        }
    }
}

}  // namespace
}  // namespace calvoro
