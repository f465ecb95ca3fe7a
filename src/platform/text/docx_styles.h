#pragma once

// The style and numbering parts of a WordprocessingML package, as the DOCX reader uses them.
#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <map>
#include <optional>
#include <string>

#include "platform/text/attributed_string.h"

namespace calvoro::text::docx {

// Run properties as a style or a run states them; unset fields inherit.
struct Properties {
    std::optional<double> size;
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<std::string> family;
    std::optional<std::optional<Color>> color;  // set to nothing for "auto"

    void overlay(const Properties& p) {
        if (p.size) size = p.size;
        if (p.bold) bold = p.bold;
        if (p.italic) italic = p.italic;
        if (p.family) family = p.family;
        if (p.color) color = p.color;
    }
};

struct Style {
    std::string basedOn;
    std::string name;
    int outlineLevel = -1;
    Properties properties;
};

// The list levels of one numbering definition: whether each level counts.
struct Numbering {
    std::map<std::string, std::string> abstractOf;                  // numId → abstractNumId
    std::map<std::string, std::map<int, bool>> orderedLevels;       // abstractNumId → level → ordered

    bool ordered(const std::string& numId, int level) const {
        auto a = abstractOf.find(numId);
        if (a == abstractOf.end()) return false;
        auto levels = orderedLevels.find(a->second);
        if (levels == orderedLevels.end()) return false;
        auto l = levels->second.find(level);
        return l != levels->second.end() && l->second;
    }
    bool defines(const std::string& numId) const { return abstractOf.count(numId) > 0; }
};

struct Styles {
    Properties defaults;
    std::map<std::string, Style> byId;
    std::string defaultParagraph;
    std::string defaultCharacter;

    Properties resolved(const std::string& id, int depth = 0) const {
        Properties p;
        auto it = byId.find(id);
        if (it == byId.end() || depth > 32) return p;
        if (!it->second.basedOn.empty()) p = resolved(it->second.basedOn, depth + 1);
        p.overlay(it->second.properties);
        return p;
    }

    // 1 to 6 for "Heading 1".."Heading 6" (and paragraphs outlined at those levels), 1 for
    // "Title", 0 for any other style.
    int headingLevel(const std::string& id, int depth = 0) const {
        auto it = byId.find(id);
        if (it == byId.end() || depth > 32) return 0;
        QString name = QString::fromStdString(it->second.name).toLower().remove(' ');
        QString key = QString::fromStdString(id).toLower();
        for (const QString& n : {name, key}) {
            if (n == QLatin1String("title")) return 1;
            if (n.size() == 8 && n.startsWith(QLatin1String("heading")) && n[7] >= '1' && n[7] <= '6') return n[7].unicode() - '0';
        }
        if (it->second.outlineLevel >= 0 && it->second.outlineLevel < 6) return it->second.outlineLevel + 1;
        return it->second.basedOn.empty() ? 0 : headingLevel(it->second.basedOn, depth + 1);
    }
};

QString attribute(const QXmlStreamReader& r, const char* localName);
bool hasAttribute(const QXmlStreamReader& r, const char* localName);
// A w:b-like switch: on unless its value says off.
bool onOff(const QXmlStreamReader& r);
bool isMonospacedFamily(const std::string& family);
[[noreturn]] void fail();
// Reads the children of an rPr element (the reader stands on its start).
Properties readRunProperties(QXmlStreamReader& r, std::string* runStyle = nullptr);
Styles readStyles(const QByteArray& xml);
Numbering readNumbering(const QByteArray& xml);

}  // namespace calvoro::text::docx
