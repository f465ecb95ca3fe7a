#include "platform/text/docx_styles.h"

#include "core/conversion_error.h"

namespace calvoro::text::docx {

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

Properties readRunProperties(QXmlStreamReader& r, std::string* runStyle) {
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
                } else if (r.name() == QLatin1String("name")) {
                    style.name = attribute(r, "val").toStdString();
                    r.skipCurrentElement();
                } else if (r.name() == QLatin1String("pPr")) {
                    while (r.readNextStartElement()) {
                        if (r.name() == QLatin1String("outlineLvl")) style.outlineLevel = attribute(r, "val").toInt();
                        r.skipCurrentElement();
                    }
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

Numbering readNumbering(const QByteArray& xml) {
    Numbering numbering;
    if (xml.isEmpty()) return numbering;
    QXmlStreamReader r(xml);
    std::string abstractId, numId;
    int level = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement()) continue;
        auto n = r.name();
        if (n == QLatin1String("abstractNum")) abstractId = attribute(r, "abstractNumId").toStdString();
        else if (n == QLatin1String("lvl")) level = attribute(r, "ilvl").toInt();
        else if (n == QLatin1String("numFmt") && !abstractId.empty()) {
            QString format = attribute(r, "val");
            numbering.orderedLevels[abstractId][level] = format != QLatin1String("bullet") && format != QLatin1String("none");
        } else if (n == QLatin1String("num")) numId = attribute(r, "numId").toStdString();
        else if (n == QLatin1String("abstractNumId") && !numId.empty()) numbering.abstractOf[numId] = attribute(r, "val").toStdString();
    }
    return numbering;
}

}  // namespace calvoro::text::docx
