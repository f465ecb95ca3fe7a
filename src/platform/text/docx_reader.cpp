#include "platform/text/docx.h"

#include <QXmlStreamReader>

#include <map>
#include <optional>
#include <string>

#include "core/conversion_error.h"
#include "zip/zip_archive.h"

namespace calvoro::text {

namespace {

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
    Properties properties;
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
};

QString attribute(const QXmlStreamReader& r, const char* localName) {
    for (const auto& a : r.attributes())
        if (a.name() == QLatin1String(localName)) return a.value().toString();
    return {};
}

bool hasAttribute(const QXmlStreamReader& r, const char* localName) {
    for (const auto& a : r.attributes())
        if (a.name() == QLatin1String(localName)) return true;
    return false;
}

bool onOff(const QXmlStreamReader& r) {
    if (!hasAttribute(r, "val")) return true;
    QString v = attribute(r, "val").toLower();
    return !(v == "0" || v == "false" || v == "off" || v == "none");
}

bool isMonospacedFamily(const std::string& family) {
    QString f = QString::fromStdString(family).toLower();
    return f.contains("mono") || f.contains("courier") || f.contains("consolas") || f.contains("menlo") || f.contains("monaco") ||
           f.contains("code");
}

void fail() { throw ConversionError::corruptFile("The DOCX document could not be read"); }

// Reads the children of an rPr element (the reader stands on its start).
Properties readRunProperties(QXmlStreamReader& r, std::string* runStyle = nullptr) {
    Properties p;
    while (r.readNextStartElement()) {
        auto n = r.name();
        if (n == QLatin1String("b")) p.bold = onOff(r);
        else if (n == QLatin1String("i")) p.italic = onOff(r);
        else if (n == QLatin1String("sz")) {
            bool ok = false;
            double half = attribute(r, "val").toDouble(&ok);
            if (ok && half > 0) p.size = half / 2.0;
        } else if (n == QLatin1String("rFonts")) {
            QString f = attribute(r, "ascii");
            if (f.isEmpty()) f = attribute(r, "hAnsi");
            if (!f.isEmpty()) p.family = f.toStdString();
        } else if (n == QLatin1String("color")) {
            QString v = attribute(r, "val");
            bool ok = false;
            uint rgb = v.toUInt(&ok, 16);
            if (v.compare("auto", Qt::CaseInsensitive) == 0 || !ok || v.size() != 6) p.color = std::optional<Color>{};
            else p.color = std::optional<Color>(Color{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255});
        } else if (n == QLatin1String("rStyle") && runStyle) {
            *runStyle = attribute(r, "val").toStdString();
        }
        r.skipCurrentElement();
    }
    return p;
}

Styles readStyles(const QByteArray& xml) {
    Styles styles;
    if (xml.isEmpty()) return styles;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement()) continue;
        if (r.name() == QLatin1String("rPrDefault")) {
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("rPr")) styles.defaults = readRunProperties(r);
                else r.skipCurrentElement();
            }
        } else if (r.name() == QLatin1String("style")) {
            std::string id = attribute(r, "styleId").toStdString();
            QString type = attribute(r, "type");
            QString flag = attribute(r, "default").toLower();
            bool isDefault = flag == "1" || flag == "true" || flag == "on";
            Style style;
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("basedOn")) {
                    style.basedOn = attribute(r, "val").toStdString();
                    r.skipCurrentElement();
                } else if (r.name() == QLatin1String("rPr")) {
                    style.properties = readRunProperties(r);
                } else {
                    r.skipCurrentElement();
                }
            }
            if (isDefault && type == "paragraph") styles.defaultParagraph = id;
            if (isDefault && type == "character") styles.defaultCharacter = id;
            styles.byId[id] = style;
        }
    }
    return styles;
}

std::map<std::string, std::string> readRelationships(const QByteArray& xml) {
    std::map<std::string, std::string> targets;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("Relationship"))
            targets[attribute(r, "Id").toStdString()] = attribute(r, "Target").toStdString();
    }
    return targets;
}

std::string relationshipTarget(const QByteArray& xml, const char* typeSuffix) {
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("Relationship") && attribute(r, "Type").endsWith(QLatin1String(typeSuffix)))
            return attribute(r, "Target").toStdString();
    }
    return {};
}

