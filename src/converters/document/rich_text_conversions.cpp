#include <QString>

#include "converters/document/document_converter.h"
#include "converters/document/document_files.h"
#include "converters/document/html_page.h"
#include "converters/document/rich_text_print.h"
#include "core/conversion_error.h"
#include "core/text_util.h"
#include "core/utf8.h"
#include "platform/pdf/pdf_document.h"
#include "platform/qt/main_thread.h"
#include "platform/text/docx.h"
#include "platform/text/encodings.h"
#include "platform/text/html.h"
#include "platform/text/regex.h"
#include "platform/text/rtf.h"

namespace calvoro::DocumentConverter {

namespace {

std::string writeDocument(const text::AttributedString& string, DocumentType type) {
    switch (type) {
        case DocumentType::rtf: return text::writeRTF(string);
        case DocumentType::officeOpenXML: {
            auto bytes = text::writeDOCX(string);
            return std::string(bytes.begin(), bytes.end());
        }
        case DocumentType::html: return text::writeHTML(string);
    }
    return {};
}

text::Attributes fontOnly(double size) {
    text::Attributes a;
    a.font = text::systemFont(size);
    return a;
}

void writePlainText(const std::string& textValue, const Path& output, const text::Attributes& attributes, DocumentType type) {
    auto string = text::AttributedString::plain(textValue, attributes);
    std::string bytes = writeDocument(string, type);
    files::writeBytes(output, bytes);
}

bool trimmedIsEmpty(const std::string& s) { return QString::fromStdString(s).trimmed().isEmpty(); }

}  // namespace

void pdfToHTML(const Path& source, const Path& output) {
    auto document = pdf::Document::open(source);
    if (!document) throw ConversionError::failedToLoadFile();
    std::string body;
    bool anyText = false;
    for (int i = 0; i < document->pageCount(); ++i) {
        std::string pageText = document->pageText(i);
        // The test for text looks at what the pages say, not at the markup around it.
        anyText = anyText || !trimmedIsEmpty(pageText);
        body += "<div class=\"page\"><p>" + replacingOccurrences(htmlEscape(pageText), "\n", "<br>") + "</p></div>\n";
    }
    if (!anyText) throw ConversionError::corruptFile("PDF contains no extractable text (may be scanned/image-based)");
    files::writeAtomically(output, page::head + pageTitle(source) + page::pdfTail + body + page::end);
}

void htmlToText(const Path& source, const Path& output) {
    std::string plain;
    qtmain::runOnMain([&] { plain = parseHTML(source).plainText(); });
    files::writeAtomically(output, plain);
}

void htmlToRTF(const Path& source, const Path& output) {
    std::string bytes;
    qtmain::runOnMain([&] { bytes = text::writeRTF(parseHTML(source)); });
    files::writeBytes(output, bytes);
}

void htmlToDOCX(const Path& source, const Path& output) {
    std::vector<uint8_t> bytes;
    qtmain::runOnMain([&] { bytes = text::writeDOCX(parseHTML(source)); });
    files::writeBytes(output, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void convertDocumentType(const Path& source, const Path& output, DocumentType from, DocumentType to) {
    auto string = readRichText(source, from);
    files::writeBytes(output, writeDocument(string, to));
}

void rtfToHTML(const Path& source, const Path& output) { convertDocumentType(source, output, DocumentType::rtf, DocumentType::html); }

void textToRTF(const Path& source, const Path& output) {
    auto attributes = fontOnly(14);
    attributes.foreground = text::Color{0, 0, 0, 255};
    writePlainText(readTextFile(source), output, attributes, DocumentType::rtf);
}

void markdownToRTF(const Path& source, const Path& output) {
    writePlainText(readTextFile(source), output, fontOnly(14), DocumentType::rtf);
}

void pdfToRTF(const Path& source, const Path& output) {
    writePlainText(extractPDFText(source), output, fontOnly(14), DocumentType::rtf);
}

void plainTextToDOCX(const Path& source, const Path& output) {
    writePlainText(readTextFile(source), output, fontOnly(12), DocumentType::officeOpenXML);
}

void pdfToDOCX(const Path& source, const Path& output) {
    writePlainText(extractPDFText(source), output, fontOnly(12), DocumentType::officeOpenXML);
}

void richTextToText(const Path& source, const Path& output, DocumentType type) {
    files::writeAtomically(output, readRichText(source, type).plainText());
}

void richTextToMarkdown(const Path& source, const Path& output, DocumentType type) {
    files::writeAtomically(output, attributedStringToMarkdown(readRichText(source, type)));
}

namespace {

bool holdsPicturesOrTables(const text::AttributedString& string) {
    for (const text::Run& run : string.runs())
        if (run.attributes.picture) return true;
    return !text::tableSizes(string).empty();
}

// Rich text laid out by the web printer, which draws pictures and ruled tables.
void renderRichTextToPDF(const text::AttributedString& string, const Path& output) {
    Path temp = files::temporaryFile(".html");
    files::RemoveOnExit cleanup(temp);
    files::writeBytes(temp, text::writeHTML(string));
    printRichTextToPDF(temp, output);
}

}  // namespace

void rtfToPDF(const Path& source, const Path& output) {
    const auto string = readRichText(source, DocumentType::rtf);
    // A text print cannot hold pictures or tables: such documents are laid out as DOCX's are.
    if (holdsPicturesOrTables(string)) return renderRichTextToPDF(string, output);
    std::string plain = string.plainText();
    Path temp = files::temporaryFile(".txt");
    files::writeAtomically(temp, plain);
    files::RemoveOnExit cleanup(temp);
    textToPDF(temp, output);
}

void docxToPDF(const Path& source, const Path& output) {
    Path temp = files::temporaryFile(".html");
    files::RemoveOnExit cleanup(temp);
    convertDocumentType(source, temp, DocumentType::officeOpenXML, DocumentType::html);
    std::string html;
    try {
        html = files::readBytes(temp);
    } catch (const ConversionError&) {
    }
    if (!isValidUTF8(html)) html.clear();
    // Only the body counts: the writer's style sheet in the head is not the document's text.
    static const text::Regex head("(?s)<head[^>]*>.*?</head>", true);
    static const text::Regex tag("<[^>]+>");
    if (trimmedIsEmpty(tag.replaceAll(head.replaceAll(html, ""), "")))
        throw ConversionError::corruptFile("Document produced no readable text — it may be empty or unsupported");
    printRichTextToPDF(temp, output);
}

}  // namespace calvoro::DocumentConverter
