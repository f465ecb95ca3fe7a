#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calvoro::pdf {

// Plain text laid out on fixed-size text containers, one container per page, in the monospaced
// family of core/font_families.h, and drawn as a PDF (Qt's text layout and QPdfWriter).
class TextPages {
public:
    struct Setup {
        double pageWidth = 612;   // US Letter, points
        double pageHeight = 792;
        double margin = 72;       // every side: the container is 468 x 648
        double fontSize = 12;
        int pageLimit = 10000;
    };

    // Lays out the whole text (UTF-8). Nothing when it needs more than setup.pageLimit
    // containers; layout stops there.
    static std::optional<TextPages> layOut(const std::string& text, const Setup& setup);
    static std::optional<TextPages> layOut(const std::string& text) { return layOut(text, Setup{}); }

    // Containers that hold glyphs; each becomes one page.
    int pageCount() const { return static_cast<int>(pages_.size()); }
    // Lines laid into each page, for the caller's checks.
    int linesOnPage(int page) const;

    // Writes one page per container: white page, black text inside the margins. A text
    // without glyphs gives a single blank page, so that readers can open the file.
    // False when the PDF cannot be created or written.
    bool writePDF(const std::filesystem::path& path) const;

private:
    struct Line {
        int paragraph = 0;
        int index = 0;   // line number inside its paragraph
        double y = 0;    // top of the line inside its container
    };
    struct Page {
        size_t firstLine = 0;
        size_t lineCount = 0;
    };
    Setup setup_;
    std::vector<std::u16string> paragraphs_;
    std::vector<Line> lines_;
    std::vector<Page> pages_;
};

}  // namespace calvoro::pdf
