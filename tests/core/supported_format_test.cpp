#include <gtest/gtest.h>

#include <set>

#include "core/format_capabilities.h"
#include "core/supported_format.h"

using calvoro::FileCategory;
using calvoro::FormatCapabilities;
using F = calvoro::SupportedFormat;

namespace {

const std::vector<std::string> kEveryImageType = {
    "public.png", "public.jpeg", "public.tiff", "com.microsoft.bmp", "com.compuserve.gif", "public.heic",
    "public.avif", "com.microsoft.ico", "com.adobe.photoshop-image", "com.truevision.tga-image",
    "public.jpeg-2000", "com.apple.icns"};

class FormatTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        FormatCapabilities::registerImageEncoderProvider([] { return kEveryImageType; });
        FormatCapabilities::resetForTesting();
    }
    void TearDown() override {
        FormatCapabilities::registerImageEncoderProvider(nullptr);
        FormatCapabilities::resetForTesting();
    }
};

std::vector<std::string> raws(const std::vector<F>& list) {
    std::vector<std::string> out;
    for (auto f : list) out.push_back(f.rawValue());
    return out;
}

}  // namespace

TEST(SupportedFormat, ExtensionAliasesFollowLetterCaseRules) {
    EXPECT_EQ(F::from("JPG"), F(F::jpg));
    EXPECT_EQ(F::from("JpEg"), F(F::jpeg));
    EXPECT_EQ(F::from("TIF"), F(F::tiff));
    EXPECT_EQ(F::from("CR3"), F(F::raw));
    EXPECT_EQ(F::from("targa"), F(F::tga));
    EXPECT_EQ(F::from("webvtt"), F(F::vtt));
    EXPECT_EQ(F::from("lzma"), F(F::xz));
    EXPECT_EQ(F::from("m4a"), F(F::m4a));
    EXPECT_EQ(F::from("pdf"), F(F::pdf));
    for (const char* none : {"", ".png", " png", "webm", "svg", "epub", "tar.gz", "pdfPagePng", "alacx"})
        EXPECT_FALSE(F::from(none).has_value()) << none;
}

TEST(SupportedFormat, RawValuesAreExactAndOrdered) {
    EXPECT_EQ(F::allCases().size(), 56u);
    EXPECT_EQ(F::allCases().front(), F::png);
    EXPECT_EQ(F::allCases()[10], F::pdf_image);
    EXPECT_EQ(F::allCases().back(), F::extractAudio);
    EXPECT_EQ(F::fromRawValue("pdfPagePng"), F(F::pdfPagePng));
    EXPECT_FALSE(F::fromRawValue("PNG"));
    EXPECT_FALSE(F::fromRawValue("pdfpagepng"));
    EXPECT_FALSE(F::fromRawValue("JPEG 2000"));
    std::set<std::string> unique;
    for (auto f : F::allCases()) {
        EXPECT_EQ(F::fromRawValue(f.rawValue()), f);
        unique.insert(f.rawValue());
        EXPECT_NE(f.category(), FileCategory::unknown);
    }
    EXPECT_EQ(unique.size(), 56u);
}

TEST(SupportedFormat, ExtensionsCategoriesAndMultiFileTargets) {
    EXPECT_EQ(F(F::jpeg).fileExtension(), "jpg");
    EXPECT_EQ(F(F::pdfPageJpeg).fileExtension(), "jpg");
    EXPECT_EQ(F(F::markdown).fileExtension(), "md");
    EXPECT_EQ(F(F::gzip).fileExtension(), "gz");
    EXPECT_EQ(F(F::alac).fileExtension(), "m4a");
    EXPECT_EQ(F(F::extractAudio).fileExtension(), "m4a");
    EXPECT_EQ(F(F::pdf_image).fileExtension(), "pdf");
    EXPECT_EQ(F(F::pdfSplit).fileExtension(), "pdf");
    EXPECT_EQ(F(F::jp2).displayName(), "JPEG 2000");
    EXPECT_EQ(F(F::vtt).displayName(), "WebVTT");
    EXPECT_EQ(F(F::csv).category(), FileCategory::document);
    EXPECT_EQ(F(F::srt).category(), FileCategory::document);
    EXPECT_EQ(F(F::pdfSplit).category(), FileCategory::document);
    EXPECT_EQ(F(F::pdfPageJpeg).category(), FileCategory::image);
    EXPECT_EQ(F(F::extractAudio).category(), FileCategory::audio);
    int multi = 0;
    for (auto f : F::allCases()) multi += f.isMultiFileOutput();
    EXPECT_EQ(multi, 3);
}

TEST(FileCategory, RawValuesAreCapitalised) {
    EXPECT_EQ(FileCategory::fromRawValue("Image"), FileCategory(FileCategory::image));
    EXPECT_FALSE(FileCategory::fromRawValue("image"));
    EXPECT_EQ(FileCategory(FileCategory::unknown).icon(), "questionmark.folder");
    EXPECT_EQ(FileCategory::allCases().size(), 7u);
}

