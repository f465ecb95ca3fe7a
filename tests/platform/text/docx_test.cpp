#include <gtest/gtest.h>

#include <algorithm>

#include "core/conversion_error.h"
#include "platform/text/docx.h"
#include "platform/zip/zip_archive.h"
#include "support/test_support.h"
#include "run_lookup.h"

using namespace calvoro;
using namespace calvoro::text;
using calvoro::testing::peerInstalled;
using calvoro::testing::run;
using calvoro::testing::shellQuote;
using calvoro::testing::runHolding;
using calvoro::testing::TempDir;

namespace {

AttributedString sample() {
    Attributes body;
    body.font = systemFont(12);
    Attributes bold = body;
    bold.font->bold = true;
    Attributes italic = body;
    italic.font->italic = true;
    Attributes mono;
    mono.font = monospacedSystemFont(12);
    Attributes link = body;
    link.link = Link{Link::Kind::url, "https://example.org/x"};
    AttributedString s;
    s.append("First <para> & \"more\"\x01\n", body);
    s.append("bold", bold);
    s.append(" and ", body);
    s.append("italic", italic);
    s.append("\tcode ", body);
    s.append("mono", mono);
    s.append(" ", body);
    s.append("here", link);
    return s;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

TEST(DOCX, WriterAndReaderAgree) {
    auto bytes = writeDOCX(sample());
    auto s = readDOCX(bytes);
    // The control character cannot live in XML and is dropped.
    EXPECT_EQ(s.plainText(), "First <para> & \"more\"\nbold and italic\tcode mono here");
    EXPECT_TRUE(runHolding(s, "bold")->attributes.font->bold);
    EXPECT_TRUE(runHolding(s, "italic")->attributes.font->italic);
    EXPECT_TRUE(runHolding(s, "mono")->attributes.font->monospace);
    EXPECT_DOUBLE_EQ(runHolding(s, "First")->attributes.font->pointSize, 12);
    EXPECT_EQ(runHolding(s, "here")->attributes.link->value, "https://example.org/x");
}

TEST(DOCX, PandocReadsOurDOCX) {
    ASSERT_TRUE(peerInstalled("pandoc"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "a.docx", writeDOCX(sample()));
    auto r = run("pandoc -f docx -t markdown " + shellQuote((dir / "a.docx").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("**bold**"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("*italic*"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("https://example.org/x"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("First \\<para\\> &"), std::string::npos) << r.output;
}

TEST(DOCX, ReadsADocumentMadeByPandoc) {
    ASSERT_TRUE(peerInstalled("pandoc"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "in.md", std::string("# Heading One\n\nSome **strong** and *soft* text with `code` and [a link](https://pandoc.org/).\n\n| a | b |\n|---|---|\n| 1 | 2 |\n"));
    auto r = run("pandoc -o " + shellQuote((dir / "p.docx").string()) + " " + shellQuote((dir / "in.md").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    auto s = readDOCX(calvoro::testing::readFile(dir / "p.docx"));
    std::string plain = s.plainText();
    EXPECT_NE(plain.find("Heading One"), std::string::npos) << plain;
    EXPECT_NE(plain.find("Some strong and soft text with code and a link."), std::string::npos) << plain;
    const calvoro::text::Run* heading = runHolding(s, "Heading One");
    const calvoro::text::Run* body = runHolding(s, "Some");
    ASSERT_TRUE(heading && body);
    EXPECT_GT(heading->attributes.font->pointSize, body->attributes.font->pointSize);
    EXPECT_TRUE(runHolding(s, "strong")->attributes.font->bold);
    EXPECT_TRUE(runHolding(s, "soft")->attributes.font->italic);
    EXPECT_TRUE(runHolding(s, "code")->attributes.font->monospace);
    ASSERT_TRUE(runHolding(s, "a link")->attributes.link);
    EXPECT_EQ(runHolding(s, "a link")->attributes.link->value, "https://pandoc.org/");
    EXPECT_NE(plain.find("1"), std::string::npos);
}

TEST(DOCX, DamagedPackagesAreRefused) {
    EXPECT_THROW(readDOCX(bytesOf("not a zip at all")), ConversionError);
    auto good = writeDOCX(sample());
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    EXPECT_THROW(readDOCX(cut), ConversionError);
}

TEST(DOCX, AnEntryFailingItsChecksumIsRefusedNotRead) {
    // The parts stored rather than deflated, so that one changed byte still reads as text.
    auto members = zip::readZIP(writeDOCX(sample()));
    std::vector<zip::ZipEntry> entries;
    for (auto& m : members) entries.push_back({m.name, std::move(m.data), zip::ZipMethod::store});
    auto docx = zip::writeZIP(entries);
    const std::string word = "italic";
    auto at = std::search(docx.begin(), docx.end(), word.begin(), word.end());
    ASSERT_NE(at, docx.end());
    *at = 'I';
    try {
        readDOCX(docx);
        ADD_FAILURE() << "damaged entry read as text";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "File appears corrupt: checksum mismatch in word/document.xml");
    }
}

TEST(DOCX, APartThatExpandsPastItsBoundIsRefusedBeforeItIsRead) {
    const int64_t partLimit = DOCXLimits{}.part;
    const std::string ns = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    auto docx = [&](size_t textBytes, size_t noteBytes) {
        std::vector<zip::ZipEntry> entries{
            {"word/document.xml", bytesOf("<w:document " + ns + "><w:body><w:p><w:r><w:t>" + std::string(textBytes, 'a') +
                                          "</w:t></w:r></w:p></w:body></w:document>")}};
        if (noteBytes) {
            entries.push_back({"word/_rels/document.xml.rels",
                               bytesOf("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                                       "Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/footnotes\" "
                                       "Target=\"footnotes.xml\"/></Relationships>")});
            entries.push_back({"word/footnotes.xml", bytesOf("<w:footnotes " + ns + "><w:footnote w:id=\"1\"><w:p><w:r><w:t>" +
                                                              std::string(noteBytes, 'b') + "</w:t></w:r></w:p></w:footnote></w:footnotes>")});
        }
        return zip::writeZIP(entries);
    };
    auto refusal = [](const std::vector<uint8_t>& bytes) -> std::string {
        try {
            readDOCX(bytes);
        } catch (const ConversionError& e) {
            return e.what();
        }
        return "read";
    };
    const std::string partRefusal = "File appears corrupt: word/document.xml expands to more than 16 MB \u2014 refusing to continue.";
    auto big = docx(partLimit, 0);
    EXPECT_EQ(refusal(big), partRefusal);
    // A part whose records understate its size is stopped as it decodes past the bound.
    const std::vector<uint8_t> central{0x50, 0x4B, 0x01, 0x02};
    auto record = std::search(big.begin(), big.end(), central.begin(), central.end());
    ASSERT_NE(record, big.end());
    const uint8_t understated[] = {0x00, 0x10, 0x00, 0x00};  // 4 KiB
    std::copy(std::begin(understated), std::end(understated), record + 24);
    EXPECT_EQ(refusal(big), partRefusal);
    // The body and its notes together are bounded too; a body within it is read.
    EXPECT_EQ(refusal(docx(partLimit / 2, partLimit / 2)),
              "File appears corrupt: The document's text expands to more than 16 MB \u2014 refusing to continue.");
    EXPECT_EQ(readDOCX(docx(partLimit / 2, 10)).length(), partLimit / 2);
}
