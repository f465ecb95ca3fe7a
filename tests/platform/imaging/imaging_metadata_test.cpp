// Metadata, orientation, limits and damaged input.

#include <gtest/gtest.h>
#include <lcms2.h>

#include "core/conversion_error.h"
#include "fixtures.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::imaging;
using namespace calvoro::testing;

namespace {
std::string identify(const std::filesystem::path& file, const std::string& format) {
    return run("identify -format " + shellQuote(format) + " " + shellQuote(file.string()) + " 2>/dev/null").output;
}
}  // namespace

TEST(ImagingMetadata, ExifTravelsWithJpegPngWebpTiffAndGpsCanBeLeftOut) {
    TempDir dir;
    EncodeOptions options;
    options.metadata.exif = exifBlock(6, true);
    options.metadata.orientation = 6;
    options.metadata.xmp =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
    const RgbaImage picture = quadrants(30, 20);
    for (const char* ext : {"jpg", "png", "tiff", "webp"}) {
        SCOPED_TRACE(ext);
        const std::string type = std::string(ext) == "jpg" ? types::jpeg : std::string(ext) == "png" ? types::png
                                 : std::string(ext) == "tiff"                                      ? types::tiff
                                                                                                   : types::webp;
        const auto kept = dir / (std::string("kept.") + ext);
        writeImageFile(kept, {picture}, type, options);
        // ImageMagick 6 reads no eXIf chunk; the others it shows.
        if (type == types::jpeg || type == types::tiff) {
            EXPECT_NE(run("identify -verbose " + shellQuote(kept.string())).output.find("Calvoro Test"), std::string::npos);
        }
        auto source = ImageSource::open(kept);
        ASSERT_TRUE(source);
        EXPECT_TRUE(source->properties().hasGPS);
        EXPECT_FALSE(source->properties().metadata.xmp.empty());
        // Orientation is written only where readers honour it.
        EXPECT_EQ(source->properties().metadata.orientation, carriesOrientation(type) ? 6 : 1);

        EncodeOptions stripped = options;
        stripped.excludeGPS = true;
        stripped.excludeXMP = true;
        const auto lean = dir / (std::string("lean.") + ext);
        writeImageFile(lean, {picture}, type, stripped);
        auto leanSource = ImageSource::open(lean);
        ASSERT_TRUE(leanSource);
        EXPECT_FALSE(leanSource->properties().hasGPS);
        EXPECT_TRUE(leanSource->properties().metadata.xmp.empty());
        const auto& exif = leanSource->properties().metadata.exif;
        EXPECT_NE(std::string(exif.begin(), exif.end()).find("Calvoro Test"), std::string::npos);
        if (type == types::jpeg) {
            EXPECT_NE(run("identify -verbose " + shellQuote(kept.string())).output.find("GPSLatitudeRef"), std::string::npos);
            EXPECT_EQ(run("identify -verbose " + shellQuote(lean.string())).output.find("GPSLatitudeRef"), std::string::npos);
        }
    }
}

TEST(ImagingMetadata, OrientationTurnsPixelsAsPeersDo) {
    // A TIFF carries the tag losslessly; ImageMagick's auto-orient is the reference.
    TempDir dir;
    RgbaImage picture = quadrants(6, 4);
    picture.row(0)[0] = 10;  // one marked corner
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        EncodeOptions options;
        options.metadata.orientation = o;
        const auto file = dir / ("o" + std::to_string(o) + ".tiff");
        writeImageFile(file, {picture}, types::tiff, options);
        const auto upright = dir / ("u" + std::to_string(o) + ".png");
        ASSERT_EQ(run("convert " + shellQuote(file.string()) + " -auto-orient " + shellQuote(upright.string())).status, 0);
        auto theirs = ImageSource::open(upright)->decodeFirstFrame();
        auto source = ImageSource::open(file);
        EXPECT_EQ(source->properties().metadata.orientation, o);
        RgbaImage ours = applyOrientation(source->decodeFirstFrame(), o);
        ASSERT_EQ(ours.width, theirs.width);
        ASSERT_EQ(ours.height, theirs.height);
        EXPECT_EQ(ours.pixels, theirs.pixels);
    }
}

