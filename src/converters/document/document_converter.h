#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/cancellation.h"
#include "core/supported_format.h"
#include "platform/text/attributed_string.h"

#include "converters/document/text_to_pdf.h"
#include "converters/document/html_to_pdf.h"
#include "converters/document/pdf_split.h"
#include "converters/document/text_pages.h"

// Conversions among PDF, RTF, text, HTML, Markdown, DOCX and EPUB. Every operation takes the
// source file and an output path already reserved by convert(), and throws on failure
// (ConversionError, whose what() is the user-facing message).
namespace calvoro::DocumentConverter {

// The one entry: runs the operation of the route table for the pair (see runOperation). A
// cancelled token stops the rendering of web pages with CancellationError.
Path convert(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
             const CancellationToken& cancellation = {});

// The rich-text document types the readers and writers understand.
enum class DocumentType { rtf, officeOpenXML, html };

// Text, RTF, HTML and DOCX.
void pdfToHTML(const Path& source, const Path& output);
void htmlToText(const Path& source, const Path& output);
void htmlToRTF(const Path& source, const Path& output);
void htmlToDOCX(const Path& source, const Path& output);
// Reads the source as type `from` and writes it as type `to` (rtf → html, docx → html/rtf, rtf → docx).
void convertDocumentType(const Path& source, const Path& output, DocumentType from, DocumentType to);
void rtfToHTML(const Path& source, const Path& output);
void textToRTF(const Path& source, const Path& output);
void markdownToRTF(const Path& source, const Path& output);
void pdfToRTF(const Path& source, const Path& output);
void plainTextToDOCX(const Path& source, const Path& output);
void pdfToDOCX(const Path& source, const Path& output);
void rtfToPDF(const Path& source, const Path& output);
void docxToPDF(const Path& source, const Path& output);
// The plain characters (txt) or the Markdown (markdown) of an RTF or DOCX file, as UTF-8.
void richTextToText(const Path& source, const Path& output, DocumentType type);
void richTextToMarkdown(const Path& source, const Path& output, DocumentType type);

// Markdown.
void htmlToMarkdown(const Path& source, const Path& output);
void pdfToMarkdown(const Path& source, const Path& output);
std::string attributedStringToMarkdown(const text::AttributedString& string);
// location and length in UTF-16 units.
std::string inlineMarkdown(const text::AttributedString& string, int location, int length, const std::string& fallback);
std::string headingPrefix(const text::AttributedString& string, int position, double bodySize);
std::string escapeMarkdown(std::string_view text);

// EPUB 3 book of one chapter from any document source.
void anyToEPUB(const Path& source, SupportedFormat sourceFormat, const Path& output);

// Text readers shared by every route.
std::string extractPDFText(const Path& path);
// Parses on the Qt main thread.
text::AttributedString parseHTML(const Path& path);
// An RTF or DOCX file read whole into rich text.
text::AttributedString readRichText(const Path& path, DocumentType type);

namespace detail {
// The EPUB chapter page around the body of the HTML page, as an HTML5 parser reads it.
std::string wrapAsXHTML(const std::string& html, const std::string& title);
// The body of an HTML page written as XHTML that an EPUB 3 chapter may hold.
std::string toXHTMLFragment(std::string_view html);
std::string markupEscape(std::string_view text);
}  // namespace detail

}  // namespace calvoro::DocumentConverter
