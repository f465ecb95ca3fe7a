#include "platform/text/docx.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/text/docx_styles.h"
#include "platform/zip/zip_archive.h"

namespace calvoro::text {

using namespace docx;

namespace {

std::string romanNumeral(int n) {
    static const std::pair<int, const char*> steps[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"},
                                                        {50, "l"},   {40, "xl"},  {10, "x"},  {9, "ix"},   {5, "v"},   {4, "iv"}, {1, "i"}};
    std::string out;
    for (const auto& [value, text] : steps)
        while (n >= value) {
            out += text;
            n -= value;
        }
    return out;
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

// Whether this reader knows every namespace a markup-compatibility Choice requires: those whose
// content it reads by the same element names as the main markup. Ink and newer charts are not
// among them, and their Fallback is read instead.
bool understoodRequirement(const QString& required) {
    static const QStringList known{"w", "wp", "a", "pic", "r", "m", "v", "o", "w10", "wps", "wpg", "wpc", "wp14", "a14",
                                   "w14", "w15", "w16", "w16se", "w16cid", "w16cex", "w16sdtdh"};
    const QStringList prefixes = required.split(' ', Qt::SkipEmptyParts);
    return !prefixes.isEmpty() && std::all_of(prefixes.begin(), prefixes.end(), [](const QString& p) { return known.contains(p); });
}

// The bytes of a part named by a relationship id of the part being read.
using PartLoader = std::function<std::vector<uint8_t>(const std::string& relationshipId)>;

// Footnotes and endnotes by id, each read as rich text of its own.
using Notes = std::map<std::string, AttributedString>;

// The walk below takes one call per level of elements; Word nests a few dozen at most.
constexpr int maxNesting = 512;

// One level of the walk, refused past the bound before it is entered.
class Level {
public:
    explicit Level(int& depth) : depth_(depth) {
        if (depth_ >= maxNesting) throw ConversionError::corruptFile("The DOCX document nests too deeply");
        ++depth_;
    }
    ~Level() { --depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

private:
    int& depth_;
};

class BodyReader {
public:
    BodyReader(const Styles& styles, const Numbering& numbering, const std::map<std::string, std::string>& rels, PartLoader loader)
        : styles_(styles), numbering_(numbering), rels_(rels), loader_(std::move(loader)) {}

    // The document body, then the notes it refers to in the order of their first reference,
    // each after its reference mark.
    AttributedString read(const QByteArray& xml, const Notes& footnotes = {}, const Notes& endnotes = {}) {
        footnotes_ = &footnotes;
        endnotes_ = &endnotes;
        QXmlStreamReader r(xml);
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == QLatin1String("body")) {
                element(r);
            }
        }
        if (r.hasError()) fail();
        appendNotes(footnoteOrder_, footnotes);
        appendNotes(endnoteOrder_, endnotes);
        return std::move(out_);
    }

    // Every note element (footnote or endnote) of a notes part.
    Notes readNotes(const QByteArray& xml, const char* elementName) {
        Notes notes;
        if (xml.isEmpty()) return notes;
        QXmlStreamReader r(xml);
        while (!r.atEnd()) {
            r.readNext();
            if (!r.isStartElement() || r.name() != QLatin1String(elementName)) continue;
            std::string id = attribute(r, "id").toStdString();
            out_ = AttributedString();
            paragraphs_ = 0;
            element(r);
            notes[id] = std::move(out_);
        }
        if (r.hasError()) fail();
        return notes;
    }

private:
    void appendNotes(const std::vector<std::pair<std::string, std::string>>& order, const Notes& notes) {
        for (const auto& [id, mark] : order) {
            auto it = notes.find(id);
            if (it == notes.end()) continue;
            const AttributedString& note = it->second;
            // The note's own leading blanks give way to the one after its mark.
            int start = 0;
            while (start < note.length() && (note.characters()[start] == ' ' || note.characters()[start] == '\t')) ++start;
            Attributes a = start < note.length() ? *note.attributesAt(start) : lastAttributes_;
            a.link.reset();
            a.picture.reset();
            out_.append(QStringLiteral("\n"), lastAttributes_);
            out_.append(QString::fromStdString(mark) + QLatin1Char(' '), a);
            for (const Run& run : note.runs(start, note.length() - start))
                out_.append(note.characters().mid(run.location, run.length), run.attributes);
            lastAttributes_ = a;
        }
    }

    // Tables, rows and cells: paragraphs inside a cell of an outermost table are marked with it.
    void table(QXmlStreamReader& r) {
        if (tableDepth_++ == 0) {
            currentTable_ = tables_++;
            row_ = -1;
        }
        element(r);
        if (--tableDepth_ == 0) currentTable_ = -1;
    }

    // Walks the children of the current element.
    void element(QXmlStreamReader& r) {
        while (r.readNextStartElement()) child(r);
    }

    // One child element, already started.
    void child(QXmlStreamReader& r) {
        const Level level(depth_);
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
        } else if (n == QLatin1String("tbl")) {
            table(r);
        } else if (n == QLatin1String("tr") && tableDepth_ == 1) {
            ++row_;
            column_ = -1;
            element(r);
        } else if (n == QLatin1String("tc") && tableDepth_ == 1) {
            ++column_;
            element(r);
        } else if (n == QLatin1String("AlternateContent")) {
            alternateContent(r, [&] { element(r); });
        } else if (n == QLatin1String("del") || n == QLatin1String("drawing") || n == QLatin1String("pict") ||
                   n == QLatin1String("object") || n == QLatin1String("sectPr") ||
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
        std::vector<AttributedString> boxes;
        std::vector<AttributedString>* outerBoxes = std::exchange(boxes_, &boxes);
        std::string saved = paragraphStyle_;
        paragraphStyle_ = styles_.defaultParagraph;
        const int first = out_.paragraphCount() - 1;
        Block block;
        if (tableDepth_ > 0) {
            block.table = currentTable_;
            block.row = std::max(row_, 0);
            block.column = std::max(column_, 0);
        }
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("pPr")) paragraphProperties(r, block);
            else child(r);
        }
        // Line breaks split the paragraph: every piece stays in the cell, the marker is the first's.
        out_.setBlock(first, block);
        Block rest = block;
        rest.listLevel = -1;
        rest.markerLength = 0;
        rest.ordered = false;
        for (int i = first + 1; i < out_.paragraphCount(); ++i) out_.setBlock(i, rest);
        paragraphStyle_ = saved;
        boxes_ = outerBoxes;
        for (const AttributedString& box : boxes) appendBox(box, block);
    }

