// ImageConverter::convert end to end, read back by peers.

#include <dlfcn.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/picture_ending.h"
#include "image_fixtures.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace types = calvoro::imaging::types;

namespace {

std::vector<uint8_t> exifWithOrientation(int orientation, bool gps) {
    std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto le16 = [&](uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); };
    auto le32 = [&](uint32_t v) { le16(v & 0xFFFF), le16(v >> 16); };
    le16(gps ? 2 : 1);
    le16(0x0112), le16(3), le32(1), le32(static_cast<uint32_t>(orientation));
    const uint32_t gpsAt = 8 + 2 + (gps ? 2 : 1) * 12 + 4;
    if (gps) le16(0x8825), le16(4), le32(1), le32(gpsAt);
    le32(0);
    if (gps) {
        le16(1);
        le16(0x0001), le16(2), le32(2), b.push_back('N'), b.push_back(0), b.push_back(0), b.push_back(0);
        le32(0);
    }
    return b;
}

// A phone-style JPEG: stored landscape 40×20 with orientation 6 (shown portrait), GPS tagged.
std::filesystem::path phonePhoto(const TempDir& dir, const std::string& name = "phone.jpg") {
    imaging::EncodeOptions options;
    options.metadata.exif = exifWithOrientation(6, true);
    options.metadata.orientation = 6;
    options.metadata.xmp = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/><?xpacket end=\"w\"?>";
    const auto path = dir / name;
    imaging::writeImageFile(path, {markedPicture(40, 20)}, types::jpeg, options);
    return path;
}

bool isRed(const uint8_t* p) { return p[0] > 200 && p[2] < 60; }
bool isBlue(const uint8_t* p) { return p[2] > 200 && p[0] < 60; }

}  // namespace

TEST(ImageConvert, TransparencyIsWhiteInJpegAndKeptInAlphaTargets) {
    TempDir dir, out;
    imaging::writeImageFile(dir / "alpha.png", {markedPicture(32, 32, true)}, types::png);
    const auto jpg = ImageConverter::convert(dir / "alpha.png", SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false);
    EXPECT_EQ(jpg.filename(), "alpha.jpg");
    EXPECT_EQ(peer("convert " + shellQuote(jpg.string()) + " -format '%[pixel:p{20,2}]' info:"), "srgb(255,255,255)");
    for (SupportedFormat f : {SupportedFormat::tiff, SupportedFormat::png, SupportedFormat::webp, SupportedFormat::tga,
                              SupportedFormat::psd, SupportedFormat::bmp, SupportedFormat::gif, SupportedFormat::jp2}) {
        SCOPED_TRACE(f.displayName());
        const auto file = ImageConverter::convert(dir / "alpha.png", f, out.path(), 0.92, std::nullopt, false);
        auto image = decode(file);
        ASSERT_EQ(image.width, 32);
        EXPECT_LT(image.row(2)[20 * 4 + 3], 30);
        EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote(file.string() + "[0]")), "32×32");
    }
}

TEST(ImageConvert, QualityIsAppliedAndHeicIsCappedAt085) {
    TempDir dir, out;
    imaging::writeImageFile(dir / "p.png", {markedPicture(64, 48)}, types::png);
    const auto q92 = ImageConverter::convert(dir / "p.png", SupportedFormat::jpg, out.path(), 0.92, std::nullopt, false);
    const auto q50 = ImageConverter::convert(dir / "p.png", SupportedFormat::jpg, out.path(), 0.5, std::nullopt, false);
    EXPECT_EQ(q92.filename(), "p.jpg");
    EXPECT_EQ(q50.filename(), "p (1).jpg");
    EXPECT_EQ(peer("identify -format %Q " + shellQuote(q92.string())), "92");
    EXPECT_EQ(peer("identify -format %Q " + shellQuote(q50.string())), "50");
    if (!imaging::canEncode(types::heic)) {
        // Debian's libheif carries its HEVC encoder: only a system without libheif excuses this.
        void* heif = ::dlopen("libheif.so.1", RTLD_LAZY);
        if (!heif) GTEST_SKIP() << "libheif is not installed";
        ::dlclose(heif);
        FAIL() << "libheif is installed, yet HEIC does not encode";
    }
    // 0.92 and 0.85 give the same file; 0.5 another.
    const auto h92 = ImageConverter::convert(dir / "p.png", SupportedFormat::heic, out.path(), 0.92, std::nullopt, false);
    const auto h85 = ImageConverter::convert(dir / "p.png", SupportedFormat::heic, out.path(), 0.85, std::nullopt, false);
    const auto h50 = ImageConverter::convert(dir / "p.png", SupportedFormat::heic, out.path(), 0.5, std::nullopt, false);
    EXPECT_EQ(readFile(h92), readFile(h85));
    EXPECT_NE(readFile(h92), readFile(h50));
    EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote(h92.string())), "64×48");
}

