// Valid files met in the wild that must convert through the engine, validator included.
#include <gtest/gtest.h>

#include "converters/data/data_converter.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/type_identifiers.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using F = SupportedFormat;

namespace {

fs::path convert(const fs::path& source, F from, F to, const fs::path& outDir) {
    return ConversionEngine::convert(makeJob(source, from, to), outDir, noProgress);
}

}  // namespace

TEST(RealFiles, RowsShorterThanTheHeaderArePaddedForDelimitedTargets) {
    TempDir dir;
    writeFile(dir / "releases.csv", std::string("version,codename,created,eol\n1.1,Buzz,1993-08-16,1997-06-05\n13,Trixie,2023-06-10\n"));
    std::vector<fs::path> sources{dir / "releases.csv"};
    // Older releases there have no end-of-life columns filled.
    if (fs::exists("/usr/share/distro-info/debian.csv")) sources.push_back("/usr/share/distro-info/debian.csv");
    for (const auto& source : sources) {
        for (F target : {F::tsv, F::csv}) {
            const fs::path out = convert(source, F::csv, target, dir / target.rawValue());
            const auto rows = DataConverter::parseDelimited(readText(out), target == F::csv ? ',' : '\t');
            ASSERT_GT(rows.size(), 2u);
            for (const auto& row : rows) EXPECT_EQ(row.size(), rows.front().size()) << source << " " << target.rawValue();
        }
    }
    const auto rows = DataConverter::parseDelimited(readText(dir / "tsv" / "releases.tsv"), '\t');
    EXPECT_EQ(rows[2], (std::vector<std::string>{"13", "Trixie", "2023-06-10", ""}));
}

TEST(RealFiles, TransparentPicturesBecomeImagePDFsOnAWhitePage) {
    TempDir dir;
    imaging::RgbaImage picture(40, 30);
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 30; ++x) {
            uint8_t* p = picture.row(y) + x * 4;
            p[0] = 200, p[3] = 255;
        }
    imaging::writeImageFile(dir / "logo.png", picture, imaging::types::png);
    imaging::writeImageFile(dir / "logo.gif", picture, imaging::types::gif);
    ASSERT_TRUE(peerInstalled("pdftoppm"));
    for (auto [name, from] : {std::pair{"logo.png", F::png}, std::pair{"logo.gif", F::gif}}) {
        const fs::path out = convert(dir / name, from, F::pdf_image, dir / fs::path(name).extension().string().substr(1));
        // The corner of the page as a reader paints it.
        const auto r = run("pdftoppm -r 18 -x 0 -y 0 -W 1 -H 1 " + shellQuote(out.string()) + " | tail -c 3 | od -An -tu1");
        EXPECT_EQ(r.output, " 255 255 255\n") << name;
    }
}

TEST(RealFiles, WebPagesThatPaintTheirOwnBackgroundBecomePDFs) {
    TempDir dir;
    // A coloured bar across the top, as documentation pages have, and a body painted grey.
    writeFile(dir / "manual.html", std::string("<!doctype html><html><head><style>body{background:#c2c2c2 !important;margin:0}"
                                               ".nav{background:#2a8368;height:80px}</style></head><body>"
                                               "<div class=\"nav\">Contents</div><p>Some text.</p></body></html>"));
    std::vector<fs::path> pages{dir / "manual.html"};
    if (fs::exists("/usr/share/doc/valgrind/html/QuickStart.html")) pages.push_back("/usr/share/doc/valgrind/html/QuickStart.html");
    for (const auto& page : pages) {
        const fs::path out = convert(page, F::html, F::pdf, dir / "out");
        EXPECT_TRUE(fs::exists(out)) << page;
    }
}
