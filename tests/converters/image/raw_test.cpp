// Camera RAW sources go through LibRaw.

#include <gtest/gtest.h>
#include <tiffio.h>

#include "image_fixtures.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/fixtures.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

// A linear (already demosaiced) DNG: red left half, blue right half, 16-bit.
void writeDNG(const std::filesystem::path& path, int w, int h) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 34892);  // LinearRaw
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_MAKE, "Calvoro");
    TIFFSetField(t, TIFFTAG_MODEL, "Test");
    static const uint8_t version[4] = {1, 4, 0, 0};
    TIFFSetField(t, TIFFTAG_DNGVERSION, version);
    TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Calvoro Test");
    float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, matrix);
    float neutral[3] = {1, 1, 1};
    TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
    std::vector<uint16_t> row(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            row[x * 3] = x < w / 2 ? 60000 : 2000;
            row[x * 3 + 1] = 2000;
            row[x * 3 + 2] = x < w / 2 ? 2000 : 60000;
        }
        TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(t);
}

}  // namespace

TEST(RawDecoding, DngIsDevelopedByLibRaw) {
    TempDir dir, out;
    writeDNG(dir / "shot.dng", 64, 48);
    auto source = imaging::ImageSource::open(dir / "shot.dng");
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->isCameraRaw());
    const auto png = ImageConverter::convert(dir / "shot.dng", SupportedFormat::png, out.path(), 0.92, std::nullopt, false);
    EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote(png.string())), "64×48");
    auto image = decode(png);
    ASSERT_EQ(image.width, 64);
    const uint8_t* left = image.row(24) + 8 * 4;
    const uint8_t* right = image.row(24) + 56 * 4;
    EXPECT_GT(left[0], left[2] + 50);
    EXPECT_GT(right[2], right[0] + 50);
    // Resized RAW to JPEG works too (the pixels are new, so no source index is reused).
    const auto small = ImageConverter::convert(dir / "shot.dng", SupportedFormat::jpeg, out.path(), 0.9, 32, false);
    EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote(small.string())), "32×24");
}

TEST(RawDecoding, TiffWithoutRawNameIsAnOrdinaryTiff) {
    TempDir dir;
    writeDNG(dir / "shot.tif", 8, 8);
    auto source = imaging::ImageSource::open(dir / "shot.tif");
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->isCameraRaw());
    // A JPEG is never a RAW.
    imaging::writeImageFile(dir / "p.jpg", {markedPicture(8, 8)}, imaging::types::jpeg);
    EXPECT_FALSE(imaging::ImageSource::open(dir / "p.jpg")->isCameraRaw());
}

TEST(RawDecoding, MetadataTravelsWithTheDevelopedPicture) {
    TempDir dir, out;
    writeDNG(dir / "plain.dng", 64, 48);
    // IPTC caption (2:120) "Harbour"; GPS and the camera's make in the Exif block; an XMP packet.
    const std::vector<uint8_t> iptc = {0x1C, 0x02, 0x78, 0x00, 0x07, 'H', 'a', 'r', 'b', 'o', 'u', 'r'};
    const std::string xmp = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                            "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
                            "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Label=\"Kept\"/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
    writeFile(dir / "shot.dng", imaging::detail::injectMetadata(readFile(dir / "plain.dng"), exifBlock(1, true), xmp, iptc));
    ASSERT_TRUE(imaging::ImageSource::open(dir / "shot.dng")->isCameraRaw());
    ASSERT_TRUE(peerInstalled("identify"));
    for (SupportedFormat target : {SupportedFormat::jpeg, SupportedFormat::tiff}) {
        SCOPED_TRACE(target.displayName());
        const auto kept = ImageConverter::convert(dir / "shot.dng", target, out.path(), 0.92, std::nullopt, false);
        const auto props = imaging::ImageSource::open(kept)->properties();
        EXPECT_EQ(props.pixelWidth, 64);
        EXPECT_TRUE(props.hasGPS);
        EXPECT_NE(props.metadata.xmp.find("Kept"), std::string::npos);
        EXPECT_NE(std::search(props.metadata.iptc.begin(), props.metadata.iptc.end(), iptc.begin(), iptc.end()),
                  props.metadata.iptc.end());
        EXPECT_EQ(peer("identify -format '%[IPTC:2:120]' " + shellQuote(kept.string())), "Harbour");
        const auto exif = peer("identify -format '%[EXIF:*]' " + shellQuote(kept.string()));
        if (target == SupportedFormat::jpeg) EXPECT_NE(exif.find("exif:Make=Calvoro Test"), std::string::npos) << exif;
        // The sensor data's layout is not the picture's.
        EXPECT_EQ(exif.find("BitsPerSample"), std::string::npos) << exif;
        const auto stripped = ImageConverter::convert(dir / "shot.dng", target, out.path(), 0.92, std::nullopt, true);
        EXPECT_FALSE(imaging::ImageSource::open(stripped)->properties().hasGPS);
    }
}