TEST(ImageConvert, PhonePhotoComesOutUprightEverywhere) {
    TempDir dir, out;
    const auto photo = phonePhoto(dir);
    // JPEG to JPEG keeps the orientation tag and the stored pixels: peers show it upright.
    const auto kept = ImageConverter::convert(photo, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false);
    EXPECT_EQ(peer("identify -format '%[orientation]' " + shellQuote(kept.string())), "RightTop");
    // Every way that loses the tag turns the pixels: BMP, a resize, stripping, PNG.
    struct Way {
        SupportedFormat target;
        std::optional<int> maxEdge;
        bool strip;
    };
    for (Way way : {Way{SupportedFormat::bmp, std::nullopt, false}, Way{SupportedFormat::jpeg, 30, false},
                    Way{SupportedFormat::jpeg, std::nullopt, true}, Way{SupportedFormat::png, std::nullopt, false},
                    Way{SupportedFormat::ico, std::nullopt, false}}) {
        SCOPED_TRACE(way.target.displayName());
        const auto file = ImageConverter::convert(photo, way.target, out.path(), 0.92, way.maxEdge, way.strip);
        auto image = decode(file);
        const std::string orientation = peer("identify -format '%[orientation]' " + shellQuote(file.string() + "[0]"));
        EXPECT_TRUE(orientation == "TopLeft" || orientation == "Undefined") << orientation;
        if (way.target == SupportedFormat::ico) continue;  // squeezed square
        // Stored 40×20 red|blue, turned clockwise: 20×40 (or 15×30), red on top.
        EXPECT_LT(image.width, image.height);
        EXPECT_TRUE(isRed(image.row(2) + (image.width / 2) * 4));
        EXPECT_TRUE(isBlue(image.row(image.height - 3) + (image.width / 2) * 4));
    }
}

TEST(ImageConvert, MetadataIsCopiedOrStripped) {
    TempDir dir, out;
    const auto photo = phonePhoto(dir);
    auto gpsOf = [](const std::filesystem::path& f) { return peer("identify -verbose " + shellQuote(f.string())).find("GPSLatitudeRef") != std::string::npos; };
    EXPECT_TRUE(gpsOf(photo));
    const auto kept = ImageConverter::convert(photo, SupportedFormat::tiff, out.path(), 0.92, std::nullopt, false);
    auto keptSource = imaging::ImageSource::open(kept);
    EXPECT_TRUE(keptSource->properties().hasGPS);
    EXPECT_FALSE(keptSource->properties().metadata.xmp.empty());
    const auto resized = ImageConverter::convert(photo, SupportedFormat::jpeg, out.path(), 0.92, 10, false);
    EXPECT_TRUE(gpsOf(resized));  // descriptive metadata survives a resize
    const auto stripped = ImageConverter::convert(photo, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, true);
    EXPECT_FALSE(gpsOf(stripped));
    auto strippedSource = imaging::ImageSource::open(stripped);
    EXPECT_TRUE(strippedSource->properties().metadata.xmp.empty());
    EXPECT_TRUE(strippedSource->properties().metadata.exif.empty());
}

TEST(ImageConvert, MaxEdgeShrinksButNeverEnlarges) {
    TempDir dir, out;
    imaging::writeImageFile(dir / "w.png", {markedPicture(300, 200)}, types::png);
    auto size = [&](std::optional<int> edge) {
        const auto f = ImageConverter::convert(dir / "w.png", SupportedFormat::png, out.path(), 0.92, edge, false);
        return peer("identify -format '%w×%h' " + shellQuote(f.string()));
    };
    EXPECT_EQ(size(400), "300×200");
    EXPECT_EQ(size(300), "300×200");
    EXPECT_EQ(size(150), "150×100");
    EXPECT_EQ(size(100), "100×67");
    EXPECT_EQ(size(0), "300×200");
    EXPECT_EQ(size(-5), "300×200");
}

TEST(ImageConvert, ResizeRoundsHalvesAwayFromZero) {
    EXPECT_EQ(ImageConverter::resizeImage(imaging::RgbaImage(3000, 2000), 1000)->height, 667);
    auto tiny = ImageConverter::resizeImage(imaging::RgbaImage(3, 2), 1);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->width, 1);
    EXPECT_EQ(tiny->height, 1);
    EXPECT_FALSE(ImageConverter::resizeImage(imaging::RgbaImage(5, 1), 2));
    EXPECT_FALSE(ImageConverter::resizeImage(imaging::RgbaImage(), 2));
}

