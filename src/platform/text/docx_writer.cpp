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

using XMLAttributes = std::vector<std::pair<QString, QString>>;

// An empty element with its attributes, in the order given.
void writeEmpty(QXmlStreamWriter& w, const QString& name, const XMLAttributes& attributes) {
    w.writeEmptyElement(name);
    for (const auto& [key, value] : attributes) w.writeAttribute(key, value);
}

void writeRunProperties(QXmlStreamWriter& w, const Attributes& a) {
    if (!a.font && !a.foreground) return;
    w.writeStartElement("w:rPr");
    if (a.font) {
        QString family = QString::fromStdString(a.font->family.empty() ? (a.font->monospace ? monospacedFontFamily : systemFontFamily) : a.font->family);
        writeEmpty(w, "w:rFonts", {{"w:ascii", family}, {"w:hAnsi", family}, {"w:cs", family}});
        if (a.font->bold) w.writeEmptyElement("w:b");
        if (a.font->italic) w.writeEmptyElement("w:i");
    }
    if (a.foreground) {
        writeEmpty(w, "w:color", {{"w:val", hex2(a.foreground->red) + hex2(a.foreground->green) + hex2(a.foreground->blue)}});
    }
    if (a.font) {
        QString half = QString::number(std::max(2L, std::lround(a.font->pointSize * 2)));
        writeEmpty(w, "w:sz", {{"w:val", half}});
        writeEmpty(w, "w:szCs", {{"w:val", half}});
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
                writeEmpty(w, "w:br", {{"w:type", "page"}});
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
    writeEmpty(w, "w:tblW", {{"w:w", "5000"}, {"w:type", "pct"}});
    w.writeStartElement("w:tblBorders");
    for (auto side : {"w:top", "w:left", "w:bottom", "w:right", "w:insideH", "w:insideV"})
        writeEmpty(w, side, {{"w:val", "single"}, {"w:sz", "4"}, {"w:space", "0"}, {"w:color", "000000"}});
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement("w:tblGrid");
    for (int c = 0; c < columns; ++c) writeEmpty(w, "w:gridCol", {{"w:w", QString::number(9360 / std::max(columns, 1))}});
    w.writeEndElement();
}

// An inline picture in a run of its own; its bytes go into word/media under the given id.
void writePicture(QXmlStreamWriter& w, const Picture& picture, const QString& id, int number) {
    // The size in EMU, 12700 to the point.
    const XMLAttributes extent{{"cx", QString::number(std::llround(picture.width * 12700))},
                               {"cy", QString::number(std::llround(picture.height * 12700))}};
    const XMLAttributes identity{{"id", QString::number(number)}, {"name", QString("Picture %1").arg(number)}};
    w.writeStartElement("w:r");
    w.writeStartElement("w:drawing");
    w.writeStartElement("wp:inline");
    writeEmpty(w, "wp:extent", extent);
    writeEmpty(w, "wp:docPr", identity);
    w.writeStartElement("a:graphic");
    w.writeStartElement("a:graphicData");
    w.writeAttribute("uri", pictureNamespace);
    w.writeStartElement("pic:pic");
    w.writeStartElement("pic:nvPicPr");
    writeEmpty(w, "pic:cNvPr", identity);
    w.writeEmptyElement("pic:cNvPicPr");
    w.writeEndElement();
    w.writeStartElement("pic:blipFill");
    writeEmpty(w, "a:blip", {{"r:embed", id}});
    w.writeStartElement("a:stretch");
    w.writeEmptyElement("a:fillRect");
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement("pic:spPr");
    w.writeStartElement("a:xfrm");
    writeEmpty(w, "a:off", {{"x", "0"}, {"y", "0"}});
    writeEmpty(w, "a:ext", extent);
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

// What word/document.xml holds and refers to, which the rest of the package must carry.
struct DocumentPart {
    QByteArray xml;
    bool numbered = false;
    std::vector<std::shared_ptr<const Picture>> pictures;
    std::vector<std::pair<QString, std::string>> links;  // relationship id, target
};

// Characters XML cannot hold are dropped run by run, so that the runs stay aligned; form feeds
// stay, to be written as page breaks.
AttributedString withoutXMLForbiddenCharacters(const AttributedString& text) {
    AttributedString clean;
    for (const Run& run : text.runs()) {
        QStringList pieces = text.characters().mid(run.location, run.length).split(QChar('\f'));
        for (QString& piece : pieces) piece = removingXMLForbiddenCharacters(piece);
        clean.append(pieces.join(QChar('\f')), run.attributes);
    }
    for (int p = 0; p < text.paragraphCount(); ++p)
        if (const Block* b = text.block(p)) clean.setBlock(p, *b);
    return clean;
}

void writeDocumentStart(QXmlStreamWriter& w) {
    w.writeStartDocument("1.0", true);
    w.writeStartElement("w:document");
    w.writeNamespace(wordNamespace, "w");
    w.writeNamespace(relationshipsNamespace, "r");
    w.writeNamespace(drawingNamespace, "wp");
    w.writeNamespace(drawingMainNamespace, "a");
    w.writeNamespace(pictureNamespace, "pic");
    w.writeStartElement("w:body");
}

// Letter paper with inch margins.
void writeSectionProperties(QXmlStreamWriter& w) {
    w.writeStartElement("w:sectPr");
    writeEmpty(w, "w:pgSz", {{"w:w", "12240"}, {"w:h", "15840"}});
    writeEmpty(w, "w:pgMar", {{"w:top", "1440"}, {"w:right", "1440"}, {"w:bottom", "1440"}, {"w:left", "1440"},
                              {"w:header", "720"}, {"w:footer", "720"}, {"w:gutter", "0"}});
    w.writeEndElement();
}

// The body, paragraph by paragraph; the rows and cells the text skips are written empty, so
// that every row has all its table's columns.
class DocumentBodyWriter {
public:
    DocumentBodyWriter(QXmlStreamWriter& w, DocumentPart& part, const AttributedString& text)
        : w_(w), part_(part), text_(text), chars_(text.characters()), tables_(tableSizes(text)) {}

    void write() {
        qsizetype start = 0;
        for (int paragraph = 0;; ++paragraph) {
            qsizetype end = chars_.indexOf(QChar('\n'), start);
            if (end < 0) end = chars_.size();
            const Block block = text_.block(paragraph) ? *text_.block(paragraph) : Block{};
            enterTable(block.table);
            if (table_ >= 0) enterCell(block);
            writeParagraph(block, start, end);
            if (end >= chars_.size()) break;
            start = end + 1;
        }
        if (table_ >= 0) {
            closeTable();
            // A document may not end in a table.
            w_.writeEmptyElement("w:p");
        }
    }

private:
    int columns() const { return tables_.at(table_).second; }

    void enterTable(int table) {
        if (table == table_) return;
        if (table_ >= 0) closeTable();
        table_ = table;
        row_ = column_ = -1;
        if (table_ >= 0) writeTableStart(w_, columns());
    }

    void enterCell(const Block& block) {
        if (block.row != row_) {
            closeRow();
            for (++row_; row_ < block.row; ++row_) writeEmptyRow();
            w_.writeStartElement("w:tr");
        }
        if (block.column != column_) {
            closeCell();
            for (++column_; column_ < block.column; ++column_) writeEmptyCell();
            w_.writeStartElement("w:tc");
        }
    }

    void writeEmptyCell() {
        w_.writeStartElement("w:tc");
        w_.writeEmptyElement("w:p");
        w_.writeEndElement();
    }

    void writeEmptyRow() {
        w_.writeStartElement("w:tr");
        for (int c = 0; c < columns(); ++c) writeEmptyCell();
        w_.writeEndElement();
    }

    void closeCell() {
        if (column_ >= 0) w_.writeEndElement();  // w:tc
    }

    void closeRow() {
        if (row_ < 0) return;
        closeCell();
        for (int c = column_ + 1; c < columns(); ++c) writeEmptyCell();
        w_.writeEndElement();  // w:tr
        column_ = -1;
    }

    void closeTable() {
        closeRow();
        w_.writeEndElement();  // w:tbl
    }

    void writeParagraph(const Block& block, qsizetype start, qsizetype end) {
        w_.writeStartElement("w:p");
        int skip = 0;
        if (block.listLevel >= 0) {
            writeListProperties(block);
            // The marker comes from the list definition instead.
            skip = std::min(block.markerLength, static_cast<int>(end - start));
        }
        const int from = static_cast<int>(start) + skip;
        for (const Run& run : text_.runs(from, static_cast<int>(end) - from)) writeRun(run);
        w_.writeEndElement();  // w:p
    }

    void writeListProperties(const Block& block) {
        w_.writeStartElement("w:pPr");
        w_.writeStartElement("w:numPr");
        writeEmpty(w_, "w:ilvl", {{"w:val", QString::number(block.listLevel)}});
        writeEmpty(w_, "w:numId", {{"w:val", block.ordered ? "2" : "1"}});
        w_.writeEndElement();
        w_.writeEndElement();
        part_.numbered = true;
    }

    void writeRun(const Run& run) {
        QString segment = chars_.mid(run.location, run.length);
        segment.remove(QChar('\r'));
        if (segment.isEmpty()) return;
        if (run.attributes.picture) {
            for (qsizetype i = 0; i < segment.size(); ++i) addPicture(run.attributes.picture);
            return;
        }
        const bool linked = run.attributes.link.has_value();
        if (linked) startHyperlink(run.attributes.link->value);
        w_.writeStartElement("w:r");
        writeRunProperties(w_, run.attributes);
        writeRunText(w_, segment);
        w_.writeEndElement();
        if (linked) w_.writeEndElement();  // w:hyperlink
    }

    void addPicture(const std::shared_ptr<const Picture>& picture) {
        QString id = QString("rId%1").arg(1000 + part_.pictures.size());
        writePicture(w_, *picture, id, static_cast<int>(part_.pictures.size()) + 1);
        part_.pictures.push_back(picture);
    }

    // Runs linking to the same target share its relationship.
    void startHyperlink(const std::string& target) {
        auto [it, added] = linkIds_.try_emplace(target, QString("rId%1").arg(100 + linkIds_.size()));
        if (added) part_.links.emplace_back(it->second, it->first);
        w_.writeStartElement("w:hyperlink");
        w_.writeAttribute("r:id", it->second);
    }

    QXmlStreamWriter& w_;
    DocumentPart& part_;
    const AttributedString& text_;
    const QString& chars_;
    const std::map<int, std::pair<int, int>> tables_;
    std::map<std::string, QString> linkIds_;
    int table_ = -1, row_ = -1, column_ = -1;
};

DocumentPart documentPart(const AttributedString& text) {
    DocumentPart part;
    const AttributedString clean = withoutXMLForbiddenCharacters(text);
    {
        QXmlStreamWriter w(&part.xml);
        writeDocumentStart(w);
        DocumentBodyWriter(w, part, clean).write();
        writeSectionProperties(w);
        w.writeEndElement();  // w:body
        w.writeEndElement();  // w:document
        w.writeEndDocument();
    }
    return part;
}

// word/_rels/document.xml.rels: the styles, the numbering where lists use it, each picture and
// each link target.
QByteArray documentRelationships(const DocumentPart& part) {
    QByteArray rels;
    {
        QXmlStreamWriter w(&rels);
        w.writeStartDocument("1.0", true);
        w.writeStartElement("Relationships");
        w.writeDefaultNamespace("http://schemas.openxmlformats.org/package/2006/relationships");
        auto relationship = [&](const QString& id, const QString& type, const QString& target) {
            writeEmpty(w, "Relationship", {{"Id", id}, {"Type", type}, {"Target", target}});
        };
        relationship("rId1", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles", "styles.xml");
        if (part.numbered) relationship("rId2", numberingType, "numbering.xml");
        for (size_t i = 0; i < part.pictures.size(); ++i)
            relationship(QString("rId%1").arg(1000 + i), imageType, QString::fromStdString("media/" + pictureName(*part.pictures[i], i)));
        for (const auto& [id, target] : part.links)
            writeEmpty(w, "Relationship", {{"Id", id}, {"Type", hyperlinkType},
                                           {"Target", removingXMLForbiddenCharacters(QString::fromStdString(target))},
                                           {"TargetMode", "External"}});
        w.writeEndElement();
        w.writeEndDocument();
    }
    return rels;
}

std::vector<zip::ZipEntry> packageEntries(const DocumentPart& part) {
    auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    auto qbytes = [](const QByteArray& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::vector<zip::ZipEntry> entries;
    entries.push_back({"[Content_Types].xml", bytes(contentTypes(part.numbered))});
    entries.push_back({"_rels/.rels", bytes(packageRelationships)});
    entries.push_back({"word/document.xml", qbytes(part.xml)});
    entries.push_back({"word/_rels/document.xml.rels", qbytes(documentRelationships(part))});
    entries.push_back({"word/styles.xml", bytes(styles())});
    if (part.numbered) entries.push_back({"word/numbering.xml", bytes(numberingPart())});
    for (size_t i = 0; i < part.pictures.size(); ++i)
        entries.push_back({"word/media/" + pictureName(*part.pictures[i], i), part.pictures[i]->bytes});
    return entries;
}

}  // namespace

std::vector<uint8_t> writeDOCX(const AttributedString& text) { return zip::writeZIP(packageEntries(documentPart(text))); }

}  // namespace calvoro::text