TEST_F(FormatTableTest, FirstTargetIsTheFallbackDefault) {
    EXPECT_EQ(F(F::png).possibleConversions().front(), F::jpeg);
    for (auto f : {F::jpeg, F::jpg, F::tiff, F::bmp, F::gif, F::heic, F::heif, F::webp, F::ico, F::avif, F::psd,
                   F::tga, F::jp2, F::jxl, F::icns, F::raw})
        EXPECT_EQ(F(f).possibleConversions().front(), F::png) << F(f).rawValue();
    EXPECT_EQ(F(F::mp4).possibleConversions().front(), F::mov);
    EXPECT_EQ(F(F::mov).possibleConversions().front(), F::mp4);
    EXPECT_EQ(F(F::mp3).possibleConversions().front(), F::m4a);
    EXPECT_EQ(F(F::m4a).possibleConversions().front(), F::aac);
    EXPECT_EQ(F(F::pdf).possibleConversions().front(), F::txt);
    EXPECT_EQ(F(F::markdown).possibleConversions().front(), F::html);
    EXPECT_EQ(F(F::txt).possibleConversions().front(), F::html);
    EXPECT_EQ(F(F::zip).possibleConversions().front(), F::tar);
    EXPECT_EQ(F(F::csv).possibleConversions().front(), F::tsv);
    EXPECT_EQ(F(F::json).possibleConversions().front(), F::csv);
    EXPECT_EQ(F(F::srt).possibleConversions().front(), F::vtt);
}

TEST_F(FormatTableTest, RowsKeepTheirOrder) {
    EXPECT_EQ(raws(F(F::gif).possibleConversions()),
              (std::vector<std::string>{"png", "jpeg", "tiff", "bmp", "heic", "avif", "ico", "psd", "tga", "jp2", "icns",
                                        "pdf_image", "svg", "mp4", "mov", "m4v"}));
    EXPECT_EQ(raws(F(F::heif).possibleConversions()),
              (std::vector<std::string>{"png", "jpeg", "tiff", "bmp", "gif", "heic", "avif", "ico", "psd", "tga", "jp2",
                                        "icns", "pdf_image", "svg"}));
    EXPECT_EQ(raws(F(F::pdf).possibleConversions()),
              (std::vector<std::string>{"txt", "html", "rtf", "markdown", "docx", "epub", "pdfPagePng", "pdfPageJpeg",
                                        "pdfSplit"}));
    EXPECT_EQ(raws(F(F::tsv).possibleConversions()), (std::vector<std::string>{"csv", "json", "html", "markdown", "pdf"}));
    EXPECT_EQ(raws(F(F::webm).possibleConversions()), (std::vector<std::string>{"mp4", "mov", "m4v", "gif", "extractAudio"}));
    EXPECT_EQ(raws(F(F::woff).possibleConversions()), (std::vector<std::string>{"woff2"}));
}

TEST_F(FormatTableTest, NoSourceOffersItselfAndJpegTwinsAreOneKind) {
    for (auto f : F::allCases()) {
        auto list = f.possibleConversions();
        EXPECT_EQ(std::count(list.begin(), list.end(), f), 0) << f.rawValue();
        bool multi = std::any_of(list.begin(), list.end(), [](F t) { return t.isMultiFileOutput(); });
        EXPECT_EQ(multi, f == F::pdf) << f.rawValue();
        bool extract = std::count(list.begin(), list.end(), F(F::extractAudio)) > 0;
        EXPECT_EQ(extract, f.category() == FileCategory::video) << f.rawValue();
    }
    auto jpg = F(F::jpg).possibleConversions();
    EXPECT_EQ(std::count(jpg.begin(), jpg.end(), F(F::jpeg)), 0);
    for (auto f : {F::pdf_image, F::svg, F::epub, F::pdfPagePng, F::pdfPageJpeg, F::pdfSplit, F::extractAudio})
        EXPECT_TRUE(F(f).possibleConversions().empty());
}

TEST_F(FormatTableTest, RasterTargetsFollowTheEncoderList) {
    FormatCapabilities::registerImageEncoderProvider([] { return std::vector<std::string>{"public.png", "public.jpeg"}; });
    FormatCapabilities::resetForTesting();
    EXPECT_EQ(raws(F(F::tiff).possibleConversions()), (std::vector<std::string>{"png", "jpeg", "pdf_image", "svg"}));
    EXPECT_FALSE(FormatCapabilities::canProduce(F::avif));
    EXPECT_EQ(FormatCapabilities::canProduce(F::heif), FormatCapabilities::canProduce(F::heic));
    EXPECT_EQ(FormatCapabilities::canProduce(F::jpg), FormatCapabilities::canProduce(F::jpeg));
    for (auto f : {F::webp, F::svg, F::pdf_image, F::jxl, F::mp3, F::zip}) EXPECT_TRUE(FormatCapabilities::canProduce(f));

    FormatCapabilities::registerImageEncoderProvider(nullptr);
    FormatCapabilities::resetForTesting();
    EXPECT_EQ(raws(F(F::png).possibleConversions()), (std::vector<std::string>{"pdf_image", "svg"}));
}

TEST(CommonTargets, ListsPerCategory) {
    EXPECT_EQ(raws(F::commonTargets(FileCategory::image)),
              (std::vector<std::string>{"jpeg", "png", "heic", "tiff", "avif", "gif", "pdf_image"}));
    EXPECT_EQ(raws(F::commonTargets(FileCategory::video)), (std::vector<std::string>{"mp4", "mov", "m4v", "m4a"}));
    EXPECT_EQ(raws(F::commonTargets(FileCategory::archive)), (std::vector<std::string>{"zip", "tar", "gzip"}));
    EXPECT_TRUE(F::commonTargets(FileCategory::unknown).empty());
}
