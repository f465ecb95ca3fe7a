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

}  // namespace

std::string writeRTF(const AttributedString& text) {
    // Font and colour tables first, in order of first use.
    std::vector<std::pair<std::string, bool>> fonts{{systemFontFamily, false}};
    std::vector<Color> colors;
    auto fontIndex = [&](const Font& f) {
        std::string family = f.family.empty() ? (f.monospace ? monospacedFontFamily : systemFontFamily) : f.family;
        for (size_t i = 0; i < fonts.size(); ++i)
            if (fonts[i].first == family && fonts[i].second == f.monospace) return i;
        fonts.emplace_back(family, f.monospace);
        return fonts.size() - 1;
    };
    auto colorIndex = [&](const Color& c) {
        for (size_t i = 0; i < colors.size(); ++i)
            if (colors[i] == c) return i + 1;
        colors.push_back(c);
        return colors.size();
    };
    auto runGroup = [&](const Run& run, const QString& piece) {
        const Attributes& a = run.attributes;
        std::string controls;
        if (a.font) {
            controls += "\\f" + std::to_string(fontIndex(*a.font));
            controls += "\\fs" + std::to_string(static_cast<long>(std::lround(a.font->pointSize * 2)));
            if (a.font->bold) controls += "\\b";
            if (a.font->italic) controls += "\\i";
        }
        if (a.foreground) controls += "\\cf" + std::to_string(colorIndex(*a.foreground));
        std::string group = "{" + controls + " ";
        if (a.picture) {
            for (qsizetype i = 0; i < piece.size(); ++i) group += pictureGroup(*a.picture);
        } else {
            appendEscaped(group, piece);
        }
        group += "}";
        if (!a.link) return group;
        std::string url;
        for (char c : a.link->value) {
            if (c == '\\' || c == '{' || c == '}' || c == '"') url.push_back('\\');
            url.push_back(c);
        }
        return "{\\field{\\*\\fldinst{HYPERLINK \"" + url + "\"}}{\\fldrslt " + group + "}}";
    };
    const auto tables = tableSizes(text);
    std::string body;
    const QString& chars = text.characters();
    int tableId = -1, row = -1, column = -1;
    // Ends the open cell, and the row with any cells it lacks.
    auto endRow = [&] {
        if (row < 0) return;
        body += "\\cell ";
        for (int c = column + 1; c < tables.at(tableId).second; ++c) body += "\\pard\\intbl\\cell ";
        body += "\\row\n";
        row = column = -1;
    };
    qsizetype start = 0;
    for (int paragraph = 0;; ++paragraph) {
        qsizetype end = chars.indexOf(QChar('\n'), start);
        if (end < 0) end = chars.size();
        const Block block = text.block(paragraph) ? *text.block(paragraph) : Block{};
        bool sameCell = false;
        if (block.table != tableId) {
            // A row's end ends its last paragraph; any other paragraph ends with \par.
            if (tableId >= 0) endRow();
            else if (paragraph > 0) body += "\\par\n";
            tableId = block.table;
        } else if (tableId >= 0 && block.row == row && block.column == column) {
            sameCell = true;
            body += "\\par\n";
        } else if (tableId < 0 && paragraph > 0) {
            body += "\\par\n";
        }
        if (tableId >= 0 && !sameCell) {
            if (block.row != row) {
                endRow();
                int columns = tables.at(tableId).second;
                body += "\\trowd\\trgaph108";
                for (int c = 0; c < columns; ++c)
                    body += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" + std::to_string(9360 * (c + 1) / columns);
                body += "\n";
                row = block.row;
            } else {
                body += "\\cell ";
            }
            for (++column; column < block.column; ++column) body += "\\pard\\intbl\\cell ";
            column = block.column;
        }
        // Paragraph properties: table cells, and list items hanging from the indent of their level.
        std::string properties = "\\pard";
        if (tableId >= 0) properties += "\\intbl";
        int skip = 0;
        if (block.listLevel >= 0) {
            properties += "\\li" + std::to_string(360 * (block.listLevel + 1)) + "\\fi-360\\tx" + std::to_string(360 * (block.listLevel + 1));
            // The marker is written without the level's leading tabs, which the indent replaces.
            while (skip < block.markerLength && skip < end - start && chars[start + skip] == QChar('\t')) ++skip;
        }
        if (paragraph > 0 || tableId >= 0 || block.listLevel >= 0) body += properties + " ";
        const int from = static_cast<int>(start) + skip;
        for (const Run& run : text.runs(from, static_cast<int>(end) - from)) body += runGroup(run, chars.mid(run.location, run.length));
        if (end >= chars.size()) break;
        start = end + 1;
    }
    if (tableId >= 0) endRow();
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
    for (size_t i = 0; i < fonts.size(); ++i) {
        out += "{\\f" + std::to_string(i) + (fonts[i].second ? "\\fmodern\\fprq1" : "\\fswiss") + "\\fcharset0 ";
        QString name = QString::fromStdString(fonts[i].first);
        appendEscaped(out, name);
        out += ";}";
    }
    out += "}\n{\\colortbl;";
    for (const Color& c : colors)
        out += "\\red" + std::to_string(c.red) + "\\green" + std::to_string(c.green) + "\\blue" + std::to_string(c.blue) + ";";
    out += "}\n\\pard\\plain ";
    out += body;
    out += "}";
    return out;
}

}  // namespace calvoro::text