    // The paragraph's style, and the list item its numbering makes of it.
    void paragraphProperties(QXmlStreamReader& r, Block& block) {
        std::string numId;
        int level = 0;
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("numPr")) {
                numberingProperties(r, numId, level);
                continue;
            }
            if (r.name() == QLatin1String("pStyle")) paragraphStyle_ = attribute(r, "val").toStdString();
            r.skipCurrentElement();
        }
        // numId 0 takes a style's numbering away.
        if (!numId.empty() && numId != "0" && numbering_.defines(numId)) listItem(block, numId, level);
    }

    static void numberingProperties(QXmlStreamReader& r, std::string& numId, int& level) {
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("ilvl")) level = std::clamp(attribute(r, "val").toInt(), 0, 8);
            else if (r.name() == QLatin1String("numId")) numId = attribute(r, "val").toStdString();
            r.skipCurrentElement();
        }
    }

    // Writes the item's marker and counts it; a shallower item restarts the deeper counts.
    void listItem(Block& block, const std::string& numId, int level) {
        auto& counts = listCounts_[numId];
        counts.resize(9, 0);
        ++counts[level];
        for (int deeper = level + 1; deeper < 9; ++deeper) counts[deeper] = 0;
        block.listLevel = level;
        block.ordered = numbering_.ordered(numId, level);
        QString prefix = listItemPrefix(level, block.ordered, counts[level]);
        block.markerLength = static_cast<int>(prefix.size());
        emitText(prefix, {}, styles_.defaultCharacter);
    }

    // Markup compatibility: the first Choice this reader understands, else the Fallback, is read by
    // read (which consumes the branch); never more than one, since each repeats the others.
    template <class Read>
    void alternateContent(QXmlStreamReader& r, const Read& read) {
        bool chosen = false;
        while (r.readNextStartElement()) {
            const bool choice = r.name() == QLatin1String("Choice") && understoodRequirement(attribute(r, "Requires"));
            if (!chosen && (choice || r.name() == QLatin1String("Fallback"))) {
                chosen = true;
                read();
            } else {
                r.skipCurrentElement();
            }
        }
    }

    // A text box's paragraphs, read apart and placed after the paragraph that anchors the box.
    void textBox(QXmlStreamReader& r) {
        AttributedString saved = std::exchange(out_, AttributedString());
        const int savedParagraphs = std::exchange(paragraphs_, 0);
        const Attributes savedLast = lastAttributes_;
        const int savedFieldDepth = std::exchange(fieldDepth_, 0);
        const bool savedInResult = std::exchange(inFieldResult_, false);
        element(r);
        AttributedString box = std::exchange(out_, std::move(saved));
        paragraphs_ = savedParagraphs;
        lastAttributes_ = savedLast;
        fieldDepth_ = savedFieldDepth;
        inFieldResult_ = savedInResult;
        if (box.characters().trimmed().isEmpty()) return;
        if (boxes_) boxes_->push_back(std::move(box));
        else appendBox(box, Block{});
    }

    // A box's paragraphs as paragraphs of their own; in a table cell, they stay in the anchor's cell.
    void appendBox(const AttributedString& box, const Block& anchor) {
        if (paragraphs_++ > 0) out_.append(QStringLiteral("\n"), lastAttributes_);
        const int first = out_.paragraphCount() - 1;
        for (const Run& run : box.runs()) out_.append(box.characters().mid(run.location, run.length), run.attributes);
        for (int i = 0; i < box.paragraphCount(); ++i) {
            Block block = box.block(i) ? *box.block(i) : Block{};
            if (block.table < 0 && anchor.table >= 0) {
                block.table = anchor.table;
                block.row = anchor.row;
                block.column = anchor.column;
            }
            out_.setBlock(first + i, block);
        }
    }

    // A picture of a drawing (DrawingML) or a VML shape, read from the part it names; the text
    // boxes it holds are read too.
    void picture(QXmlStreamReader& r, const Properties& direct, const std::string& runStyle) {
        std::string id;
        double width = 0, height = 0;
        int depth = 1;
        auto length = [](const QString& style, const char* key) {
            for (const QString& item : style.split(';')) {
                QString k = item.section(':', 0, 0).trimmed(), v = item.section(':', 1).trimmed();
                if (k != QLatin1String(key)) continue;
                double factor = v.endsWith("in") ? 72 : v.endsWith("cm") ? 72 / 2.54 : v.endsWith("mm") ? 72 / 25.4 : v.endsWith("px") ? 0.75 : 1;
                v.chop(v.endsWith("pt") || v.endsWith("in") || v.endsWith("cm") || v.endsWith("mm") || v.endsWith("px") ? 2 : 0);
                return v.toDouble() * factor;
            }
            return 0.0;
        };
        while (depth > 0 && !r.atEnd()) {
            r.readNext();
            if (r.isEndElement()) {
                --depth;
                continue;
            }
            if (!r.isStartElement()) continue;
            ++depth;
            auto n = r.name();
            if (n == QLatin1String("txbxContent")) {
                textBox(r);
                --depth;
            } else if (n == QLatin1String("extent") && width == 0) {
                width = attribute(r, "cx").toDouble() / 12700;  // EMU
                height = attribute(r, "cy").toDouble() / 12700;
            } else if (n == QLatin1String("shape") && width == 0) {
                QString style = attribute(r, "style");
                width = length(style, "width");
                height = length(style, "height");
            } else if ((n == QLatin1String("blip") || n == QLatin1String("imagedata")) && id.empty()) {
                id = (n == QLatin1String("blip") ? attribute(r, "embed") : attribute(r, "id")).toStdString();
            }
        }
        if (id.empty() || !loader_) return;
        auto picture = std::make_shared<Picture>();
        picture->bytes = loader_(id);
        auto type = pictureMimeType(picture->bytes);
        if (!type) return;
        picture->mimeType = *type;
        picture->width = width;
        picture->height = height;
        completePictureSize(*picture);
        emitText(QString(QChar(attachmentCharacter)), direct, runStyle, std::move(picture));
    }

    void noteReference(QXmlStreamReader& r, bool endnote, const Properties& direct, const std::string& runStyle) {
        std::string id = attribute(r, "id").toStdString();
        r.skipCurrentElement();
        const Notes* notes = endnote ? endnotes_ : footnotes_;
        if (!notes || !notes->count(id)) return;
        auto& order = endnote ? endnoteOrder_ : footnoteOrder_;
        auto it = std::find_if(order.begin(), order.end(), [&](const auto& e) { return e.first == id; });
        if (it == order.end()) {
            int n = static_cast<int>(order.size()) + 1;
            order.emplace_back(id, "[" + (endnote ? romanNumeral(n) : std::to_string(n)) + "]");
            it = order.end() - 1;
        }
        emitText(QString::fromStdString(it->second), direct, runStyle);
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
            } else if (n == QLatin1String("drawing") || n == QLatin1String("pict")) {
                picture(r, direct, runStyle);
            } else if (n == QLatin1String("AlternateContent")) {
                alternateContent(r, [&] {
                    while (r.readNextStartElement()) {
                        if (r.name() == QLatin1String("drawing") || r.name() == QLatin1String("pict")) picture(r, direct, runStyle);
                        else r.skipCurrentElement();
                    }
                });
            } else if (n == QLatin1String("footnoteReference") || n == QLatin1String("endnoteReference")) {
                noteReference(r, n == QLatin1String("endnoteReference"), direct, runStyle);
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

    // The body size against which heading styles are scaled.
    double bodySize() const {
        Properties p = styles_.defaults;
        if (!styles_.defaultParagraph.empty()) p.overlay(styles_.resolved(styles_.defaultParagraph));
        return p.size.value_or(10);
    }

    void emitText(const QString& text, const Properties& direct, const std::string& runStyle, std::shared_ptr<const Picture> picture = {}) {
        if (fieldDepth_ > 0 && !inFieldResult_) return;
        Properties p = styles_.defaults;
        if (!paragraphStyle_.empty()) p.overlay(styles_.resolved(paragraphStyle_));
        // Headings are at least as large as the HTML reader makes h1 to h6 against its body, and bold.
        if (int level = paragraphStyle_.empty() ? 0 : styles_.headingLevel(paragraphStyle_)) {
            static const double scale[] = {2.0, 1.5, 1.17, 1.0, 0.83, 0.67};
            p.size = std::max(p.size.value_or(0), bodySize() * scale[level - 1]);
            p.bold = true;
        }
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
        a.picture = std::move(picture);
        if (!a.picture) lastAttributes_ = a;
        out_.append(text, a);
    }

    const Styles& styles_;
    const Numbering& numbering_;
    const std::map<std::string, std::string>& rels_;
    PartLoader loader_;
    const Notes* footnotes_ = nullptr;
    const Notes* endnotes_ = nullptr;
    std::vector<std::pair<std::string, std::string>> footnoteOrder_, endnoteOrder_;  // id, mark
    std::map<std::string, std::vector<int>> listCounts_;
    int depth_ = 0;  // levels of elements being walked
    int tables_ = 0, tableDepth_ = 0, currentTable_ = -1, row_ = -1, column_ = -1;
    AttributedString out_;
    Attributes lastAttributes_;
    std::string paragraphStyle_;
    std::vector<std::optional<Link>> links_;
    std::vector<QString> fieldInstructions_;
    std::vector<bool> fieldLinkPushed_;
    // The text boxes anchored in the paragraph being read; none outside paragraphs.
    std::vector<AttributedString>* boxes_ = nullptr;
    int fieldDepth_ = 0;
    bool inFieldResult_ = false;
    int paragraphs_ = 0;
};

