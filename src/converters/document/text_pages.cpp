#include "converters/document/text_pages.h"

#include <unistd.h>

#include "converters/document/document_files.h"
#include "converters/document/html_page.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "core/utf8.h"
#include "platform/text/encodings.h"

namespace calvoro::DocumentConverter {

namespace fs = std::filesystem;

namespace {

// A page's paragraphs (split at blank lines), escaped, with its other line ends as breaks.
void appendParagraphs(std::string& html, std::string_view page, bool firstPage, bool& first) {
    size_t pos = 0;
    for (bool firstOnPage = true;; firstOnPage = false) {
        const size_t hit = page.find("\n\n", pos);
        const std::string_view piece = page.substr(pos, hit == std::string_view::npos ? std::string_view::npos : hit - pos);
        if (!first) html += '\n';
        first = false;
        html += firstOnPage && !firstPage ? "<p style=\"break-before:page\">" : "<p>";
        for (size_t line = 0;;) {
            const size_t lineEnd = piece.find('\n', line);
            appendHTMLEscaped(html, piece.substr(line, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - line));
            if (lineEnd == std::string_view::npos) break;
            html += "<br>";
            line = lineEnd + 1;
        }
        html += "</p>";
        if (hit == std::string_view::npos) break;
        pos = hit + 2;
    }
}

}  // namespace

Path runOperation(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
                  const Operation& operation) {
    auto& log = ConversionLogger::shared();
    log.info("Document: " + sourceFormat.displayName() + " → " + target.displayName(), "Document", lastPathComponent(source));
    // Security-scoped access has nothing to grant here: there is no sandbox.
    if (::access(source.c_str(), R_OK) != 0) {
        log.error("File not readable", "Document", source.string());
        throw ConversionError::fileAccessDenied(lastPathComponent(source));
    }
    Path output = OutputNameRegistry::reserve(outputDir, deletingPathExtension(lastPathComponent(source)), target.fileExtension());
    if (!operation) {
        log.error("No conversion path", "Document", sourceFormat.displayName() + " → " + target.displayName());
        throw ConversionError::unsupportedConversion(sourceFormat.displayName(), target.displayName());
    }
    operation(source, output);
    std::error_code ec;
    if (!fs::exists(output, ec)) {
        log.error("Output file was not created", "Document");
        throw ConversionError::failedToCreateOutput();
    }
    return output;
}

bool isTextPage(SupportedFormat source, SupportedFormat target) {
    return target == SupportedFormat::html && (source == SupportedFormat::txt || source == SupportedFormat::markdown);
}

Path convertTextPage(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir) {
    Operation operation;
    if (isTextPage(sourceFormat, target)) operation = sourceFormat == SupportedFormat::txt ? textToHTML : markdownToHTML;
    return runOperation(source, sourceFormat, target, outputDir, operation);
}

std::string pageTitle(const Path& source) {
    return htmlEscape(deletingPathExtension(lastPathComponent(source)));
}

void textToHTML(const Path& source, const Path& output) {
    const std::string text = readTextFile(source);
    // The page is written in one pass into one string: a text may be as large as memory allows.
    std::string html = page::head + pageTitle(source) + page::textTail;
    html.reserve(html.size() + text.size() + text.size() / 8 + page::end.size());
    bool first = true;
    // A form feed starts a new page: its first paragraph breaks the page when printed.
    size_t pageStart = 0;
    for (bool firstPage = true;; firstPage = false) {
        const size_t feed = text.find('\f', pageStart);
        std::string_view page = std::string_view(text).substr(pageStart, feed == std::string::npos ? std::string::npos : feed - pageStart);
        // The line end of a page's last line ends the page, not another line.
        if (feed != std::string::npos && page.ends_with('\n')) page.remove_suffix(1);
        if (feed != std::string::npos && page.ends_with('\r')) page.remove_suffix(1);
        appendParagraphs(html, page, firstPage, first);
        if (feed == std::string::npos) break;
        // The line end right after a form feed belongs to it.
        pageStart = feed + 1;
        if (text.compare(pageStart, 2, "\r\n") == 0) pageStart += 2;
        else if (pageStart < text.size() && (text[pageStart] == '\n' || text[pageStart] == '\r')) ++pageStart;
    }
    html += page::end;
    files::writeAtomically(output, html);
}

void markdownToHTML(const Path& source, const Path& output) {
    files::writeAtomically(output, page::head + pageTitle(source) + page::markdownTail + markdownBodyHTML(readTextFile(source)) + page::end);
}

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

}  // namespace calvoro::DocumentConverter
