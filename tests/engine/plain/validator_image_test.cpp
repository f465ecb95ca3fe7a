// Raster outputs decoded by the imaging layer; fixtures made by ImageMagick.
#include <gtest/gtest.h>

#include "engine/validator.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Status = Validator::ValidationStatus;

namespace {

std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }

fs::path magick(const TempDir& dir, const std::string& name) {
    const fs::path p = dir / name;
    const auto r = run("convert -size 16x12 gradient:red-blue " + shellQuote(p.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    return p;
}

}  // namespace

TEST(ValidatorImages, PeerWrittenImagesDecode) {
    ASSERT_TRUE(haveTool("convert")) << "ImageMagick is missing; scripts/setup installs it";
    TempDir dir;
    EXPECT_EQ(Validator::validate(SupportedFormat::png, magick(dir, "a.png")), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::jpeg, magick(dir, "a.jpg")), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::gif, magick(dir, "a.gif")), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::tiff, magick(dir, "a.tiff")), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::bmp, magick(dir, "a.bmp")), Status::passed());
}

TEST(ValidatorImages, BrokenImagesNameTheStepThatFailed) {
    TempDir dir;
    writeFile(dir / "text.png", std::string("this is plain text, not an image"));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::png, dir / "text.png")), "The image cannot be opened");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::png, dir / "missing.png")), "The image cannot be opened");
    ASSERT_TRUE(haveTool("convert")) << "ImageMagick is missing; scripts/setup installs it";
    // A real PNG cut short after its header chunk: it opens but does not decode.
    auto bytes = readFile(magick(dir, "whole.png"));
    bytes.resize(40);
    writeFile(dir / "cut.png", bytes);
    const Status cut = Validator::validate(SupportedFormat::png, dir / "cut.png");
    ASSERT_TRUE(cut.isFailure());
    EXPECT_TRUE(cut.reason() == "First image failed to decode" || cut.reason() == "The image cannot be opened") << cut.reason();
}

TEST(ValidatorImages, ReducedDecodesStillReadTheWholePicture) {
    ASSERT_TRUE(haveTool("convert")) << "ImageMagick is missing; scripts/setup installs it";
    TempDir dir;
    // Large enough to be checked at a reduced size; noise, so that a cut loses real data.
    for (const std::string name : {"big.jpg", "big.webp"}) {
        SCOPED_TRACE(name);
        const fs::path whole = dir / name;
        const auto r = run("convert -size 1200x900 plasma:fractal -attenuate 2 +noise Gaussian " + shellQuote(whole.string()));
        ASSERT_EQ(r.status, 0) << r.output;
        const SupportedFormat format = name == "big.jpg" ? SupportedFormat::jpeg : SupportedFormat::webp;
        EXPECT_EQ(Validator::validate(format, whole), Status::passed());
        auto bytes = readFile(whole);
        bytes.resize(bytes.size() / 2);
        writeFile(dir / ("cut-" + name), bytes);
        const Status cut = Validator::validate(format, dir / ("cut-" + name));
        // libjpeg ends a cut file as if complete, as it did when the whole picture was decoded.
        if (format == SupportedFormat::jpeg) EXPECT_EQ(cut, Status::passed());
        else EXPECT_EQ(reason(cut), "First image failed to decode");
    }
}