TEST(ImageConvert, FailuresSayWhatHappenedAndReserveNothingEarly) {
    TempDir dir, out;
    // Truncated JPEG: refused before a name is reserved.
    auto bytes = imaging::encodeImage(markedPicture(64, 64), types::jpeg);
    bytes.pop_back();
    writeFile(dir / "photo.jpg", bytes);
    try {
        ImageConverter::convert(dir / "photo.jpg", SupportedFormat::png, out.path(), 0.92, std::nullopt, false);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        EXPECT_STREQ(e.what(), "File appears corrupt: photo.jpg is truncated — the file is missing its ending, so only part of the image is present.");
    }
    bytes.push_back(0xD9);
    writeFile(dir / "photo.jpg", bytes);
    EXPECT_EQ(ImageConverter::convert(dir / "photo.jpg", SupportedFormat::png, out.path(), 0.92, std::nullopt, false).filename(),
              "photo.png");

    // Not an image at all, or nothing: the log says what failed in this program's words.
    writeFile(dir / "notes.png", std::string("plain words, no pixels"));
    writeFile(dir / "empty.png", std::string());
    for (const std::string name : {"notes.png", "empty.png"}) {
        try {
            ImageConverter::convert(dir / name, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false);
            FAIL();
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::failedToLoadFile);
        }
        const auto last = ConversionLogger::shared().entries().back();
        EXPECT_EQ(last.message, "Could not read the image");
        EXPECT_EQ(last.detail, name);
    }
    // A damaged body behind a good signature.
    std::vector<uint8_t> damaged = imaging::encodeImage(markedPicture(16, 16), types::png);
    for (size_t i = 40; i < damaged.size() - 12; ++i) damaged[i] = 0x55;
    writeFile(dir / "damaged.png", damaged);
    try {
        ImageConverter::convert(dir / "damaged.png", SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: Could not decode image data");
    }
    // Missing file.
    EXPECT_THROW(ImageConverter::convert(dir / "absent.png", SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false),
                 ConversionError);
    // JPEG XL cannot be written.
    try {
        ImageConverter::convert(dir / "photo.jpg", SupportedFormat::jxl, out.path(), 0.92, std::nullopt, false);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
        EXPECT_STREQ(e.what(), "Converting Image → JPEG XL is not supported.");
    }
    // AVIF is written by a real AVIF encoder, or refused.
    if (imaging::canEncode(types::avif)) {
        const auto avif = ImageConverter::convert(dir / "photo.jpg", SupportedFormat::avif, out.path(), 0.8, std::nullopt, false);
        EXPECT_EQ(imaging::ImageSource::open(avif)->typeIdentifier(), types::avif);
    }
    EXPECT_FALSE(ImageConverter::utTypeForFormat(SupportedFormat::svg));
    EXPECT_FALSE(ImageConverter::utTypeForFormat(SupportedFormat::raw));
}

TEST(ImageConvert, AnOutputFolderThatTakesNoFilesIsAnOutputFailure) {
    TempDir dir;
    writeFile(dir / "pic.png", imaging::encodeImage(markedPicture(16, 16), types::png));
    // A plain file where the folder should be refuses new files to root as well.
    writeFile(dir / "not-a-folder", std::string("x"));
    for (SupportedFormat target : {SupportedFormat::jpeg, SupportedFormat::png, SupportedFormat::ico}) {
        SCOPED_TRACE(target.displayName());
        try {
            ImageConverter::convert(dir / "pic.png", target, dir / "not-a-folder", 0.92, std::nullopt, false);
            FAIL();
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::failedToCreateOutput) << e.what();
        }
    }
}

