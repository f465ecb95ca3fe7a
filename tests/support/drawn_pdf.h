#pragma once

// Hand-written PDFs whose first page paints what a test needs, independent of our writers.
#include <cstdio>
#include <string>
#include <vector>

#include "support/pdf_objects.h"
#include "support/test_support.h"

namespace calvoro::testing {

struct DrawnPage {
    double width = 200;
    double height = 200;
    std::string content;  // page content stream
    std::string entries;  // more of the page dictionary, such as its resources
};

inline std::string drawnPDF(const std::vector<DrawnPage>& pages) {
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        char box[128];
        std::snprintf(box, sizeof box, "[0 0 %g %g]", pages[i].width, pages[i].height);
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) + " /Contents " +
                          std::to_string(4 + 2 * i) + " 0 R " + pages[i].entries + " >>");
        objects.push_back("<< /Length " + std::to_string(pages[i].content.size()) + " >>\nstream\n" + pages[i].content +
                          "\nendstream");
    }
    return pdfFromObjects(objects);
}

// A page filled with one colour (r g b from 0 to 1), or nothing painted at all.
inline DrawnPage filledPage(double r, double g, double b, double w = 200, double h = 200) {
    char content[160];
    std::snprintf(content, sizeof content, "%g %g %g rg 0 0 %g %g re f", r, g, b, w, h);
    return {w, h, content, ""};
}
inline DrawnPage unpaintedPage() { return {200, 200, "0 0 0 rg 80 80 40 40 re f", ""}; }

}  // namespace calvoro::testing
