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
        // Paragraphs longer than this (UTF-16 units) are laid out window by window: the text
        // layout's search for a break takes time quadratic in a run without break opportunities.
        int layoutWindow = 2048;
    };

    // Lays out the whole text (UTF-8). A form feed ends its line and starts a new page (a line
    // end right after it belongs to it). Nothing when it needs more than setup.pageLimit
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
    // A piece of a paragraph laid out on its own: the whole paragraph, or for a long one the
    // text of some of its lines, which lays out alone into the same lines.
    struct Block {
        std::u16string text;
        bool rightToLeft = false;
    };
    struct Line {
        int paragraph = 0;   // index of its block
        int index = 0;   // line number inside its paragraph
        double y = 0;    // top of the line inside its container
    };
    struct Page {
        size_t firstLine = 0;
        size_t lineCount = 0;
    };
    Setup setup_;
    std::vector<Block> paragraphs_;
    std::vector<Line> lines_;
    std::vector<Page> pages_;
};

}  // namespace calvoro::pdf
