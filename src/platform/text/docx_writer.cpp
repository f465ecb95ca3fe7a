#include "platform/text/docx.h"

#include <QXmlStreamWriter>

#include <cmath>
#include <map>

#include "platform/text/xml_text.h"
#include "platform/zip/zip_archive.h"

namespace calvoro::text {

namespace {

constexpr const char* wordNamespace = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* relationshipsNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* hyperlinkType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";

constexpr const char* imageType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
constexpr const char* numberingType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/numbering";
constexpr const char* drawingNamespace = "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
constexpr const char* drawingMainNamespace = "http://schemas.openxmlformats.org/drawingml/2006/main";
constexpr const char* pictureNamespace = "http://schemas.openxmlformats.org/drawingml/2006/picture";

std::string contentTypes(bool numbering) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
               "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
               "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
               "<Default Extension=\"png\" ContentType=\"image/png\"/>"
               "<Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/>"
               "<Override PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
               "<Override PartName=\"/word/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>") +
           (numbering ? "<Override PartName=\"/word/numbering.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.numbering+xml\"/>"
                      : "") +
           "</Types>";
}

// Two list definitions: bullets by level (numId 1) and decimal numbers by level (numId 2).
std::string numberingPart() {
    std::string out = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:numbering xmlns:w=\"") + wordNamespace + "\">";
    for (int ordered = 0; ordered < 2; ++ordered) {
        out += "<w:abstractNum w:abstractNumId=\"" + std::to_string(ordered + 1) + "\"><w:multiLevelType w:val=\"multilevel\"/>";
        for (int level = 0; level < 9; ++level) {
            std::string text = ordered ? "%" + std::to_string(level + 1) + "." : listMarker(level, false, 1).toStdString();
            out += "<w:lvl w:ilvl=\"" + std::to_string(level) + "\"><w:start w:val=\"1\"/><w:numFmt w:val=\"" + (ordered ? "decimal" : "bullet") +
                   "\"/><w:lvlText w:val=\"" + text + "\"/><w:lvlJc w:val=\"left\"/><w:pPr><w:ind w:left=\"" + std::to_string(720 * (level + 1)) +
                   "\" w:hanging=\"360\"/></w:pPr></w:lvl>";
        }
        out += "</w:abstractNum>";
    }
    return out + "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"1\"/></w:num><w:num w:numId=\"2\"><w:abstractNumId w:val=\"2\"/></w:num></w:numbering>";
}

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

std::string pictureName(const Picture& picture, size_t index) {
    return "image" + std::to_string(index + 1) + (picture.mimeType == "image/jpeg" ? ".jpeg" : ".png");
}

