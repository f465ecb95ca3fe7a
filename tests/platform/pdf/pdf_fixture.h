#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pdf_objects.h"
#include "support/test_support.h"

namespace calvoro::testing {

// A hand-written PDF, independent of the code under test: each page has a media box,
// an optional rotation, one line of Helvetica text and optionally a red square.
struct FixturePage {
    double width = 612;
    double height = 792;
    int rotate = 0;
    std::string text;
    bool redSquare = false;
};

inline std::string fixturePDF(const std::vector<FixturePage>& pages) {
    std::vector<std::string> objects;  // object n+1 at index n
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        const auto& p = pages[i];
        char box[128];
        std::snprintf(box, sizeof box, "[0 0 %g %g]", p.width, p.height);
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) + " /Rotate " +
                          std::to_string(p.rotate) + " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                          std::to_string(5 + 2 * i) + " 0 R >>");
        std::string content;
        if (p.redSquare) content += "1 0 0 rg 0 0 50 50 re f\n";
        if (!p.text.empty()) content += "0 0 0 rg BT /F1 12 Tf 72 " + std::to_string(int(p.height) - 100) + " Td (" + p.text + ") Tj ET\n";
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    }
    return pdfFromObjects(objects);
}

inline std::filesystem::path writeFixturePDF(const std::filesystem::path& path, const std::vector<FixturePage>& pages) {
    writeFile(path, fixturePDF(pages));
    return path;
}

// The value of one "Name:   value" line of pdfinfo's report, or "" when absent.
inline std::string pdfinfoField(const std::string& report, const std::string& name) {
    const std::string key = "\n" + name + ":";
    const std::string text = "\n" + report;
    const size_t at = text.find(key);
    if (at == std::string::npos) return "";
    size_t start = text.find_first_not_of(' ', at + key.size());
    const size_t end = text.find('\n', start);
    return text.substr(start, end - start);
}

}  // namespace calvoro::testing
