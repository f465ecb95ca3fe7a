#pragma once

#include <string>

// Pieces of the HTML pages the text, PDF and Markdown conversions write.
namespace calvoro::DocumentConverter::page {

inline const std::string head = "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"UTF-8\"><title>";
inline const std::string end = "</body>\n</html>";

inline const std::string textTail =
    "</title>\n<style>body{font-family:-apple-system,BlinkMacSystemFont,sans-serif;max-width:800px;margin:2rem auto;"
    "padding:0 1rem;line-height:1.6;color:#333;}</style>\n</head>\n<body>";

inline const std::string pdfTail =
    "</title>\n<style>body{font-family:-apple-system,sans-serif;max-width:800px;margin:2rem auto;padding:0 1rem;"
    "line-height:1.6;}.page{margin-bottom:2rem;padding-bottom:1rem;border-bottom:1px solid #eee;}</style>\n</head>\n<body>";

inline const std::string markdownTail =
    "</title>\n<meta name=\"color-scheme\" content=\"only light\">\n<style>html{color-scheme: only light;}"
    "body{font-family:-apple-system,BlinkMacSystemFont,sans-serif;max-width:800px;margin:2rem auto;padding:0 1rem;"
    "line-height:1.6;color:#1a1a1a;background:#ffffff;}code{background:#f4f4f4;padding:2px 6px;border-radius:3px;"
    "font-family:'SF Mono',monospace;color:#1a1a1a;}pre{background:#f4f4f4;padding:12px 14px;border-radius:6px;"
    "overflow-x:auto;font-family:'SF Mono',monospace;color:#1a1a1a;}h1,h2,h3{color:#0a0a0a;}</style>\n</head>\n<body>";

}  // namespace calvoro::DocumentConverter::page
