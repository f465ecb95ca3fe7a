// Font outputs against real system fonts, loaded by FreeType.
#include <gtest/gtest.h>

#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "engine/validator.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Status = Validator::ValidationStatus;

namespace {

const fs::path dejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const fs::path freeSerif = "/usr/share/fonts/opentype/freefont/FreeSerif.otf";

std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }

}  // namespace

TEST(ValidatorFonts, SystemFontsPassAndEitherSFNTFlavourFitsEitherTarget) {
    ASSERT_TRUE(fs::exists(dejaVu) && fs::exists(freeSerif));
    EXPECT_EQ(Validator::validate(SupportedFormat::ttf, dejaVu), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::otf, freeSerif), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::ttf, freeSerif), Status::passed()) << "CFF in a TrueType target";
    EXPECT_EQ(Validator::validate(SupportedFormat::otf, dejaVu), Status::passed());
}

TEST(ValidatorFonts, BrokenContainersNameTheirProblem) {
    TempDir dir;
    writeFile(dir / "short.ttf", std::string("\x00\x01\x00\x00\x00\x01", 6));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::ttf, dir / "short.ttf")), "Font file is empty or truncated.");
    writeFile(dir / "twelve.ttf", std::string(12, 'a'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::ttf, dir / "twelve.ttf")), "Font file is empty or truncated.");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::otf, dir / "missing.otf")), "Font file is empty or truncated.");
    writeFile(dir / "wrong.ttf", std::string("wOFF") + std::string(40, '\0'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::ttf, dir / "wrong.ttf")), "Not a recognised TrueType container.");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::otf, dir / "wrong.ttf")), "Not a recognised OpenType container.");
    writeFile(dir / "a.woff", std::string("wOF2") + std::string(40, '\0'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::woff, dir / "a.woff")), "Missing wOFF signature.");
    writeFile(dir / "a.woff2", std::string("wOFF") + std::string(40, '\0'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::woff2, dir / "a.woff2")), "Missing wOF2 signature.");

    // A real font cut short after its table directory: FreeType refuses it.
    auto bytes = readFile(dejaVu);
    bytes.resize(300);
    writeFile(dir / "cut.ttf", bytes);
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::ttf, dir / "cut.ttf")), "The system font engine could not load the output.");
    writeFile(dir / "garbage.ttf", std::string("\x00\x01\x00\x00", 4) + std::string(200, '\x7f'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::ttf, dir / "garbage.ttf")),
              "The system font engine could not load the output.");
}

TEST(ValidatorFonts, AFontWithoutNameTableHasNoPostScriptName) {
    ASSERT_TRUE(pythonModuleInstalled("fontTools"));
    TempDir dir;
    const auto r = run("/usr/bin/python3 -c \"from fontTools.ttLib import TTFont; f = TTFont('" + dejaVu.string() +
                       "'); del f['name']; f.save('" + (dir / "noname.ttf").string() + "')\"");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::ttf, dir / "noname.ttf")),
              "Output font has no PostScript name \u2014 the name table did not survive.");
}

TEST(ValidatorFonts, WebFontsAreDecodedBackBeforeLoading) {
    TempDir dir;
    writeFile(dir / "DejaVuSans.ttf", readFile(dejaVu));
    ASSERT_TRUE(peerInstalled("woff2_compress"));
    const auto r = run("woff2_compress " + shellQuote((dir / "DejaVuSans.ttf").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Validator::validate(SupportedFormat::woff2, dir / "DejaVuSans.woff2"), Status::passed());
    ASSERT_TRUE(pythonModuleInstalled("fontTools"));
    const auto woff = run("/usr/bin/python3 -c \"from fontTools.ttLib import TTFont; f = TTFont('" + dejaVu.string() +
                          "'); f.flavor = 'woff'; f.save('" + (dir / "a.woff").string() + "')\"");
    ASSERT_EQ(woff.status, 0) << woff.output;
    EXPECT_EQ(Validator::validate(SupportedFormat::woff, dir / "a.woff"), Status::passed());
    writeFile(dir / "bad.woff", std::string("wOFF") + std::string(60, '\x01'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::woff, dir / "bad.woff")), "WOFF file does not decode back to a valid font.");
    writeFile(dir / "bad.woff2", std::string("wOF2") + std::string(60, '\x01'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::woff2, dir / "bad.woff2")),
              "WOFF2 file does not decode back to a valid font.");
}

// A variable font whose PostScript name holds a space, as "Inter Display" does: FreeType gives
// it no PostScript name, yet the name is in the table, and every web font made of it keeps the
// source's name table, as fontTools reads both.
TEST(ValidatorFonts, APostScriptNameWithASpaceIsThereAndSurvivesEveryTarget) {
    ASSERT_TRUE(pythonModuleInstalled("fontTools"));
    ASSERT_TRUE(pythonModuleInstalled("brotli"));
    TempDir dir;
    const auto made = runPython(R"(
import sys
from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
def box(height):
    pen = TTGlyphPen(None)
    pen.moveTo((100, 0)); pen.lineTo((100, height)); pen.lineTo((500, height)); pen.lineTo((500, 0)); pen.closePath()
    return pen.glyph()
font = FontBuilder(1000, isTTF=True)
font.setupGlyphOrder([".notdef", "A"])
font.setupCharacterMap({0x41: "A"})
font.setupGlyf({".notdef": box(600), "A": box(700)})
font.setupHorizontalMetrics({".notdef": (600, 100), "A": (600, 100)})
font.setupHorizontalHeader(ascent=800, descent=-200)
font.setupNameTable({"familyName": "Fixture Display", "styleName": "Italic", "psName": "Fixture Display"})
font.setupOS2()
font.setupPost()
font.setupFvar([("wght", 100, 400, 900, "Weight")], [])
font.save(sys.argv[1])
)",
                                dir / "FixtureDisplay-italic.var.ttf");
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_EQ(Validator::validate(SupportedFormat::ttf, dir / "FixtureDisplay-italic.var.ttf"), Status::passed());
    for (SupportedFormat target : {SupportedFormat::woff, SupportedFormat::woff2, SupportedFormat::otf}) {
        try {
            ConversionEngine::convert(makeJob(dir / "FixtureDisplay-italic.var.ttf", SupportedFormat::ttf, target), dir / "out",
                                      [](double) {});
        } catch (const std::exception& e) {
            ADD_FAILURE() << target.rawValue() << ": " << e.what();
        }
    }
    // Each output's name table, byte for byte the source's, and the name in it.
    EXPECT_EQ(pythonOutput(R"(
import os, sys
from fontTools.ttLib import TTFont
source = TTFont(os.path.join(sys.argv[1], "FixtureDisplay-italic.var.ttf"))
for name in sorted(os.listdir(os.path.join(sys.argv[1], "out"))):
    output = TTFont(os.path.join(sys.argv[1], "out", name))
    print(name, output.reader["name"] == source.reader["name"], output["name"].getDebugName(6))
)",
                           dir.path()),
              "FixtureDisplay-italic.var.otf True Fixture Display\n"
              "FixtureDisplay-italic.var.woff True Fixture Display\n"
              "FixtureDisplay-italic.var.woff2 True Fixture Display\n");
}
