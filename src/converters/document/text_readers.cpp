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

namespace calvoro::DocumentConverter {

std::string readTextFile(const Path& path) {
    std::string bytes;
    try {
        bytes = files::readBytes(path);
    } catch (const ConversionError&) {
        throw ConversionError::corruptFile("Could not determine text encoding");
    }
    // Most text is UTF-8: kept as read rather than decoded into a copy.
    if (isValidUTF8(bytes)) {
        if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
        return bytes;
    }
    using text::Encoding;
    // A UTF-16 byte-order mark means UTF-16: the single-byte encodings would accept
    // those bytes too and give garbage.
    std::vector<Encoding> chain{Encoding::isoLatin1, Encoding::windowsCP1252, Encoding::macOSRoman, Encoding::utf16};
    if (text::hasUTF16ByteOrderMark(bytes))
        chain = {Encoding::utf16, Encoding::isoLatin1, Encoding::windowsCP1252, Encoding::macOSRoman};
    // So does a UTF-32 mark for UTF-32, whose little-endian mark UTF-16 would read as a NUL.
    if (text::hasUTF32ByteOrderMark(bytes)) chain.insert(chain.begin(), Encoding::utf32);
    for (Encoding e : chain)
        if (auto decoded = text::decode(bytes, e)) return std::move(*decoded);
    throw ConversionError::corruptFile("Could not determine text encoding");
}

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

text::AttributedString parseHTML(const Path& path) {
    std::string html = readTextFile(path);
    text::AttributedString result;
    qtmain::runOnMain([&] { result = text::readHTML(html); });
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
            return text::readHTML(*decoded);
        }
    }
    return {};
}

}  // namespace calvoro::DocumentConverter
