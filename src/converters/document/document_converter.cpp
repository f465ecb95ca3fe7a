#include "converters/document/document_converter.h"

#include <unistd.h>

#include <functional>

#include "converters/document/document_files.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"

namespace calvoro::DocumentConverter {

namespace fs = std::filesystem;

namespace {

void writeText(const Path& output, const std::string& text) { files::writeAtomically(output, text); }

// The route table: one operation per (source, target) pair; nothing for a pair without a route.
Operation route(SupportedFormat source, SupportedFormat target, const CancellationToken& cancellation) {
    using F = SupportedFormat;
    if (target == F::epub) return [source](const Path& s, const Path& o) { anyToEPUB(s, source, o); };
    switch (target) {
        case F::pdf:
            switch (source) {
                case F::rtf: return rtfToPDF;
                case F::txt: return [](const Path& s, const Path& o) { textToPDF(s, o); };
                case F::markdown: return [](const Path& s, const Path& o) { textToPDF(s, o); };
                case F::html: return [cancellation](const Path& s, const Path& o) {
                    HTMLRenderOptions options;
                    options.cancellation = cancellation;
                    renderHTMLToPDFWithWebKit(s, o, options);
                };
                case F::docx: return docxToPDF;
                default: return {};
            }
        case F::rtf:
            switch (source) {
                case F::pdf: return pdfToRTF;
                case F::txt: return textToRTF;
                case F::html: return htmlToRTF;
                case F::markdown: return markdownToRTF;
                case F::docx: return [](const Path& s, const Path& o) { convertDocumentType(s, o, DocumentType::officeOpenXML, DocumentType::rtf); };
                default: return {};
            }
        case F::txt:
            switch (source) {
                case F::pdf: return [](const Path& s, const Path& o) { writeText(o, extractPDFText(s)); };
                case F::rtf: return [](const Path& s, const Path& o) { richTextToText(s, o, DocumentType::rtf); };
                case F::html: return htmlToText;
                case F::markdown: return [](const Path& s, const Path& o) { writeText(o, readTextFile(s)); };
                case F::docx: return [](const Path& s, const Path& o) { richTextToText(s, o, DocumentType::officeOpenXML); };
                default: return {};
            }
        case F::html:
            switch (source) {
                case F::pdf: return pdfToHTML;
                case F::rtf: return rtfToHTML;
                case F::txt: return textToHTML;
                case F::markdown: return markdownToHTML;
                case F::docx: return [](const Path& s, const Path& o) { convertDocumentType(s, o, DocumentType::officeOpenXML, DocumentType::html); };
                default: return {};
            }
        case F::markdown:
            switch (source) {
                case F::pdf: return pdfToMarkdown;
                case F::rtf: return [](const Path& s, const Path& o) { richTextToMarkdown(s, o, DocumentType::rtf); };
                // Read as every other target reads text, so that Latin-1 and UTF-16 files become UTF-8.
                case F::txt: return [](const Path& s, const Path& o) { writeText(o, readTextFile(s)); };
                case F::html: return htmlToMarkdown;
                case F::docx: return [](const Path& s, const Path& o) { richTextToMarkdown(s, o, DocumentType::officeOpenXML); };
                default: return {};
            }
        case F::docx:
            switch (source) {
                case F::pdf: return pdfToDOCX;
                case F::rtf: return [](const Path& s, const Path& o) { convertDocumentType(s, o, DocumentType::rtf, DocumentType::officeOpenXML); };
                case F::txt: return plainTextToDOCX;
                case F::html: return htmlToDOCX;
                case F::markdown: return plainTextToDOCX;
                default: return {};
            }
        default: return {};
    }
}

}  // namespace

Path convert(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
             const CancellationToken& cancellation) {
    return runOperation(source, sourceFormat, target, outputDir, route(sourceFormat, target, cancellation));
}

}  // namespace calvoro::DocumentConverter