std::optional<Link> hyperlinkFromInstruction(const QString& instruction) {
    QString in = instruction.trimmed();
    if (!in.startsWith(QLatin1String("HYPERLINK"), Qt::CaseInsensitive)) return std::nullopt;
    in = in.mid(9).trimmed();
    QString url;
    if (in.startsWith('"')) url = in.mid(1, in.indexOf('"', 1) - 1);
    else url = in.section(' ', 0, 0);
    if (url.isEmpty()) return std::nullopt;
    return Link{Link::Kind::url, url.toStdString()};
}

class BodyReader {
public:
    BodyReader(const Styles& styles, const std::map<std::string, std::string>& rels) : styles_(styles), rels_(rels) {}

    AttributedString read(const QByteArray& xml) {
        QXmlStreamReader r(xml);
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == QLatin1String("body")) {
                element(r);
            }
        }
        if (r.hasError()) fail();
        return std::move(out_);
    }

private:
    // Walks the children of the current element.
    void element(QXmlStreamReader& r) {
        while (r.readNextStartElement()) child(r);
    }

    // One child element, already started.
    void child(QXmlStreamReader& r) {
        auto n = r.name();
        if (n == QLatin1String("p")) {
            paragraph(r);
        } else if (n == QLatin1String("r")) {
            run(r);
        } else if (n == QLatin1String("hyperlink")) {
            std::optional<Link> link;
            QString id = attribute(r, "id"), anchor = attribute(r, "anchor");
            auto it = rels_.find(id.toStdString());
            if (!id.isEmpty() && it != rels_.end()) link = Link{Link::Kind::url, it->second};
            else if (!anchor.isEmpty()) link = Link{Link::Kind::string, "#" + anchor.toStdString()};
            links_.push_back(link);
            element(r);
            links_.pop_back();
        } else if (n == QLatin1String("fldSimple")) {
            links_.push_back(hyperlinkFromInstruction(attribute(r, "instr")));
            element(r);
            links_.pop_back();
        } else if (n == QLatin1String("del") || n == QLatin1String("drawing") || n == QLatin1String("pict") ||
                   n == QLatin1String("object") || n == QLatin1String("AlternateContent") || n == QLatin1String("sectPr") ||
                   n == QLatin1String("pPr") || n == QLatin1String("tblPr") || n == QLatin1String("tcPr") ||
                   n == QLatin1String("trPr") || n == QLatin1String("tblGrid") || n == QLatin1String("moveFrom")) {
            r.skipCurrentElement();
        } else {
            // Tables, insertions, content controls and smart tags hold runs of their own.
            element(r);
        }
    }

    void paragraph(QXmlStreamReader& r) {
        if (paragraphs_++ > 0) out_.append(QStringLiteral("\n"), lastAttributes_);
        std::string saved = paragraphStyle_;
        paragraphStyle_ = styles_.defaultParagraph;
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("pPr")) {
                while (r.readNextStartElement()) {
                    if (r.name() == QLatin1String("pStyle")) paragraphStyle_ = attribute(r, "val").toStdString();
                    r.skipCurrentElement();
                }
            } else {
                child(r);
            }
        }
        paragraphStyle_ = saved;
    }

    void run(QXmlStreamReader& r) {
        Properties direct;
        std::string runStyle = styles_.defaultCharacter;
        while (r.readNextStartElement()) {
            auto n = r.name();
            if (n == QLatin1String("rPr")) {
                std::string named;
                direct = readRunProperties(r, &named);
                if (!named.empty()) runStyle = named;
            } else if (n == QLatin1String("t")) {
                QString t = r.readElementText(QXmlStreamReader::IncludeChildElements);
                if (fieldDepth_ == 0 || inFieldResult_) emitText(t, direct, runStyle);
            } else if (n == QLatin1String("instrText")) {
                QString t = r.readElementText(QXmlStreamReader::IncludeChildElements);
                if (!fieldInstructions_.empty()) fieldInstructions_.back() += t;
            } else if (n == QLatin1String("fldChar")) {
                QString type = attribute(r, "fldCharType");
                if (type == "begin") {
                    ++fieldDepth_;
                    fieldInstructions_.push_back({});
                    inFieldResult_ = false;
                } else if (type == "separate" && !fieldInstructions_.empty()) {
                    links_.push_back(hyperlinkFromInstruction(fieldInstructions_.back()));
                    fieldLinkPushed_.push_back(true);
                    inFieldResult_ = true;
                } else if (type == "end" && fieldDepth_ > 0) {
                    --fieldDepth_;
                    if (!fieldLinkPushed_.empty()) {
                        links_.pop_back();
                        fieldLinkPushed_.pop_back();
                    }
                    if (!fieldInstructions_.empty()) fieldInstructions_.pop_back();
                    inFieldResult_ = fieldDepth_ > 0;
                }
                r.skipCurrentElement();
            } else if (n == QLatin1String("tab")) {
                emitText(QStringLiteral("\t"), direct, runStyle);
                r.skipCurrentElement();
            } else if (n == QLatin1String("br") || n == QLatin1String("cr")) {
                emitText(QStringLiteral("\n"), direct, runStyle);
                r.skipCurrentElement();
            } else if (n == QLatin1String("noBreakHyphen")) {
                emitText(QString(QChar(0x2011)), direct, runStyle);
                r.skipCurrentElement();
            } else if (n == QLatin1String("sym")) {
                bool ok = false;
                uint code = attribute(r, "char").toUInt(&ok, 16);
                if (ok && code >= 0x20) {
                    if (code >= 0xF000 && code <= 0xF0FF) code -= 0xF000;  // symbol-font private range
                    if (code >= 0x20) emitText(QString(QChar(char16_t(code))), direct, runStyle);
                }
                r.skipCurrentElement();
            } else {
                r.skipCurrentElement();
            }
        }
    }

    void emitText(const QString& text, const Properties& direct, const std::string& runStyle) {
        if (fieldDepth_ > 0 && !inFieldResult_) return;
        Properties p = styles_.defaults;
        if (!paragraphStyle_.empty()) p.overlay(styles_.resolved(paragraphStyle_));
        if (!runStyle.empty()) p.overlay(styles_.resolved(runStyle));
        p.overlay(direct);
        Font font;
        font.pointSize = p.size.value_or(10);
        font.bold = p.bold.value_or(false);
        font.italic = p.italic.value_or(false);
        font.family = p.family.value_or(systemFontFamily);
        font.monospace = isMonospacedFamily(font.family);
        Attributes a;
        a.font = font;
        if (p.color && *p.color) a.foreground = **p.color;
        for (auto it = links_.rbegin(); it != links_.rend(); ++it)
            if (*it) {
                a.link = *it;
                break;
            }
        lastAttributes_ = a;
        out_.append(text, a);
    }

    const Styles& styles_;
    const std::map<std::string, std::string>& rels_;
    AttributedString out_;
    Attributes lastAttributes_;
    std::string paragraphStyle_;
    std::vector<std::optional<Link>> links_;
    std::vector<QString> fieldInstructions_;
    std::vector<bool> fieldLinkPushed_;
    int fieldDepth_ = 0;
    bool inFieldResult_ = false;
    int paragraphs_ = 0;
};

