#include "platform/text/rtf.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <map>
#include <vector>

namespace calvoro::text {

namespace {

std::optional<unsigned> windows1252Byte(char16_t c) {
    if (c >= 0xA0 && c <= 0xFF) return c;
    static const char16_t high[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                      0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
                                      0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};
    for (unsigned i = 0; i < 32; ++i)
        if (high[i] == c) return 0x80 + i;
    return std::nullopt;
}

void appendEscaped(std::string& out, const QString& s) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        char16_t c = s[i].unicode();
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '{': out += "\\{"; break;
            case '}': out += "\\}"; break;
            case '\t': out += "\\tab "; break;
            case '\n': out += "\\par\n"; break;
            case '\f': out += "\\page\n"; break;
            case '\r': break;
            default:
                if (c >= 0x20 && c < 0x80) {
                    out.push_back(static_cast<char>(c));
                } else if (c < 0x20) {
                    // Other control characters have no place in RTF text.
                } else if (auto byte = windows1252Byte(c)) {
                    // Readers that know no \u (and most that do) read code page bytes best.
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\'%02x", *byte);
                    out += hex;
                } else {
                    out += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
                }
        }
    }
}

// A PNG or JPEG picture at its size on the page, its bytes in hexadecimal.
std::string pictureGroup(const Picture& picture) {
    static const char digits[] = "0123456789abcdef";
    long width = std::lround(picture.width * 20), height = std::lround(picture.height * 20);  // twips
    std::string out = std::string("{\\pict") + (picture.mimeType == "image/jpeg" ? "\\jpegblip" : "\\pngblip") + "\\picw" +
                      std::to_string(std::lround(picture.width * 4 / 3)) + "\\pich" + std::to_string(std::lround(picture.height * 4 / 3)) +
                      "\\picwgoal" + std::to_string(width) + "\\pichgoal" + std::to_string(height) + "\n";
    out.reserve(out.size() + picture.bytes.size() * 2 + picture.bytes.size() / 64 + 2);
    for (size_t i = 0; i < picture.bytes.size(); ++i) {
        out.push_back(digits[picture.bytes[i] >> 4]);
        out.push_back(digits[picture.bytes[i] & 15]);
        if (i % 64 == 63) out.push_back('\n');
    }
    return out + "}";
}

// Font and colour tables, each entry in order of first use.
class StyleTables {
public:
    size_t fontIndex(const Font& f) {
        std::string family = f.family.empty() ? (f.monospace ? monospacedFontFamily : systemFontFamily) : f.family;
        for (size_t i = 0; i < fonts_.size(); ++i)
            if (fonts_[i].first == family && fonts_[i].second == f.monospace) return i;
        fonts_.emplace_back(family, f.monospace);
        return fonts_.size() - 1;
    }

    // Entry 0 of the colour table is the automatic colour.
    size_t colorIndex(const Color& c) {
        for (size_t i = 0; i < colors_.size(); ++i)
            if (colors_[i] == c) return i + 1;
        colors_.push_back(c);
        return colors_.size();
    }

    // The document up to its body.
    std::string header() const {
        std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
        for (size_t i = 0; i < fonts_.size(); ++i) {
            out += "{\\f" + std::to_string(i) + (fonts_[i].second ? "\\fmodern\\fprq1" : "\\fswiss") + "\\fcharset0 ";
            QString name = QString::fromStdString(fonts_[i].first);
            appendEscaped(out, name);
            out += ";}";
        }
        out += "}\n{\\colortbl;";
        for (const Color& c : colors_)
            out += "\\red" + std::to_string(c.red) + "\\green" + std::to_string(c.green) + "\\blue" + std::to_string(c.blue) + ";";
        out += "}\n\\pard\\plain ";
        return out;
    }

private:
    std::vector<std::pair<std::string, bool>> fonts_{{systemFontFamily, false}};  // family, monospace
    std::vector<Color> colors_;
};

std::string characterControls(StyleTables& styles, const Attributes& a) {
    std::string controls;
    if (a.font) {
        controls += "\\f" + std::to_string(styles.fontIndex(*a.font));
        controls += "\\fs" + std::to_string(static_cast<long>(std::lround(a.font->pointSize * 2)));
        if (a.font->bold) controls += "\\b";
        if (a.font->italic) controls += "\\i";
    }
    if (a.foreground) controls += "\\cf" + std::to_string(styles.colorIndex(*a.foreground));
    return controls;
}