TEST(ImageConvert, TruncationCheckReadsTheEndsAndAGifsBlocks) {
    TempDir dir;
    auto check = [&](const std::string& name, const std::vector<uint8_t>& data) {
        writeFile(dir / name, data);
        return pictureTruncation(dir / name);
    };
    std::vector<uint8_t> jpeg(15, 0);
    jpeg[0] = 0xFF, jpeg[1] = 0xD8, jpeg[2] = 0xFF, jpeg[3] = 0xE0;
    jpeg.push_back(0xFF), jpeg.push_back(0xD9);
    EXPECT_FALSE(check("photo.jpg", jpeg));  // 17 bytes, complete
    jpeg.pop_back();
    EXPECT_EQ(check("photo.jpg", jpeg), std::nullopt);  // 16 bytes: not judged
    jpeg.push_back(0x00);
    EXPECT_EQ(*check("photo.jpg", jpeg), "photo.jpg is truncated — the file is missing its ending, so only part of the image is present.");

    auto png = imaging::encodeImage(markedPicture(4, 4), types::png);
    png[png.size() - 1] ^= 0xFF;  // CRC damage is not looked at
    EXPECT_FALSE(check("a.png", png));
    png.resize(png.size() - 6);  // cut inside IEND
    EXPECT_TRUE(check("a.png", png));

    // A GIF is judged by its blocks: bytes after the trailer are no loss, a trailer alone is no whole.
    const auto gif = imaging::encodeImage(markedPicture(40, 30), types::gif);
    ASSERT_EQ(gif.back(), 0x3B);
    EXPECT_FALSE(check("a.gif", gif));
    auto padded = gif;
    padded.push_back('\n');
    EXPECT_FALSE(check("a.gif", padded));
    padded.insert(padded.end(), 64, 0);
    EXPECT_FALSE(check("a.gif", padded));
    EXPECT_TRUE(check("a.gif", std::vector<uint8_t>(gif.begin(), gif.end() - 1)));
    auto cut = std::vector<uint8_t>(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(gif.size() / 2));
    cut.push_back(0x3B);
    EXPECT_TRUE(check("a.gif", cut));
    auto other = gif;
    other[3] = '9';
    other.pop_back();
    EXPECT_FALSE(check("a.gif", other));
    EXPECT_FALSE(pictureTruncation(dir / "missing.jpg"));
}

TEST(ImageConvert, JpegShrinkOnLoadKeepsTheResizeRule) {
    TempDir dir, out;
    // Odd sizes, where the reduced decode (sides rounded up) and the rule (halves away from
    // zero) differ: the result must have the rule's size, as figured from the stored size.
    struct Case {
        int w, h, edge;
        const char* expected;
    };
    for (Case c : {Case{1001, 667, 250, "250×167"}, Case{667, 1001, 333, "222×333"}, Case{1200, 800, 1199, "1199×799"},
                   Case{1600, 1066, 200, "200×133"}, Case{999, 999, 125, "125×125"}}) {
        SCOPED_TRACE(c.expected);
        const auto source = dir / ("p" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".jpg");
        imaging::writeImageFile(source, markedPicture(c.w, c.h), types::jpeg);
        const auto file = ImageConverter::convert(source, SupportedFormat::jpeg, out.path(), 0.92, c.edge, false);
        EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote(file.string())), c.expected);
        // Matches what a full decode resized by the same rule gives.
        const auto reduced = decode(file);
        const auto whole = ImageConverter::resizeImage(decode(source), c.edge);
        ASSERT_TRUE(whole);
        ASSERT_EQ(reduced.pixels.size(), whole->pixels.size());
        double total = 0;
        for (size_t i = 0; i < reduced.pixels.size(); ++i) total += std::abs(reduced.pixels[i] - whole->pixels[i]);
        EXPECT_LT(total / reduced.pixels.size(), 3.0);
        EXPECT_TRUE(isRed(reduced.row(reduced.height / 2) + 4 * 4));
        EXPECT_TRUE(isBlue(reduced.row(reduced.height / 2) + (reduced.width - 5) * 4));
    }
    // A size the rule refuses keeps the whole picture, not the reduced decode.
    imaging::writeImageFile(dir / "strip.jpg", markedPicture(1000, 8), types::jpeg);
    const auto kept = ImageConverter::convert(dir / "strip.jpg", SupportedFormat::jpeg, out.path(), 0.92, 1, false);
    EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote(kept.string())), "1000×8");
}

TEST(ImageConvert, JpegDecodesAtTheSmallestScaleThatIsLargeEnough) {
    auto source = imaging::ImageSource::fromData(
        imaging::encodeImage(markedPicture(3000, 2000), types::jpeg), "jpg");
    ASSERT_TRUE(source);
    // 1024 of 3000 needs 3/8 (1125 × 750); 2/8 would be 750 wide.
    const auto image = source->decodeFirstFrameForResize(1024);
    EXPECT_EQ(image.width, 1125);
    EXPECT_EQ(image.height, 750);
    EXPECT_EQ(source->properties().pixelWidth, 3000);
    EXPECT_EQ(source->properties().pixelHeight, 2000);
    // A later whole decode is whole again; no reduction where none is asked.
    EXPECT_EQ(source->decodeFirstFrame().width, 3000);
    EXPECT_EQ(source->decodeFirstFrameForResize(3500).width, 3000);
    EXPECT_EQ(source->decodeFirstFrameForResize(350).width, 375);
}
