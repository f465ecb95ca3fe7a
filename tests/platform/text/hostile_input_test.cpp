#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "core/conversion_error.h"
#include "platform/text/docx.h"
#include "platform/text/html.h"
#include "platform/text/rtf.h"
#include "support/archive_test_util.h"

using namespace calvoro;
using namespace calvoro::text;

namespace {

AttributedString sample() {
    Attributes a;
    a.font = systemFont(12);
    Attributes link = a;
    link.link = Link{Link::Kind::url, "http://x.org/"};
    AttributedString s;
    s.append("Some caf\xC3\xA9 text {with} \\ braces\n", a);
    s.append("linked", link);
    // A list, a table and a picture, so that damage reaches their syntax too.
    s.append("\n" + listItemPrefix(1, true, 1), a);
    s.setBlock({1, true, 4});
    s.append("item\nx", a);
    Block cell;
    cell.table = 0;
    cell.column = 1;
    s.setBlock(cell);
    s.append("\n", a);
    auto picture = std::make_shared<Picture>();
    picture->bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    picture->mimeType = "image/png";
    picture->width = picture->height = 10;
    Attributes withPicture = a;
    withPicture.picture = picture;
    s.append(QString(QChar(attachmentCharacter)), withPicture);
    return s;
}

// Whatever was read can be written again.
void writeAll(const AttributedString& s) {
    writeRTF(s);
    writeDOCX(s);
    writeHTML(s);
}

}  // namespace

// Damaged documents either read or fail with a ConversionError; nothing else escapes.
TEST(HostileInput, MutatedRTFAndDOCX) {
    std::mt19937 random(1234);
    std::string rtf = writeRTF(sample());
    auto docx = writeDOCX(sample());
    for (int round = 0; round < 300; ++round) {
        std::string r = rtf;
        std::vector<uint8_t> d = docx;
        for (int k = 0; k < 4; ++k) {
            r[random() % r.size()] = static_cast<char>(random() % 256);
            d[random() % d.size()] = static_cast<uint8_t>(random() % 256);
        }
        r.resize(random() % (r.size() + 1));
        try {
            writeAll(readRTF(r));
        } catch (const ConversionError&) {
        }
        try {
            writeAll(readDOCX(d));
        } catch (const ConversionError&) {
        }
    }
}

namespace {

// A document nested a million levels deep, in the reader's own syntax.
struct DeepDocument {
    const char* name;
    std::function<AttributedString()> read;
    const char* message;
};

std::string repeated(std::string_view piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

constexpr size_t kMillion = 1'000'000;
// The most levels of tables or links a DOCX part holds under its 16 MB bound: still far more than
// a call per level could take.
constexpr size_t kPartFull = 300'000;
const std::string kParagraph = "<w:p><w:r><w:t>x</w:t></w:r></w:p>";

// A DOCX of word/document.xml alone, its body as given, or of a footnotes part too.
AttributedString readDOCXBody(const std::string& body, const std::string& footnotes = {}) {
    const std::string ns = R"( xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";
    std::vector<archive_testing::RawEntry> entries{
        {.name = "word/document.xml", .payload = archive_testing::bytesOf("<w:document" + ns + "><w:body>" + body + "</w:body></w:document>")}};
    if (!footnotes.empty()) {
        entries.push_back({.name = "word/_rels/document.xml.rels",
                           .payload = archive_testing::bytesOf(R"(<Relationships><Relationship Id="f" Type="x/footnotes" Target="notes.xml"/></Relationships>)")});
        entries.push_back({.name = "word/notes.xml", .payload = archive_testing::bytesOf("<w:footnotes" + ns + "><w:footnote w:id=\"1\">" +
                                                                                  footnotes + "</w:footnote></w:footnotes>")});
    }
    return readDOCX(archive_testing::rawZip(entries));
}

const DeepDocument kDeepDocuments[] = {
    {"RTFGroups", [] { return readRTF("{\\rtf1 " + repeated("{", kMillion) + "x" + repeated("}", kMillion) + "}"); },
     "File appears corrupt: The RTF document nests too deeply"},
    {"DOCXInsertions", [] { return readDOCXBody(repeated("<w:ins>", kMillion) + kParagraph + repeated("</w:ins>", kMillion)); },
     "File appears corrupt: The DOCX document nests too deeply"},
    {"DOCXTables",
     [] { return readDOCXBody(repeated("<w:tbl><w:tr><w:tc>", kPartFull) + kParagraph + repeated("</w:tc></w:tr></w:tbl>", kPartFull)); },
     "File appears corrupt: The DOCX document nests too deeply"},
    {"DOCXHyperlinks",
     [] { return readDOCXBody("<w:p>" + repeated("<w:hyperlink>", kPartFull) + "<w:r><w:t>x</w:t></w:r>" + repeated("</w:hyperlink>", kPartFull) + "</w:p>"); },
     "File appears corrupt: The DOCX document nests too deeply"},
    {"DOCXParagraphsInParagraphs", [] { return readDOCXBody(repeated("<w:p>", kMillion) + repeated("</w:p>", kMillion)); },
     "File appears corrupt: The DOCX document nests too deeply"},
    {"DOCXUnclosed", [] { return readDOCXBody(repeated("<w:sdt>", kMillion)); },
     "File appears corrupt: The DOCX document nests too deeply"},
    {"DOCXFootnote", [] { return readDOCXBody(kParagraph, repeated("<w:ins>", kMillion) + kParagraph + repeated("</w:ins>", kMillion)); },
     "File appears corrupt: The DOCX document nests too deeply"},
};

class DeepNesting : public ::testing::TestWithParam<DeepDocument> {};

}  // namespace

// A reader never takes a call per level of its input: a million levels are refused by name.
TEST_P(DeepNesting, AMillionLevelsAreRefusedAsNestingTooDeeply) {
    try {
        GetParam().read();
        ADD_FAILURE() << "read";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        EXPECT_STREQ(e.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(TextReaders, DeepNesting, ::testing::ValuesIn(kDeepDocuments),
                         [](const auto& info) { return std::string(info.param.name); });

// Nesting as deep as Word's own documents reach is read as any other document.
TEST(HostileInput, DOCXNestedAsDeepAsTheBoundReads) {
    const size_t levels = 500;
    EXPECT_EQ(readDOCXBody(repeated("<w:ins>", levels) + kParagraph + repeated("</w:ins>", levels)).plainText(), "x");
    EXPECT_EQ(readDOCXBody(kParagraph + repeated("<w:tbl><w:tr><w:tc>", levels / 3) + kParagraph +
                           repeated("</w:tc></w:tr></w:tbl>", levels / 3))
                  .plainText(),
              "x\nx");
}

// Millions of empty paragraphs fit in a few megabytes of DOCX; written as HTML through the text
// document they took gigabytes. Past the bound they are refused before anything is built.
TEST(HostileInput, DOCXOfMillionsOfEmptyParagraphsIsRefusedBeforeItIsWritten) {
    const AttributedString many = readDOCXBody(kParagraph + repeated("<w:p/>", 2'600'000));
    ASSERT_GT(many.paragraphCount(), maxHTMLParagraphs);
    try {
        writeHTML(many);
        ADD_FAILURE() << "written";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: This document has too many paragraphs to convert (over 400,000).");
    }
}