QByteArray member(const std::vector<zip::ZipMember>& members, const std::string& name) {
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

AttributedString readDOCX(std::span<const uint8_t> bytes, const DOCXLimits& limits) {
    auto members = zip::readZIP(bytes, limits.package, limits.part);
    std::string documentPath = relationshipTarget(member(members, "_rels/.rels"), "/officeDocument");
    documentPath = documentPath.empty() ? "word/document.xml" : joinPath("", documentPath);
    QByteArray document = member(members, documentPath);
    if (document.isEmpty()) fail();
    std::string folder = documentPath.find('/') == std::string::npos ? "" : documentPath.substr(0, documentPath.rfind('/'));
    std::string fileName = documentPath.substr(documentPath.rfind('/') + 1);
    QByteArray rels = member(members, (folder.empty() ? "" : folder + "/") + "_rels/" + fileName + ".rels");
    std::string stylesPath = relationshipTarget(rels, "/styles");
    Styles styles = readStyles(member(members, stylesPath.empty() ? folder + "/styles.xml" : joinPath(folder, stylesPath)));
    std::string numberingPath = relationshipTarget(rels, "/numbering");
    Numbering numbering = numberingPath.empty() ? Numbering{} : readNumbering(member(members, joinPath(folder, numberingPath)));
    // A part's pictures are named by its own relationships, relative to its folder.
    auto loaderFor = [&](const std::map<std::string, std::string>& partRels) -> PartLoader {
        return [&members, &partRels, folder](const std::string& id) {
            auto it = partRels.find(id);
            if (it == partRels.end()) return std::vector<uint8_t>{};
            QByteArray bytes = member(members, joinPath(folder, it->second));
            return std::vector<uint8_t>(bytes.begin(), bytes.end());
        };
    };
    auto notesOf = [&](const char* type, const char* element, std::map<std::string, std::string>& partRels) {
        std::string path = relationshipTarget(rels, type);
        if (path.empty()) return Notes{};
        path = joinPath(folder, path);
        std::string name = path.substr(path.rfind('/') + 1), dir = path.substr(0, path.size() - name.size());
        partRels = readRelationships(member(members, dir + "_rels/" + name + ".rels"));
        return BodyReader(styles, numbering, partRels, loaderFor(partRels)).readNotes(member(members, path), element);
    };
    // The text of the body and its notes ends up in one rich text, which every target multiplies.
    int64_t textBytes = document.size();
    for (const char* type : {"/footnotes", "/endnotes"})
        if (std::string path = relationshipTarget(rels, type); !path.empty()) textBytes += member(members, joinPath(folder, path)).size();
    if (textBytes > limits.part)
        throw ConversionError::corruptFile("The document's text expands to more than " + formatByteCount(limits.part) +
                                           " \u2014 refusing to continue.");
    std::map<std::string, std::string> footnoteRels, endnoteRels;
    Notes footnotes = notesOf("/footnotes", "footnote", footnoteRels);
    Notes endnotes = notesOf("/endnotes", "endnote", endnoteRels);
    auto targets = readRelationships(rels);
    return BodyReader(styles, numbering, targets, loaderFor(targets)).read(document, footnotes, endnotes);
}

}  // namespace calvoro::text
