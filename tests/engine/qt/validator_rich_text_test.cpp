// RTF and DOCX outputs parsed back by the text layer.
#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "engine/validator.h"
#include "platform/text/docx.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Status = Validator::ValidationStatus;

namespace {
std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }
}  // namespace

TEST(ValidatorRichText, RTFMustParse) {
    TempDir dir;
    writeFile(dir / "good.rtf", std::string("{\\rtf1\\ansi{\\fonttbl{\\f0 Helvetica;}}\\f0\\fs24 Hello {\\b bold}\\par}"));
    EXPECT_EQ(Validator::validate(SupportedFormat::rtf, dir / "good.rtf"), Status::passed());
    writeFile(dir / "a.rtf", std::string("{\\rtf"));
    const Status cut = Validator::validate(SupportedFormat::rtf, dir / "a.rtf");
    EXPECT_TRUE(cut == Status::passed() || reason(cut) == "RTF could not be read as rich text") << reason(cut);
}

TEST(ValidatorRichText, DOCXMustBeAPackageThatParses) {
    TempDir dir;
    ASSERT_TRUE(peerInstalled("pandoc"));
    writeFile(dir / "in.md", std::string("# Title\n\nSome *text*.\n"));
    const auto r = run("pandoc -o " + shellQuote((dir / "good.docx").string()) + " " + shellQuote((dir / "in.md").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Validator::validate(SupportedFormat::docx, dir / "good.docx"), Status::passed());

    // A ZIP that is not a Word document.
    writeFile(dir / "x.txt", std::string("hello"));
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && zip -q plain.docx x.txt").status, 0);
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::docx, dir / "plain.docx")),
              "DOCX could not be read as rich text");
    writeFile(dir / "sig.docx", std::string("PK\x03\x04garbage", 11));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::docx, dir / "sig.docx")), "DOCX could not be read as rich text");

    // The program's own DOCX of a long text passes, though a source of that size would be refused.
    text::Attributes body;
    body.font = text::systemFont(12);
    writeFile(dir / "long.docx", text::writeDOCX(text::AttributedString::plain(std::string(text::DOCXLimits{}.part, 'a'), body)));
    EXPECT_THROW(text::readDOCX(readFile(dir / "long.docx")), ConversionError);
    EXPECT_EQ(Validator::validate(SupportedFormat::docx, dir / "long.docx"), Status::passed());
}