// A table with single rules around every cell, its columns sharing the text width.
void writeTableStart(QXmlStreamWriter& w, int columns) {
    w.writeStartElement("w:tbl");
    w.writeStartElement("w:tblPr");
    w.writeEmptyElement("w:tblW");
    w.writeAttribute("w:w", "5000");
    w.writeAttribute("w:type", "pct");
    w.writeStartElement("w:tblBorders");
    for (auto side : {"w:top", "w:left", "w:bottom", "w:right", "w:insideH", "w:insideV"}) {
        w.writeEmptyElement(side);
        w.writeAttribute("w:val", "single");
        w.writeAttribute("w:sz", "4");
        w.writeAttribute("w:space", "0");
        w.writeAttribute("w:color", "000000");
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement("w:tblGrid");
    for (int c = 0; c < columns; ++c) {
        w.writeEmptyElement("w:gridCol");
        w.writeAttribute("w:w", QString::number(9360 / std::max(columns, 1)));
    }
    w.writeEndElement();
}

// An inline picture in a run of its own; its bytes go into word/media under the given id.
void writePicture(QXmlStreamWriter& w, const Picture& picture, const QString& id, int number) {
    QString cx = QString::number(std::llround(picture.width * 12700)), cy = QString::number(std::llround(picture.height * 12700));
    w.writeStartElement("w:r");
    w.writeStartElement("w:drawing");
    w.writeStartElement("wp:inline");
    w.writeEmptyElement("wp:extent");
    w.writeAttribute("cx", cx);
    w.writeAttribute("cy", cy);
    w.writeEmptyElement("wp:docPr");
    w.writeAttribute("id", QString::number(number));
    w.writeAttribute("name", QString("Picture %1").arg(number));
    w.writeStartElement("a:graphic");
    w.writeStartElement("a:graphicData");
    w.writeAttribute("uri", pictureNamespace);
    w.writeStartElement("pic:pic");
    w.writeStartElement("pic:nvPicPr");
    w.writeEmptyElement("pic:cNvPr");
    w.writeAttribute("id", QString::number(number));
    w.writeAttribute("name", QString("Picture %1").arg(number));
    w.writeEmptyElement("pic:cNvPicPr");
    w.writeEndElement();
    w.writeStartElement("pic:blipFill");
    w.writeEmptyElement("a:blip");
    w.writeAttribute("r:embed", id);
    w.writeStartElement("a:stretch");
    w.writeEmptyElement("a:fillRect");
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement("pic:spPr");
    w.writeStartElement("a:xfrm");
    w.writeEmptyElement("a:off");
    w.writeAttribute("x", "0");
    w.writeAttribute("y", "0");
    w.writeEmptyElement("a:ext");
    w.writeAttribute("cx", cx);
    w.writeAttribute("cy", cy);
    w.writeEndElement();
    w.writeStartElement("a:prstGeom");
    w.writeAttribute("prst", "rect");
    w.writeEmptyElement("a:avLst");
    w.writeEndElement();
    w.writeEndElement();  // pic:spPr
    w.writeEndElement();  // pic:pic
    w.writeEndElement();  // a:graphicData
    w.writeEndElement();  // a:graphic
    w.writeEndElement();  // wp:inline
    w.writeEndElement();  // w:drawing
    w.writeEndElement();  // w:r
}

}  // namespace