TEST(ImagingMetadata, ColourProfileIsKeptOrConverted) {
    // A wide-gamut profile made here: Adobe RGB primaries, gamma 2.2.
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    std::vector<uint8_t> icc(length);
    cmsSaveProfileToMem(profile, icc.data(), &length);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(gamma);

    TempDir dir;
    RgbaImage image = quadrants(16, 16);
    image.iccProfile = icc;
    image.row(0)[0] = 100, image.row(0)[1] = 150, image.row(0)[2] = 50;
    for (const char* type : {types::jpeg, types::png, types::tiff, types::webp, types::heic}) {
        SCOPED_TRACE(type);
        const auto file = dir / (std::string("p.") + (type == types::jpeg ? "jpg" : type == types::png ? "png" : type == types::tiff ? "tiff" : type == types::webp ? "webp" : "heic"));
        writeImageFile(file, {image}, type);
        EXPECT_EQ(ImageSource::open(file)->properties().metadata.iccProfile, icc);
        if (type != types::heic) {
            EXPECT_NE(identify(file, "%[profiles]").find("icc"), std::string::npos);
        }
    }
    // BMP holds no profile: the pixels are converted to sRGB, so a wide-gamut green gets greener
    // numbers and its red drops.
    writeImageFile(dir / "conv.bmp", {image}, types::bmp);
    RgbaImage bmp = ImageSource::open(dir / "conv.bmp")->decodeFirstFrame();
    EXPECT_LT(bmp.row(0)[0], 95);
    EXPECT_GT(bmp.row(0)[1], 150);
    EXPECT_TRUE(ImageSource::open(dir / "conv.bmp")->properties().metadata.iccProfile.empty());
}

TEST(ImagingLimits, HugeDeclaredSizesAreRefusedBeforeDecoding) {
    // A PNG header claiming 40000 × 40000 pixels and no data behind it.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                0, 0, 0x9C, 0x40, 0, 0, 0x9C, 0x40, 8, 6, 0, 0, 0, 0, 0, 0, 0,
                                // A token IDAT; CRCs are not checked by the decoder.
                                0, 0, 0, 2, 'I', 'D', 'A', 'T', 0x78, 0x9C, 0, 0, 0, 0};
    auto source = ImageSource::fromData(png);
    ASSERT_TRUE(source);
    try {
        source->decodeFirstFrame();
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos);
    }
    // A BMP of 30000 × 30000 declared in 54 bytes.
    std::vector<uint8_t> bmp = {'B', 'M'};
    le32(bmp, 54), le32(bmp, 0), le32(bmp, 54), le32(bmp, 40), le32(bmp, 30000), le32(bmp, 30000);
    le16(bmp, 1), le16(bmp, 24);
    bmp.resize(54, 0);
    auto b = ImageSource::fromData(bmp);
    ASSERT_TRUE(b);
    EXPECT_THROW(b->decodeFirstFrame(), ConversionError);
    // A PNG whose header says 4,000,000 rows, alone and in an icon, and a JPEG whose frame says
    // 60,000: far more than their few hundred bytes of pixel data could hold, so damaged rather
    // than a picture to allocate.
    std::vector<uint8_t> tall = encodeImage(quadrants(16, 16), types::png);
    tall[20] = 0, tall[21] = 0x3D, tall[22] = 0x09, tall[23] = 0;
    std::vector<uint8_t> icon = {0, 0, 1, 0, 1, 0, 16, 0, 0, 0, 1, 0, 32, 0};
    le32(icon, static_cast<uint32_t>(tall.size())), le32(icon, 22);
    icon.insert(icon.end(), tall.begin(), tall.end());
    std::vector<uint8_t> tallJpeg = encodeImage(quadrants(16, 16), types::jpeg);
    size_t marker = 2;
    while (marker + 9 < tallJpeg.size() && tallJpeg[marker + 1] != 0xC0 && tallJpeg[marker + 1] != 0xC2)
        marker += 2 + size_t(tallJpeg[marker + 2] << 8 | tallJpeg[marker + 3]);
    ASSERT_LT(marker + 9, tallJpeg.size());
    tallJpeg[marker + 5] = 0xEA, tallJpeg[marker + 6] = 0x60;
    // TGAs of 4000 × 4000 pixels, stored and in runs, with a hundred bytes of pixels.
    std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x0F, 0xA0, 0x0F, 24, 0x20};
    tga.resize(tga.size() + 100, 0x7F);
    std::vector<uint8_t> runs = tga;
    runs[2] = 10;
    // A BMP and PSDs (raw and PackBits) of 4000 × 4000 pixels, each with a hundred bytes of them.
    std::vector<uint8_t> shortBmp = {'B', 'M'};
    le32(shortBmp, 154), le32(shortBmp, 0), le32(shortBmp, 54), le32(shortBmp, 40), le32(shortBmp, 4000), le32(shortBmp, 4000);
    le16(shortBmp, 1), le16(shortBmp, 24);
    shortBmp.resize(54, 0);
    shortBmp.resize(154, 0x7F);
    std::vector<uint8_t> psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0x0F, 0xA0, 0, 0, 0x0F, 0xA0, 0, 8, 0, 3};
    psd.resize(psd.size() + 12, 0);  // empty colour mode, resources and layers
    psd.insert(psd.end(), {0, 0});   // raw
    psd.resize(psd.size() + 100, 0x7F);
    std::vector<uint8_t> packed = psd;
    packed[26 + 12 + 1] = 1;
    // A grey TIFF of 4000 × 4000 pixels in one strip of a hundred bytes.
    std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    for (const auto& [tag, value] : std::vector<std::pair<uint32_t, uint32_t>>{
             {256, 4000}, {257, 4000}, {258, 8}, {259, 1}, {262, 1}, {273, 122}, {277, 1}, {278, 4000}, {279, 100}})
        le16(tiff, tag), le16(tiff, 4), le32(tiff, 1), le32(tiff, value);
    le32(tiff, 0);
    tiff.resize(tiff.size() + 100, 0x7F);
    for (const auto& [bytes, ext] : {std::pair{tall, "png"}, std::pair{icon, "ico"}, std::pair{tallJpeg, "jpg"},
                                     std::pair{tga, "tga"}, std::pair{runs, "tga"}, std::pair{shortBmp, "bmp"},
                                     std::pair{psd, "psd"}, std::pair{packed, "psd"}, std::pair{tiff, "tiff"}}) {
        SCOPED_TRACE(ext);
        auto lying = ImageSource::fromData(bytes, ext);
        ASSERT_TRUE(lying);
        try {
            lying->decodeFirstFrame();
            ADD_FAILURE() << "decoded";
        } catch (const ConversionError& e) {
            // Refused by what the data holds, before the picture is allocated.
            EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
            EXPECT_NE(std::string(e.what()).find("shorter than its size needs"), std::string::npos) << e.what();
        }
    }
}

