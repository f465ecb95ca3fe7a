#include "platform/text/docx.h"

#include <QXmlStreamWriter>

#include <cmath>
#include <map>

#include "platform/text/xml_text.h"
#include "zip/zip_archive.h"

namespace calvoro::text {

namespace {

constexpr const char* wordNamespace = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* relationshipsNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* hyperlinkType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";

const char* contentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
    "<Override PartName=\"/word/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>"
    "</Types>";

const char* packageRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
    "</Relationships>";

std::string styles() {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
               "<w:styles xmlns:w=\"") +
           wordNamespace +
           "\"><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"" + systemFontFamily + "\" w:hAnsi=\"" + systemFontFamily +
           "\" w:cs=\"" + systemFontFamily +
           "\"/><w:sz w:val=\"24\"/><w:szCs w:val=\"24\"/></w:rPr></w:rPrDefault><w:pPrDefault/></w:docDefaults>"
           "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/></w:style>"
           "</w:styles>";
}

QString hex2(int v) { return QString::asprintf("%02X", v); }

void writeRunProperties(QXmlStreamWriter& w, const Attributes& a) {
    if (!a.font && !a.foreground) return;
    w.writeStartElement("w:rPr");
    if (a.font) {
        QString family = QString::fromStdString(a.font->family.empty() ? (a.font->monospace ? monospacedFontFamily : systemFontFamily) : a.font->family);
        w.writeEmptyElement("w:rFonts");
        w.writeAttribute("w:ascii", family);
        w.writeAttribute("w:hAnsi", family);
        w.writeAttribute("w:cs", family);
        if (a.font->bold) w.writeEmptyElement("w:b");
        if (a.font->italic) w.writeEmptyElement("w:i");
    }
    if (a.foreground) {
        w.writeEmptyElement("w:color");
        w.writeAttribute("w:val", hex2(a.foreground->red) + hex2(a.foreground->green) + hex2(a.foreground->blue));
    }
    if (a.font) {
        QString half = QString::number(std::max(2L, std::lround(a.font->pointSize * 2)));
        w.writeEmptyElement("w:sz");
        w.writeAttribute("w:val", half);
        w.writeEmptyElement("w:szCs");
        w.writeAttribute("w:val", half);
    }
    w.writeEndElement();
}

void writeRunText(QXmlStreamWriter& w, const QString& text) {
    // Tabs and page breaks (form feeds) are elements of their own; the rest goes into preserved text.
    qsizetype start = 0;
    auto flush = [&](qsizetype end) {
        if (end <= start) return;
        w.writeStartElement("w:t");
        w.writeAttribute("xml:space", "preserve");
        w.writeCharacters(text.mid(start, end - start));
        w.writeEndElement();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QChar('\t') || text[i] == QChar('\f')) {
            flush(i);
            if (text[i] == QChar('\t')) {
                w.writeEmptyElement("w:tab");
            } else {
                w.writeEmptyElement("w:br");
                w.writeAttribute("w:type", "page");
            }
            start = i + 1;
        }
    }
    flush(text.size());
}

}  // namespace

std::vector<uint8_t> writeDOCX(const AttributedString& text) {
    QByteArray document;
    std::map<std::string, QString> linkIds;
    std::vector<std::pair<QString, std::string>> links;
    {
        QXmlStreamWriter w(&document);
        w.writeStartDocument("1.0", true);
        w.writeStartElement("w:document");
        w.writeNamespace(wordNamespace, "w");
        w.writeNamespace(relationshipsNamespace, "r");
        w.writeStartElement("w:body");
        w.writeStartElement("w:p");
        // Characters XML cannot hold are dropped run by run, so that the runs stay aligned; form
        // feeds stay, to be written as page breaks.
        AttributedString clean;
        for (const Run& run : text.runs()) {
            QStringList pieces = text.characters().mid(run.location, run.length).split(QChar('\f'));
            for (QString& piece : pieces) piece = removingXMLForbiddenCharacters(piece);
            clean.append(pieces.join(QChar('\f')), run.attributes);
        }
        for (const Run& run : clean.runs()) {
            QString piece = clean.characters().mid(run.location, run.length);
            qsizetype start = 0;
            for (qsizetype i = 0; i <= piece.size(); ++i) {
                if (i < piece.size() && piece[i] != QChar('\n')) continue;
                QString segment = piece.mid(start, i - start);
                segment.remove(QChar('\r'));
                if (!segment.isEmpty()) {
                    bool linked = run.attributes.link.has_value();
                    if (linked) {
                        auto [it, added] = linkIds.try_emplace(run.attributes.link->value, QString("rId%1").arg(100 + linkIds.size()));
                        if (added) links.emplace_back(it->second, it->first);
                        w.writeStartElement("w:hyperlink");
                        w.writeAttribute("r:id", it->second);
                    }
                    w.writeStartElement("w:r");
                    writeRunProperties(w, run.attributes);
                    writeRunText(w, segment);
                    w.writeEndElement();
                    if (linked) w.writeEndElement();
                }
                if (i < piece.size()) {
                    w.writeEndElement();
                    w.writeStartElement("w:p");
                }
                start = i + 1;
            }
        }
        w.writeEndElement();  // w:p
        w.writeStartElement("w:sectPr");
        w.writeEmptyElement("w:pgSz");
        w.writeAttribute("w:w", "12240");
        w.writeAttribute("w:h", "15840");
        w.writeEmptyElement("w:pgMar");
        for (auto side : {"w:top", "w:right", "w:bottom", "w:left"}) w.writeAttribute(side, "1440");
        w.writeAttribute("w:header", "720");
        w.writeAttribute("w:footer", "720");
        w.writeAttribute("w:gutter", "0");
        w.writeEndElement();
        w.writeEndElement();  // w:body
        w.writeEndElement();  // w:document
        w.writeEndDocument();
    }
    QByteArray rels;
    {
        QXmlStreamWriter w(&rels);
        w.writeStartDocument("1.0", true);
        w.writeStartElement("Relationships");
        w.writeDefaultNamespace("http://schemas.openxmlformats.org/package/2006/relationships");
        w.writeEmptyElement("Relationship");
        w.writeAttribute("Id", "rId1");
        w.writeAttribute("Type", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");
        w.writeAttribute("Target", "styles.xml");
        for (const auto& [id, target] : links) {
            w.writeEmptyElement("Relationship");
            w.writeAttribute("Id", id);
            w.writeAttribute("Type", hyperlinkType);
            w.writeAttribute("Target", removingXMLForbiddenCharacters(QString::fromStdString(target)));
            w.writeAttribute("TargetMode", "External");
        }
        w.writeEndElement();
        w.writeEndDocument();
    }
    auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    auto qbytes = [](const QByteArray& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::vector<ArchiveConverter::ZipEntry> entries;
    entries.push_back({"[Content_Types].xml", bytes(contentTypes)});
    entries.push_back({"_rels/.rels", bytes(packageRelationships)});
    entries.push_back({"word/document.xml", qbytes(document)});
    entries.push_back({"word/_rels/document.xml.rels", qbytes(rels)});
    entries.push_back({"word/styles.xml", bytes(styles())});
    return ArchiveConverter::writeZIP(entries);
}

}  // namespace calvoro::text