std::vector<uint8_t> writeDOCX(const AttributedString& text) {
    QByteArray document;
    bool numbered = false;
    std::vector<std::shared_ptr<const Picture>> pictures;
    std::map<std::string, QString> linkIds;
    std::vector<std::pair<QString, std::string>> links;
    {
        QXmlStreamWriter w(&document);
        w.writeStartDocument("1.0", true);
        w.writeStartElement("w:document");
        w.writeNamespace(wordNamespace, "w");
        w.writeNamespace(relationshipsNamespace, "r");
        w.writeNamespace(drawingNamespace, "wp");
        w.writeNamespace(drawingMainNamespace, "a");
        w.writeNamespace(pictureNamespace, "pic");
        w.writeStartElement("w:body");
        // Characters XML cannot hold are dropped run by run, so that the runs stay aligned; form
        // feeds stay, to be written as page breaks.
        AttributedString clean;
        for (const Run& run : text.runs()) {
            QStringList pieces = text.characters().mid(run.location, run.length).split(QChar('\f'));
            for (QString& piece : pieces) piece = removingXMLForbiddenCharacters(piece);
            clean.append(pieces.join(QChar('\f')), run.attributes);
        }
        for (int p = 0; p < text.paragraphCount(); ++p)
            if (const Block* b = text.block(p)) clean.setBlock(p, *b);
        const auto tables = tableSizes(clean);
        const QString& chars = clean.characters();
        int tableId = -1, row = -1, column = -1;
        auto closeCell = [&] {
            if (column >= 0) w.writeEndElement();  // w:tc
        };
        auto emptyCell = [&] {
            w.writeStartElement("w:tc");
            w.writeEmptyElement("w:p");
            w.writeEndElement();
        };
        auto closeRow = [&] {
            if (row < 0) return;
            closeCell();
            for (int c = column + 1; c < tables.at(tableId).second; ++c) emptyCell();
            w.writeEndElement();  // w:tr
            column = -1;
        };
        qsizetype start = 0;
        for (int paragraph = 0;; ++paragraph) {
            qsizetype end = chars.indexOf(QChar('\n'), start);
            if (end < 0) end = chars.size();
            const Block block = clean.block(paragraph) ? *clean.block(paragraph) : Block{};
            if (block.table != tableId) {
                if (tableId >= 0) {
                    closeRow();
                    w.writeEndElement();  // w:tbl
                }
                tableId = block.table;
                row = column = -1;
                if (tableId >= 0) writeTableStart(w, tables.at(tableId).second);
            }
            if (tableId >= 0) {
                if (block.row != row) {
                    closeRow();
                    for (++row; row < block.row; ++row) {
                        w.writeStartElement("w:tr");
                        for (int c = 0; c < tables.at(tableId).second; ++c) emptyCell();
                        w.writeEndElement();
                    }
                    w.writeStartElement("w:tr");
                }
                if (block.column != column) {
                    closeCell();
                    for (++column; column < block.column; ++column) emptyCell();
                    w.writeStartElement("w:tc");
                }
            }
            w.writeStartElement("w:p");
            int skip = 0;
            if (block.listLevel >= 0) {
                w.writeStartElement("w:pPr");
                w.writeStartElement("w:numPr");
                w.writeEmptyElement("w:ilvl");
                w.writeAttribute("w:val", QString::number(block.listLevel));
                w.writeEmptyElement("w:numId");
                w.writeAttribute("w:val", block.ordered ? "2" : "1");
                w.writeEndElement();
                w.writeEndElement();
                numbered = true;
                skip = std::min(block.markerLength, static_cast<int>(end - start));
            }
            const int from = static_cast<int>(start) + skip;
            for (const Run& run : clean.runs(from, static_cast<int>(end) - from)) {
                QString segment = chars.mid(run.location, run.length);
                segment.remove(QChar('\r'));
                if (segment.isEmpty()) continue;
                if (run.attributes.picture) {
                    for (qsizetype i = 0; i < segment.size(); ++i) {
                        QString id = QString("rId%1").arg(1000 + pictures.size());
                        writePicture(w, *run.attributes.picture, id, static_cast<int>(pictures.size()) + 1);
                        pictures.push_back(run.attributes.picture);
                    }
                    continue;
                }
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
            w.writeEndElement();  // w:p
            if (end >= chars.size()) break;
            start = end + 1;
        }
        if (tableId >= 0) {
            closeRow();
            w.writeEndElement();  // w:tbl
            // A document may not end in a table.
            w.writeEmptyElement("w:p");
        }
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
        if (numbered) {
            w.writeEmptyElement("Relationship");
            w.writeAttribute("Id", "rId2");
            w.writeAttribute("Type", numberingType);
            w.writeAttribute("Target", "numbering.xml");
        }
        for (size_t i = 0; i < pictures.size(); ++i) {
            w.writeEmptyElement("Relationship");
            w.writeAttribute("Id", QString("rId%1").arg(1000 + i));
            w.writeAttribute("Type", imageType);
            w.writeAttribute("Target", QString::fromStdString("media/" + pictureName(*pictures[i], i)));
        }
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
    entries.push_back({"[Content_Types].xml", bytes(contentTypes(numbered))});
    entries.push_back({"_rels/.rels", bytes(packageRelationships)});
    entries.push_back({"word/document.xml", qbytes(document)});
    entries.push_back({"word/_rels/document.xml.rels", qbytes(rels)});
    entries.push_back({"word/styles.xml", bytes(styles())});
    if (numbered) entries.push_back({"word/numbering.xml", bytes(numberingPart())});
    for (size_t i = 0; i < pictures.size(); ++i) entries.push_back({"word/media/" + pictureName(*pictures[i], i), pictures[i]->bytes});
    return ArchiveConverter::writeZIP(entries);
}

}  // namespace calvoro::text
