#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "engine/conversion_tester.h"
#include "engine/test_fixtures.h"
#include "platform/imaging/image_source.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::ConversionTester;
using calvoro::testing::TempDir;
using F = SupportedFormat;

namespace {

Result result(F source, F target, bool success, int64_t bytes = 10) {
    Result r{source, target, success, std::nullopt, 12, bytes, std::nullopt, Validator::ValidationStatus::passed()};
    if (!success) {
        r.error = "bad\nthing";
        r.validation = Validator::ValidationStatus::skipped();
        r.outputBytes = 0;
    }
    return r;
}

}  // namespace

TEST(SelfTestReport, CountsCategoriesAndFailureBlocks) {
    Summary s;
    s.results.push_back(result(F::png, F::tiff, true));
    s.results.push_back(result(F::png, F::jpeg, true));
    s.results.push_back(result(F::jp2, F::png, false));
    auto warned = result(F::csv, F::json, true);
    warned.validation = Validator::ValidationStatus::failed("not JSON");
    s.results.push_back(warned);
    auto skipped = result(F::zip, F::tar, true);
    skipped.validation = Validator::ValidationStatus::skipped();
    s.results.push_back(skipped);
    EXPECT_EQ(s.passed(), 4);
    EXPECT_EQ(s.failed(), 1);
    EXPECT_EQ(s.validationPassed(), 2);
    EXPECT_EQ(s.validationFailed().size(), 1u);
    EXPECT_EQ(s.consoleReport(),
              "\n=== Calvoro \u2014 conversion test summary ===\n"
              "Total conversions:  5\n"
              "Engine passed:      4\n"
              "Engine failed:      1\n"
              "Output verified:    2 / 4\n"
              "Output bad:         1\n"
              "\n"
              "IMAGE  engine pass: 2  fail: 1   validated: 2/2\n"
              "  JPEG 2000   \u2717PNG\n"
              "  PNG         \u2713JPEG  \u2713TIFF\n"
              "\n"
              "DOCUMENT  engine pass: 1  fail: 0   validated: 0/1\n"
              "  CSV         \u26A0JSON\n"
              "\n"
              "ARCHIVE  engine pass: 1  fail: 0   validated: 0/1\n"
              "  ZIP         \u2713TAR\n"
              "\n"
              "=== Engine failures ===\n"
              "\u2717 JPEG 2000 \u2192 PNG: bad thing\n"
              "\n"
              "=== Output validation failures ===\n"
              "\u26A0 CSV \u2192 JSON: not JSON\n");
}

TEST(SelfTestReport, ProgressLines) {
    EXPECT_EQ(progressLine(result(F::png, F::jpeg, true, 2000)), "\u2713 PNG \u2192 JPEG   12ms   2 KB");
    EXPECT_EQ(progressLine(result(F::png, F::jpeg, false)), "\u2717 PNG \u2192 JPEG   12ms   \u2014");
    auto warned = result(F::csv, F::json, true);
    warned.validation = Validator::ValidationStatus::failed("why");
    EXPECT_EQ(progressLine(warned), "\u26A0 CSV \u2192 JSON   12ms   10 bytes   [why]");
}

TEST(SelfTestFixtures, GradientToneAndFonts) {
    TempDir dir;
    auto png = makeSeedPNG(dir.path());
    auto decoded = imaging::ImageSource::open(png);
    ASSERT_TRUE(decoded);
    auto image = decoded->decodeFirstFrame();
    ASSERT_EQ(image.width, 64);
    const uint8_t* bottomLeft = image.row(63);
    EXPECT_EQ(bottomLeft[0] + bottomLeft[1] + bottomLeft[2], 0);
    const uint8_t* topRight = image.row(0) + 63 * 4;
    EXPECT_EQ(topRight[0], 255);
    EXPECT_EQ(topRight[1], 255);
    EXPECT_EQ(topRight[2], 251);  // 62/63

    auto wav = makeSeedWAV(dir.path());
    auto probe = calvoro::testing::run("ffprobe -v error -show_entries stream=duration_ts,sample_rate,channels -of csv=p=0 " +
                                       calvoro::testing::shellQuote(wav.string()));
    EXPECT_NE(probe.output.find("44100,1,22050"), std::string::npos) << probe.output;

    // A named font wins; otherwise the first file with the extension; none at all fails.
    calvoro::testing::writeFile(dir / "fonts" / "b" / "Other.ttf", "x");
    calvoro::testing::writeFile(dir / "fonts" / "a" / "Wanted.ttf", "y");
    auto font = copyFirstSystemFont({"Wanted.ttf"}, "ttf", dir.path(), {dir / "fonts"});
    EXPECT_EQ(calvoro::testing::readText(font), "y");
    calvoro::testing::writeFile(dir / "seed.otf", "stale");
    calvoro::testing::writeFile(dir / "fonts" / "c" / "Face.OTF", "z");
    EXPECT_EQ(calvoro::testing::readText(copyFirstSystemFont({"Missing.otf"}, "otf", dir.path(), {dir / "fonts"})), "z");
    EXPECT_THROW(copyFirstSystemFont({"Missing.woff"}, "woff", dir.path(), {dir / "fonts"}), ConversionError);
}
