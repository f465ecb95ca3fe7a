#pragma once

// Text and Markdown pages, and the frame every document route runs in. These need none of the
// document layers (Qt Gui, PDF, the web engine), so the program runs them without loading the
// documents module.

#include <filesystem>
#include <functional>
#include <string>

#include "core/supported_format.h"

namespace calvoro::DocumentConverter {

using Path = std::filesystem::path;
using Operation = std::function<void(const Path& source, const Path& output)>;

// Logs, checks the source, reserves the output name in outputDir and runs the operation;
// refuses the pair when the operation is empty (the pair has no route).
Path runOperation(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
                  const Operation& operation);

// Text and Markdown to HTML.
bool isTextPage(SupportedFormat source, SupportedFormat target);
Path convertTextPage(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir);

void textToHTML(const Path& source, const Path& output);
void markdownToHTML(const Path& source, const Path& output);
// The page body of a Markdown text: headings, strong, emphasis and code spans, paragraphs.
std::string markdownBodyHTML(std::string_view markdown);
// The source's name without its extension, escaped for a page's title.
std::string pageTitle(const Path& source);
// The file's text as UTF-8, from UTF-8, UTF-16, UTF-32 or the single-byte encodings.
std::string readTextFile(const Path& path);

// "&" → "&amp;", "<" → "&lt;", ">" → "&gt;"; quotes unchanged.
std::string htmlEscape(std::string_view text);
void appendHTMLEscaped(std::string& out, std::string_view text);

}  // namespace calvoro::DocumentConverter
