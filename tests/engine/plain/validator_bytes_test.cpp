// Validator rows that need no Qt: signatures, TAR, text, HTML, SVG, JSON and the unchecked targets.
#include <gtest/gtest.h>

#include "engine/validator.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using Status = Validator::ValidationStatus;

namespace {

class ValidatorFiles : public ::testing::Test {
protected:
    fs::path file(const std::string& name, const std::vector<uint8_t>& bytes) {
        writeFile(dir_ / name, bytes);
        return dir_ / name;
    }
    fs::path file(const std::string& name, const std::string& text) {
        writeFile(dir_ / name, text);
        return dir_ / name;
    }
    TempDir dir_;
};

std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }

}  // namespace

TEST_F(ValidatorFiles, SignaturesNameTheirLabelAndTheBytes) {
    EXPECT_EQ(Validator::validate(SupportedFormat::zip, file("a.zip", std::vector<uint8_t>{0x50, 0x4B, 0x03, 0x04, 0})),
              Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::zip, file("b.zip", std::vector<uint8_t>{0x50}))),
              "ZIP magic: file shorter than 4 bytes");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::zip, file("c.zip", std::vector<uint8_t>{0x50, 0x4B, 0x05, 0x06, 0, 0}))),
              "ZIP magic: got [50 4B 05 06], want [50 4B 03 04]");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::epub, file("d.epub", std::string("PK\x01\x02", 4)))),
              "EPUB (ZIP magic): got [50 4B 01 02], want [50 4B 03 04]");
    EXPECT_EQ(Validator::validate(SupportedFormat::gzip, file("e.gz", std::vector<uint8_t>{0x1F, 0x8B, 8})), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::gzip, file("f.gz", std::string("BZh")))),
              "GZIP magic: got [42 5A], want [1F 8B]");
    EXPECT_EQ(Validator::validate(SupportedFormat::xz, file("g.xz", std::vector<uint8_t>{0xFD, '7', 'z', 'X', 'Z', 0, 1})),
              Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::xz, file("h.xz", std::vector<uint8_t>{0xFD, '7', 'z'}))),
              "XZ magic: file shorter than 6 bytes");
    EXPECT_EQ(Validator::validate(SupportedFormat::bz2, file("i.bz2", std::string("BZh91AY"))), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::bz2, file("j.bz2", std::string("BZX")))),
              "BZIP2 magic: got [42 5A 58], want [42 5A 68]");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::zip, dir_ / "missing.zip")), "Could not open file for reading");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::docx, file("k.docx", std::string("<xml/>")))),
              "DOCX (ZIP magic): got [3C 78 6D 6C], want [50 4B 03 04]");
}

TEST_F(ValidatorFiles, TARNeedsOneNonEmptyBlock) {
    std::vector<uint8_t> block(512, 0);
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::tar, file("zeros.tar", block))), "TAR first block is all zeros (empty)");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::tar, file("short.tar", std::vector<uint8_t>(100, 'a')))),
              "TAR shorter than one 512-byte block");
    std::vector<uint8_t> ustar = block;
    std::copy_n("ustar", 5, ustar.begin() + 257);
    EXPECT_EQ(Validator::validate(SupportedFormat::tar, file("ustar.tar", ustar)), Status::passed()) << "empty name with ustar mark";
    std::vector<uint8_t> old = block;
    old[150] = '0';
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::tar, file("old.tar", old))), "Pre-POSIX TAR header has empty filename");
    old[0] = 'a';
    EXPECT_EQ(Validator::validate(SupportedFormat::tar, file("named.tar", old)), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::tar, dir_ / "none.tar")), "Could not open TAR for reading");
    ASSERT_TRUE(calvoro::testing::peerInstalled("bsdtar"));
    writeFile(dir_ / "member.txt", std::string("hello"));
    const auto r = calvoro::testing::run("cd " + calvoro::testing::shellQuote(dir_.path().string()) +
                                         " && bsdtar -cf real.tar member.txt");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Validator::validate(SupportedFormat::tar, dir_ / "real.tar"), Status::passed());
}

