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
    std::string body;
    const QString& chars = text.characters();
    for (const Run& run : text.runs()) {
        const Attributes& a = run.attributes;
        std::string controls;
        if (a.font) {
            controls += "\\f" + std::to_string(fontIndex(*a.font));
            controls += "\\fs" + std::to_string(static_cast<long>(std::lround(a.font->pointSize * 2)));
            if (a.font->bold) controls += "\\b";
            if (a.font->italic) controls += "\\i";
        }
        if (a.foreground) controls += "\\cf" + std::to_string(colorIndex(*a.foreground));
        std::string piece = "{" + controls + " ";
        appendEscaped(piece, chars.mid(run.location, run.length));
        piece += "}";
        if (a.link) {
            std::string url;
            for (char c : a.link->value) {
                if (c == '\\' || c == '{' || c == '}' || c == '"') url.push_back('\\');
                url.push_back(c);
            }
            body += "{\\field{\\*\\fldinst{HYPERLINK \"" + url + "\"}}{\\fldrslt " + piece + "}}";
        } else {
            body += piece;
        }
    }
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
