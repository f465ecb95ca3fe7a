#include <QString>

#include "converters/document/document_converter.h"
#include "converters/document/document_files.h"
#include "core/conversion_error.h"
#include "core/utf8.h"
#include "platform/pdf/pdf_document.h"
#include "platform/qt/main_thread.h"
#include "platform/text/docx.h"
#include "platform/text/encodings.h"
#include "platform/text/html.h"
#include "platform/text/rtf.h"
#include "platform/web/html_nesting.h"

namespace calvoro::DocumentConverter {

std::string extractPDFText(const Path& path) {
    auto document = pdf::Document::open(path);
    if (!document) throw ConversionError::failedToLoadFile();
    std::string text;
    for (int i = 0; i < document->pageCount(); ++i) {
        text += document->pageText(i);
        text += "\n\n";
    }
    if (QString::fromStdString(text).trimmed().isEmpty())
        throw ConversionError::corruptFile("PDF contains no extractable text (may be scanned/image-based)");
    return text;
}

namespace {

// The text document's style rules look up every element's ancestors, so a page is read no deeper
// than browsers nest it: a page of a million unclosed tags would take hours. It holds about a
// kilobyte for each block, so a page of more blocks than it may write is refused before it is read.
text::AttributedString readBoundedHTML(std::string html) {
    const std::string bounded = web::html::boundedNesting(std::move(html));
    if (web::html::blockCount(bounded) > static_cast<size_t>(text::maxHTMLParagraphs))
        throw ConversionError::corruptFile(text::tooManyParagraphsMessage);
    return text::readHTML(bounded);
}

}  // namespace

text::AttributedString parseHTML(const Path& path) {
    std::string html = readTextFile(path);
    text::AttributedString result;
    qtmain::runOnMain([&] { result = readBoundedHTML(std::move(html)); });
    return result;
}

text::AttributedString readRichText(const Path& path, DocumentType type) {
    std::string bytes = files::readBytes(path);
    switch (type) {
        case DocumentType::rtf: return text::readRTF(bytes);
        case DocumentType::officeOpenXML:
            return text::readDOCX(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        case DocumentType::html: {
            auto decoded = text::decode(bytes, text::Encoding::utf8);
            if (!decoded) decoded = text::decode(bytes, text::Encoding::windowsCP1252);
            if (!decoded) decoded = text::decode(bytes, text::Encoding::isoLatin1);
            return readBoundedHTML(std::move(*decoded));
        }
    }
    return {};
}

}  // namespace calvoro::DocumentConverter