// A field instruction's quoted argument.
std::string quotedForField(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '{' || c == '}' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// A run as a group of its own; a linked run inside a HYPERLINK field.
std::string runGroup(StyleTables& styles, const Run& run, const QString& piece) {
    const Attributes& a = run.attributes;
    std::string group = "{" + characterControls(styles, a) + " ";
    if (a.picture) {
        for (qsizetype i = 0; i < piece.size(); ++i) group += pictureGroup(*a.picture);
    } else {
        appendEscaped(group, piece);
    }
    group += "}";
    if (!a.link) return group;
    return "{\\field{\\*\\fldinst{HYPERLINK \"" + quotedForField(a.link->value) + "\"}}{\\fldrslt " + group + "}}";
}

// The body, paragraph by paragraph: a table row lists its ruled cells first, and every row gets
// all its table's columns.
class RTFBodyWriter {
public:
    RTFBodyWriter(const AttributedString& text, StyleTables& styles)
        : text_(text), chars_(text.characters()), tables_(tableSizes(text)), styles_(styles) {}

    std::string write() {
        qsizetype start = 0;
        for (int paragraph = 0;; ++paragraph) {
            qsizetype end = chars_.indexOf(QChar('\n'), start);
            if (end < 0) end = chars_.size();
            const Block block = text_.block(paragraph) ? *text_.block(paragraph) : Block{};
            const bool sameCell = endPrevious(block, paragraph);
            if (table_ >= 0 && !sameCell) enterCell(block);
            const int from = static_cast<int>(start) + writeParagraphProperties(block, paragraph, start, end);
            for (const Run& run : text_.runs(from, static_cast<int>(end) - from))
                body_ += runGroup(styles_, run, chars_.mid(run.location, run.length));
            if (end >= chars_.size()) break;
            start = end + 1;
        }
        if (table_ >= 0) endRow();
        return std::move(body_);
    }

private:
    // Ends what the paragraph before left open; true when this one goes on in the same cell. A
    // row's end ends its last paragraph; any other paragraph ends with \par.
    bool endPrevious(const Block& block, int paragraph) {
        if (block.table != table_) {
            if (table_ >= 0) endRow();
            else if (paragraph > 0) body_ += "\\par\n";
            table_ = block.table;
            return false;
        }
        if (table_ >= 0 && block.row == row_ && block.column == column_) {
            body_ += "\\par\n";
            return true;
        }
        if (table_ < 0 && paragraph > 0) body_ += "\\par\n";
        return false;
    }

    void enterCell(const Block& block) {
        if (block.row != row_) {
            endRow();
            writeRowDefinition();
            row_ = block.row;
        } else {
            body_ += "\\cell ";
        }
        for (++column_; column_ < block.column; ++column_) body_ += "\\pard\\intbl\\cell ";
        column_ = block.column;
    }

    // Cells ruled on every side, sharing the text width.
    void writeRowDefinition() {
        const int columns = tables_.at(table_).second;
        body_ += "\\trowd\\trgaph108";
        for (int c = 0; c < columns; ++c)
            body_ += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" + std::to_string(9360 * (c + 1) / columns);
        body_ += "\n";
    }

    // Ends the open cell, and the row with any cells it lacks.
    void endRow() {
        if (row_ < 0) return;
        body_ += "\\cell ";
        for (int c = column_ + 1; c < tables_.at(table_).second; ++c) body_ += "\\pard\\intbl\\cell ";
        body_ += "\\row\n";
        row_ = column_ = -1;
    }

    // Table cells, and list items hanging from the indent of their level. Returns how many of the
    // paragraph's first characters are left out.
    int writeParagraphProperties(const Block& block, int paragraph, qsizetype start, qsizetype end) {
        std::string properties = "\\pard";
        if (table_ >= 0) properties += "\\intbl";
        int skip = 0;
        if (block.listLevel >= 0) {
            properties += "\\li" + std::to_string(360 * (block.listLevel + 1)) + "\\fi-360\\tx" + std::to_string(360 * (block.listLevel + 1));
            // The marker is written without the level's leading tabs, which the indent replaces.
            while (skip < block.markerLength && skip < end - start && chars_[start + skip] == QChar('\t')) ++skip;
        }
        if (paragraph > 0 || table_ >= 0 || block.listLevel >= 0) body_ += properties + " ";
        return skip;
    }

    const AttributedString& text_;
    const QString& chars_;
    const std::map<int, std::pair<int, int>> tables_;
    StyleTables& styles_;
    std::string body_;
    int table_ = -1, row_ = -1, column_ = -1;
};

}  // namespace

std::string writeRTF(const AttributedString& text) {
    // The tables list what the body uses, so the body is written first.
    StyleTables styles;
    std::string body = RTFBodyWriter(text, styles).write();
    return styles.header() + body + "}";
}

}  // namespace calvoro::text
