// The heavy codec libraries are opened only when a file of their type is read or written.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/conversion_error.h"
#include "platform/imaging/codecs/lazy_library.h"
#include "platform/imaging/fixtures.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::imaging;
using namespace calvoro::testing;

namespace {

const char* const heavyLibraries[] = {"libheif", "libjxl", "libopenjp2", "libraw", "libde265", "libx265", "libaom", "libdav1d"};

std::string mappedFiles() {
    std::ifstream maps("/proc/self/maps");
    std::stringstream text;
    text << maps.rdbuf();
    return text.str();
}

std::string selfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

}  // namespace

TEST(ImagingLazyLibraries, NoneIsALinkTimeDependency) {
    ASSERT_TRUE(peerInstalled("readelf"));
    const auto r = run("readelf -d " + shellQuote(selfPath()));
    ASSERT_NE(r.output.find("NEEDED"), std::string::npos);
    for (const char* library : heavyLibraries) EXPECT_EQ(r.output.find(std::string("[") + library), std::string::npos) << library;
}

// Run by the next test in a fresh process, so that nothing earlier has opened a library.
TEST(ImagingLazyLibraries, ChildConvertsPngToJpeg) {
    if (!std::getenv("CALVORO_LAZY_CHILD")) GTEST_SKIP() << "runs as the child of PngToJpegOpensNone";
    const auto png = encodeImage(quadrants(64, 48, true), types::png);
    auto source = ImageSource::fromData(png, "png");
    ASSERT_TRUE(source);
    ASSERT_FALSE(encodeImage(source->decodeFirstFrame(), types::jpeg).empty());
    ASSERT_TRUE(canEncode(types::jpeg));
    const std::string maps = mappedFiles();
    for (const char* library : heavyLibraries) EXPECT_EQ(maps.find(std::string("/") + library), std::string::npos) << library;
}

TEST(ImagingLazyLibraries, PngToJpegOpensNone) {
    const auto r = run("CALVORO_LAZY_CHILD=1 " + shellQuote(selfPath()) +
                       " --gtest_filter=ImagingLazyLibraries.ChildConvertsPngToJpeg 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[  PASSED  ] 1 test"), std::string::npos) << r.output;
}

TEST(ImagingLazyLibraries, HeicAndJpeg2000OpenTheirLibraryOnUse) {
    if (!canEncode(types::heic)) GTEST_SKIP() << "no HEIC encoder";
    auto heic = ImageSource::fromData(encodeImage(quadrants(64, 48), types::heic, EncodeOptions{0.8, {}, false, false, {}}), "heic");
    ASSERT_TRUE(heic);
    EXPECT_EQ(heic->decodeFirstFrame().width, 64);
    EXPECT_NE(mappedFiles().find("/libheif.so"), std::string::npos);
    ASSERT_TRUE(canEncode(types::jpeg2000));
    auto jp2 = ImageSource::fromData(encodeImage(quadrants(40, 30), types::jpeg2000), "jp2");
    ASSERT_TRUE(jp2);
    EXPECT_EQ(jp2->decodeFirstFrame().height, 30);
    EXPECT_NE(mappedFiles().find("/libopenjp2.so"), std::string::npos);
    // The encoder list opens what it needs when asked, and agrees with canEncode.
    for (const auto& id : encodableTypeIdentifiers()) EXPECT_TRUE(canEncode(id)) << id;
}

namespace {
struct AbsentTable {
    int (*function)() = nullptr;
};
bool bindAbsent(void* handle, AbsentTable& table) { return detail::bindSymbol(handle, "calvoro_no_such_function", table.function); }
// libz is present, the function is not: the table is refused whole.
struct IncompleteTable {
    int (*function)() = nullptr;
};
bool bindIncomplete(void* handle, IncompleteTable& table) { return detail::bindSymbol(handle, "calvoro_no_such_function", table.function); }
}  // namespace

TEST(ImagingLazyLibraries, AMissingLibraryOrFunctionLeavesNoTable) {
    EXPECT_EQ(detail::lazyTable<AbsentTable>({"libcalvoro-absent.so.9"}, bindAbsent), nullptr);
    EXPECT_EQ(detail::lazyTable<IncompleteTable>({"libz.so.1"}, bindIncomplete), nullptr);
    const ConversionError missing = detail::libraryMissing("libheif");
    EXPECT_EQ(missing.kind(), ConversionError::Kind::converterNotAvailable);
    EXPECT_NE(std::string(missing.what()).find("libheif"), std::string::npos);
}

TEST(ImagingLazyLibraries, JpegXlWrittenByVipsDecodesThroughTheOpenedLibrary) {
    ASSERT_TRUE(peerInstalled("vips"));
    TempDir dir;
    const auto png = dir / "q.png";
    const auto jxl = dir / "q.jxl";
    writeImageFile(png, quadrants(96, 64), types::png);
    const auto r = run("vips copy " + shellQuote(png.string()) + " " + shellQuote(jxl.string() + "[lossless]") + " 2>&1");
    if (r.status != 0) GTEST_SKIP() << "vips writes no JPEG XL: " << r.output;
    auto source = ImageSource::open(jxl);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->typeIdentifier(), types::jpegxl);
    const RgbaImage image = source->decodeFirstFrame();
    const RgbaImage expected = quadrants(96, 64);
    ASSERT_EQ(image.width, 96);
    ASSERT_EQ(image.height, 64);
    EXPECT_EQ(image.pixels, expected.pixels);
    EXPECT_NE(mappedFiles().find("/libjxl.so"), std::string::npos);
}
