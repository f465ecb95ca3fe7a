#include <QString>

#include <unicode/uchar.h>

#include <algorithm>
#include <vector>

#include "converters/document/document_converter.h"
#include "converters/document/document_files.h"
#include "converters/document/html_page.h"
#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/pdf/pdf_document.h"
#include "platform/qt/main_thread.h"

namespace calvoro::DocumentConverter {

namespace {

bool isHorizontalSpace(char16_t c) {
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

// White space but not line ends, from both ends.
QString trimmedBlanks(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && isHorizontalSpace(s[b].unicode())) ++b;
    while (e > b && isHorizontalSpace(s[e - 1].unicode())) --e;
    return s.mid(b, e - b);
}

bool extendsCharacter(UChar32 c) {
    int gcb = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
    return gcb == U_GCB_EXTEND || gcb == U_GCB_ZWJ || gcb == U_GCB_SPACING_MARK;
}

}  // namespace

std::string escapeMarkdown(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool special = c == '\\' || c == '`' || c == '*' || c == '_' || c == '[' || c == ']' || c == '<' || c == '>';
        if (special) {
            // A mark that follows makes a different character, which is left alone.
            UChar32 next = -1;
            if (i + 1 < text.size()) {
                int32_t offset = static_cast<int32_t>(i + 1);
                U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), offset, static_cast<int32_t>(text.size()), next);
            }
            if (next < 0 || !extendsCharacter(next)) out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

std::string headingPrefix(const text::AttributedString& string, int position, double bodySize) {
    const text::Attributes* a = string.attributesAt(position);
    if (!a || !a->font) return {};
    double ratio = a->font->pointSize / std::max(bodySize, 1.0);
    if (ratio >= 1.8) return "#";
    if (ratio >= 1.4) return "##";
    if (ratio >= 1.15 && a->font->bold) return "###";
    return {};
}

std::string inlineMarkdown(const text::AttributedString& string, int location, int length, const std::string& fallback) {
    std::string result;
    for (const text::Run& run : string.runs(location, length)) {
        if (run.attributes.picture) continue;  // Markdown here holds no pictures
        std::string raw = string.characters().mid(run.location, run.length).toStdString();
        std::string escaped = escapeMarkdown(raw);
        std::string piece;
        const auto& font = run.attributes.font;
        if (font && font->monospace) piece = "`" + raw + "`";
        else if (font && font->bold && font->italic) piece = "***" + escaped + "***";
        else if (font && font->bold) piece = "**" + escaped + "**";
        else if (font && font->italic) piece = "*" + escaped + "*";
        else piece = escaped;
        if (run.attributes.link) result += "[" + piece + "](" + run.attributes.link->value + ")";
        else result += piece;
    }
    return result.empty() ? fallback : result;
}

std::string attributedStringToMarkdown(const text::AttributedString& string) {
    if (string.empty()) return {};
    // The body size is the size most runs carry (runs are counted, not characters).
    std::vector<std::pair<double, int>> counts;
    for (const text::Run& run : string.runs()) {
        if (!run.attributes.font) continue;
        double size = run.attributes.font->pointSize;
        auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == size; });
        if (it == counts.end()) counts.emplace_back(size, 1);
        else ++it->second;
    }
    double bodySize = 12;
    int best = 0;
    for (const auto& [size, count] : counts)
        if (count > best) {
            best = count;
            bodySize = size;
        }

    const QString& chars = string.characters();
    std::string result;
    int position = 0;
    qsizetype start = 0;
    const int total = string.length();
    for (int paragraph = 0;; ++paragraph) {
        qsizetype nl = chars.indexOf(QChar('\n'), start);
        QString line = chars.mid(start, nl < 0 ? -1 : nl - start);
        QString trimmed = trimmedBlanks(line);
        const text::Block* block = string.block(paragraph);
        if (block && block->listLevel >= 0 && block->markerLength <= line.size()) {
            // A list item: its marker indented two blanks a level, so that no level reads as code.
            QString marker = line.left(block->markerLength).trimmed();
            int from = position + block->markerLength, length = static_cast<int>(line.size()) - block->markerLength;
            QString rest = trimmedBlanks(line.mid(block->markerLength));
            result += std::string(static_cast<size_t>(2 * block->listLevel), ' ') + marker.toStdString() + " " +
                      (length < 1 ? rest.toStdString() : inlineMarkdown(string, from, length, rest.toStdString())) + "\n\n";
        } else if (trimmed.isEmpty() || trimmed == QString(QChar(text::attachmentCharacter))) {
            result += "\n";
        } else {
            std::string prefix = headingPrefix(string, position, bodySize);
            int rangeLength = std::min(total - position, static_cast<int>(line.size()));
            std::string content = rangeLength < 1 ? trimmed.toStdString() : inlineMarkdown(string, position, rangeLength, trimmed.toStdString());
            result += prefix.empty() ? content : prefix + " " + content;
            result += "\n\n";
        }
        position += static_cast<int>(line.size()) + 1;
        if (nl < 0) break;
        start = nl + 1;
    }
    while (result.find("\n\n\n") != std::string::npos) result = replacingOccurrences(result, "\n\n\n", "\n\n");
    return QString::fromStdString(result).trimmed().toStdString() + "\n";
}

void htmlToMarkdown(const Path& source, const Path& output) {
    std::string markdown;
    qtmain::runOnMain([&] { markdown = attributedStringToMarkdown(parseHTML(source)); });
    files::writeAtomically(output, markdown);
}

void pdfToMarkdown(const Path& source, const Path& output) {
    auto document = pdf::Document::open(source);
    if (!document) throw ConversionError::failedToLoadFile();
    std::string joined;
    bool any = false;
    for (int i = 0; i < document->pageCount(); ++i) {
        QString trimmed = QString::fromStdString(document->pageText(i)).trimmed();
        if (trimmed.isEmpty()) continue;
        if (any) joined += "\n\n---\n\n";
        joined += trimmed.toStdString();
        any = true;
    }
    if (!any) throw ConversionError::corruptFile("PDF contains no extractable text (may be scanned/image-based)");
    files::writeAtomically(output, joined + "\n");
}

}  // namespace calvoro::DocumentConverter