TEST_F(ValidatorFiles, TextAndMarkdownMustBeNonEmptyUTF8) {
    EXPECT_EQ(Validator::validate(SupportedFormat::txt, file("a.txt", std::string("caf\xC3\xA9\n"))), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::markdown, file("a.md", std::string("# Title\n"))), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::txt, file("b.txt", std::string("caf\xE9")))), "File not readable as UTF-8");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::markdown, file("c.md", std::string("\xC0\xAF")))),
              "File not readable as UTF-8") << "overlong form";
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::txt, file("d.txt", std::string()))), "Text file is empty");
    EXPECT_EQ(Validator::validate(SupportedFormat::txt, file("e.txt", std::string("\n"))), Status::passed()) << "untrimmed";
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::txt, file("f.txt", std::string("a\0b", 3)))), "File holds a NUL byte");
}

TEST_F(ValidatorFiles, HTMLNeedsOneOfItsMarkers) {
    EXPECT_EQ(Validator::validate(SupportedFormat::html, file("a.html", std::string("<!DOCTYPE html><p>x"))), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::html, file("b.html", std::string("<BODY>x</BODY>"))), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::html, file("c.html", std::string("<p>only a paragraph</p>")))),
              "HTML lacks <html>/<body>/<!doctype>");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::html, file("d.html", std::string()))), "HTML is empty");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::html, file("e.html", std::string("<html>\xFF")))),
              "HTML not readable as UTF-8");
    // A NUL is well-formed UTF-8, but no reader of a page expects one.
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::html, file("f.html", std::string("<html><td>\0</td>", 16)))),
              "HTML holds a NUL byte");
}

TEST_F(ValidatorFiles, SVGNeedsItsRootElement) {
    EXPECT_EQ(Validator::validate(SupportedFormat::svg, file("a.svg", std::string("  <?xml version='1.0'?>\n<SVG xmlns='x'/>"))),
              Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::svg, file("b.svg", std::string("<html></html>")))),
              "SVG missing <svg> root element");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::svg, file("c.svg", std::string("<svg \xFE>")))),
              "SVG not readable as UTF-8");
}

TEST_F(ValidatorFiles, JSONMustBeANonEmptyArray) {
    EXPECT_EQ(Validator::validate(SupportedFormat::json, file("a.json", std::string("[{\"a\": 1}]"))), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::json, file("b.json", std::string("{\"a\": 1}")))),
              "JSON root is not an array");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::json, file("c.json", std::string(" [] ")))), "JSON array is empty");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::json, file("d.json", std::string("[1,")))), "Output is not valid JSON");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::json, file("e.json", std::string("42")))), "Output is not valid JSON")
        << "no bare value at the top";
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::json, dir_ / "none.json")), "JSON not readable");
}

TEST_F(ValidatorFiles, TargetsWithoutACheckPassEvenWhenBroken) {
    for (SupportedFormat t : {SupportedFormat::jxl, SupportedFormat::raw, SupportedFormat::avi, SupportedFormat::webm}) {
        EXPECT_EQ(Validator::validate(t, file("empty." + t.fileExtension(), std::string())), Status::passed()) << t.rawValue();
        EXPECT_EQ(Validator::validate(t, dir_ / "missing"), Status::passed()) << t.rawValue();
    }
}

TEST_F(ValidatorFiles, RTFNeedsItsHeader) {
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::rtf, file("a.rtf", std::string("{\\rtx1}")))),
              "RTF header missing \u2014 got '{\\rtx1'");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::rtf, file("b.rtf", std::string("{\\rt\xC3\xA9")))),
              "RTF header missing \u2014 got ''") << "bytes that are not ASCII give the empty text";
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::rtf, dir_ / "none.rtf")), "RTF not readable");
}