QByteArray member(const std::vector<ArchiveConverter::ZipMember>& members, const std::string& name) {
    for (const auto& m : members)
        if (m.name == name) return QByteArray(reinterpret_cast<const char*>(m.data.data()), static_cast<qsizetype>(m.data.size()));
    return {};
}

std::string joinPath(const std::string& folder, const std::string& target) {
    if (!target.empty() && target.front() == '/') return target.substr(1);
    std::string path = folder.empty() ? target : folder + "/" + target;
    // Resolve "../" steps against the folder.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t e = path.find('/', start);
        std::string part = path.substr(start, e == std::string::npos ? std::string::npos : e - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (e == std::string::npos) break;
        start = e + 1;
    }
    std::string joined;
    for (const auto& p : parts) joined += (joined.empty() ? "" : "/") + p;
    return joined;
}

}  // namespace

AttributedString readDOCX(std::span<const uint8_t> bytes) {
    auto members = ArchiveConverter::readZIP(bytes);
    std::string documentPath = relationshipTarget(member(members, "_rels/.rels"), "/officeDocument");
    documentPath = documentPath.empty() ? "word/document.xml" : joinPath("", documentPath);
    QByteArray document = member(members, documentPath);
    if (document.isEmpty()) fail();
    std::string folder = documentPath.find('/') == std::string::npos ? "" : documentPath.substr(0, documentPath.rfind('/'));
    std::string fileName = documentPath.substr(documentPath.rfind('/') + 1);
    QByteArray rels = member(members, (folder.empty() ? "" : folder + "/") + "_rels/" + fileName + ".rels");
    std::string stylesPath = relationshipTarget(rels, "/styles");
    Styles styles = readStyles(member(members, stylesPath.empty() ? folder + "/styles.xml" : joinPath(folder, stylesPath)));
    auto targets = readRelationships(rels);
    return BodyReader(styles, targets).read(document);
}

}  // namespace calvoro::text