TEST(ImagingDamage, CutFilesDecodeWhatIsThereOrFailCleanly) {
    TempDir dir;
    const RgbaImage picture = quadrants(64, 64);
    for (const char* type : {types::png, types::jpeg, types::gif}) {
        SCOPED_TRACE(type);
        auto bytes = encodeImage(picture, type);
        // Cut in the image data: the decoder keeps what arrived (or refuses, never crashes).
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * 2 / 3));
        auto source = ImageSource::fromData(cut);
        ASSERT_TRUE(source);
        try {
            RgbaImage image = source->decodeFirstFrame();
            EXPECT_EQ(image.width, 64);
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        }
    }
    // Garbage after a valid signature of each own-code type fails with corruptFile.
    for (std::vector<uint8_t> junk : {std::vector<uint8_t>{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 1, 0, 0, 0, 1, 0, 0, 8, 0, 3},
                                      std::vector<uint8_t>{'i', 'c', 'n', 's', 0, 0, 0, 8},
                                      std::vector<uint8_t>{0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0xFF, 0xFF, 0, 0, 22, 0, 0, 0}}) {
        auto source = ImageSource::fromData(junk);
        ASSERT_TRUE(source);
        EXPECT_THROW(source->decodeFirstFrame(), ConversionError);
    }
}

TEST(ImagingDamage, ATgaColourMapOfOddEntrySizeReadsOnlyItsOwnBytes) {
    // Ten-bit entries take two bytes each; reading them as four ran past the map (and the file).
    std::vector<uint8_t> tga = {0, 1, 1, 0, 0, 2, 0, 10, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0};
    tga.insert(tga.end(), {0x1F, 0x00, 0xE0, 0x03});  // the map: blue, green in 15-bit colour
    tga.push_back(1);                                   // the one pixel: entry 1
    // A copy without spare capacity, so that the sanitizer sees a read past the end.
    auto source = ImageSource::fromData(std::vector<uint8_t>(tga.begin(), tga.end()), "tga");
    ASSERT_TRUE(source);
    const RgbaImage image = source->decodeFirstFrame();
    ASSERT_EQ(image.width, 1);
    EXPECT_EQ(image.pixels[1], 255);  // green
}

TEST(ImagingResample, KeepsFlatColourAndTransparentEdgesClean) {
    RgbaImage flat(300, 200);
    for (size_t i = 0; i < flat.pixels.size(); i += 4) flat.pixels[i] = 90, flat.pixels[i + 1] = 140, flat.pixels[i + 2] = 200, flat.pixels[i + 3] = 255;
    RgbaImage small = resample(flat, 97, 31);
    ASSERT_EQ(small.width, 97);
    ASSERT_EQ(small.height, 31);
    for (size_t i = 0; i < small.pixels.size(); i += 4) {
        ASSERT_EQ(small.pixels[i], 90);
        ASSERT_EQ(small.pixels[i + 2], 200);
    }
    // Transparent black next to opaque red must not darken the red (premultiplied filtering).
    RgbaImage edge(100, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 50; x < 100; ++x) edge.row(y)[x * 4] = 255, edge.row(y)[x * 4 + 3] = 255;
    RgbaImage half = resample(edge, 50, 5);
    for (int x = 0; x < 50; ++x)
        if (half.row(2)[x * 4 + 3] > 16) {
            EXPECT_GE(half.row(2)[x * 4], 250) << x;
        }
    RgbaImage big = resample(quadrants(4, 4), 64, 64);
    EXPECT_EQ(big.width, 64);
}
