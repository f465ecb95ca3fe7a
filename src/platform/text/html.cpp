#include "platform/text/html.h"

#include <QFont>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <cmath>
#include <map>

#include "core/conversion_error.h"
#include "platform/qt/main_thread.h"

namespace calvoro::text {

namespace {

const char* readerStyleSheet =
    "body{font-size:12pt}"
    "h1{font-size:24pt;font-weight:bold}"
    "h2{font-size:18pt;font-weight:bold}"
    "h3{font-size:14.04pt;font-weight:bold}"
    "code,pre,tt{font-family:monospace}";

bool isMonospacedFamily(const QString& family) {
    QString f = family.toLower();
    return f == "monospace" || f.contains("mono") || f.contains("courier") || f.contains("consolas") || f.contains("menlo") ||
           f.contains("monaco") || f == "fixed";
}

Attributes attributesOf(const QTextCharFormat& format, const QFont& defaultFont) {
    Font font;
    font.pointSize = format.fontPointSize() > 0 ? format.fontPointSize() : defaultFont.pointSizeF();
    font.bold = format.fontWeight() > QFont::Medium;
    font.italic = format.fontItalic();
    QStringList families = format.fontFamilies().toStringList();
    if (families.isEmpty()) families = defaultFont.families();
    if (!families.isEmpty()) font.family = families.front().toStdString();
    font.monospace = format.fontFixedPitch();
    for (const auto& f : families) font.monospace = font.monospace || isMonospacedFamily(f);
    Attributes a;
    a.font = font;
    if (format.foreground().style() != Qt::NoBrush) {
        QColor c = format.foreground().color();
        a.foreground = Color{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()), uint8_t(c.alpha())};
    }
    if (format.isAnchor() && !format.anchorHref().isEmpty()) {
        QUrl url(format.anchorHref());
        if (url.isValid()) a.link = Link{Link::Kind::url, url.toString(QUrl::FullyEncoded).toStdString()};
        else a.link = Link{Link::Kind::string, format.anchorHref().toStdString()};
    }
    return a;
}

QString cleaned(QString s) {
    // Line separators from <br> become line feeds; object placeholders (images) carry no text.
    s.replace(QChar(0x2028), QChar('\n'));
    s.replace(QChar(0x2029), QChar('\n'));
    s.remove(QChar(0xFFFC));
    return s;
}

}  // namespace

void applyReaderDefaults(QTextDocument& document) {
    QFont font(QString::fromUtf8(systemFontFamily));
    font.setPointSizeF(12);
    document.setDefaultFont(font);
    document.setDefaultStyleSheet(QString::fromUtf8(readerStyleSheet));
}

namespace {

// A picture named by a data: URL of a PNG or JPEG, or nothing.
std::shared_ptr<const Picture> pictureOf(const QTextImageFormat& format) {
    QString name = format.name();
    if (!name.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) return {};
    qsizetype comma = name.indexOf(',');
    if (comma < 0 || !name.left(comma).endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)) return {};
    QByteArray bytes = QByteArray::fromBase64(name.mid(comma + 1).toLatin1());
    auto picture = std::make_shared<Picture>();
    picture->bytes.assign(bytes.begin(), bytes.end());
    auto type = pictureMimeType(picture->bytes);
    if (!type) return {};
    picture->mimeType = *type;
    // Pixels of the page are 3/4 of a point.
    picture->width = format.width() * 0.75;
    picture->height = format.height() * 0.75;
    completePictureSize(*picture);
    return picture;
}

bool orderedStyle(QTextListFormat::Style style) {
    return style != QTextListFormat::ListDisc && style != QTextListFormat::ListCircle && style != QTextListFormat::ListSquare;
}

}  // namespace

AttributedString fromTextDocument(const QTextDocument& document) {
    AttributedString out;
    QFont defaultFont = document.defaultFont();
    Attributes last;
    bool first = true;
    std::map<const QTextTable*, int> tables;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!first) out.append(QStringLiteral("\n"), last);  // the paragraph end takes its paragraph's look
        first = false;
        last = attributesOf(block.charFormat(), defaultFont);
        Block info;
        if (QTextTable* table = QTextCursor(block).currentTable()) {
            auto [it, added] = tables.try_emplace(table, static_cast<int>(tables.size()));
            QTextTableCell cell = table->cellAt(block.position());
            info.table = it->second;
            info.row = cell.row();
            info.column = cell.column();
        }
        if (QTextList* list = block.textList()) {
            info.listLevel = std::max(list->format().indent() - 1, 0);
            info.ordered = orderedStyle(list->format().style());
            QString prefix = listItemPrefix(info.listLevel, info.ordered, list->itemNumber(block) + 1);
            info.markerLength = static_cast<int>(prefix.size());
            out.append(prefix, last);
        }
        out.setBlock(info);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            last = attributesOf(fragment.charFormat(), defaultFont);
            if (fragment.charFormat().isImageFormat()) {
                if (auto picture = pictureOf(fragment.charFormat().toImageFormat())) {
                    Attributes a = last;
                    a.picture = std::move(picture);
                    out.append(QString(QChar(attachmentCharacter)), a);
                }
                continue;
            }
            out.append(cleaned(fragment.text()), last);
        }
    }
    return out;
}

namespace {

QTextCharFormat charFormatOf(const Attributes& a) {
    QTextCharFormat format;
    if (a.font) {
        format.setFontPointSize(a.font->pointSize);
        format.setFontWeight(a.font->bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(a.font->italic);
        QString family = QString::fromStdString(a.font->family);
        if (family.isEmpty()) family = QString::fromUtf8(a.font->monospace ? monospacedFontFamily : systemFontFamily);
        QStringList families{family};
        if (a.font->monospace && !isMonospacedFamily(family)) families << QStringLiteral("monospace");
        format.setFontFamilies(families);
        format.setFontFixedPitch(a.font->monospace);
    }
    if (a.foreground) format.setForeground(QColor(a.foreground->red, a.foreground->green, a.foreground->blue, a.foreground->alpha));
    if (a.link) {
        format.setAnchor(true);
        format.setAnchorHref(QString::fromStdString(a.link->value));
    }
    return format;
}

// A picture as an image that names itself by a data: URL, so the page stays one file.
QTextImageFormat imageFormatOf(const Picture& picture) {
    QTextImageFormat format;
    QByteArray bytes(reinterpret_cast<const char*>(picture.bytes.data()), static_cast<qsizetype>(picture.bytes.size()));
    format.setName(QStringLiteral("data:") + QString::fromStdString(picture.mimeType) + QStringLiteral(";base64,") +
                   QString::fromLatin1(bytes.toBase64()));
    // CSS pixels are 3/4 of a point; HTML sizes are whole pixels.
    if (picture.width > 0 && picture.height > 0) {
        format.setWidth(std::max(1.0, std::round(picture.width * 4 / 3)));
        format.setHeight(std::max(1.0, std::round(picture.height * 4 / 3)));
    }
    return format;
}

QTextListFormat::Style listStyle(int level, bool ordered) {
    if (ordered) return QTextListFormat::ListDecimal;
    static const QTextListFormat::Style bullets[] = {QTextListFormat::ListDisc, QTextListFormat::ListCircle, QTextListFormat::ListSquare};
    return bullets[level % 3];
}

}  // namespace

void fillTextDocument(const AttributedString& text, QTextDocument& document) {
    QFont font(QString::fromUtf8(systemFontFamily));
    font.setPointSizeF(12);
    document.setDefaultFont(font);
    QTextCursor cursor(&document);
    const QString& chars = text.characters();
    const auto tables = tableSizes(text);
    QTextTable* table = nullptr;
    int tableId = -1;
    std::vector<QTextList*> lists;  // the open list of each level
    bool fresh = true;              // the cursor stands in an empty block that the next paragraph may take
    qsizetype start = 0;
    for (int paragraph = 0;; ++paragraph) {
        qsizetype end = chars.indexOf(QChar('\n'), start);
        if (end < 0) end = chars.size();
        const Block block = text.block(paragraph) ? *text.block(paragraph) : Block{};
        const Attributes* first = text.attributesAt(static_cast<int>(start));
        QTextCharFormat paragraphFormat = first ? charFormatOf(*first) : QTextCharFormat();
        if (block.table != tableId) {
            if (table) {
                cursor.movePosition(QTextCursor::End);
                fresh = true;
            }
            table = nullptr;
            tableId = block.table;
            if (tableId >= 0) {
                QTextTableFormat format;
                format.setBorder(1);
                format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
                format.setBorderCollapse(true);
                format.setCellSpacing(0);
                format.setCellPadding(4);
                auto [rows, columns] = tables.at(tableId);
                table = cursor.insertTable(rows, columns, format);
            }
            lists.clear();
        }
        if (table) {
            QTextTableCell cell = table->cellAt(block.row, block.column);
            bool empty = cell.firstPosition() == cell.lastPosition();
            cursor = cell.lastCursorPosition();
            if (!empty) cursor.insertBlock(QTextBlockFormat(), paragraphFormat);
        } else {
            if (!fresh) cursor.insertBlock(QTextBlockFormat(), paragraphFormat);
            fresh = false;
        }
        cursor.setBlockCharFormat(paragraphFormat);
        int skip = 0;
        if (block.listLevel >= 0) {
            size_t level = static_cast<size_t>(block.listLevel);
            if (lists.size() > level + 1) lists.resize(level + 1);
            if (lists.size() < level + 1) lists.resize(level + 1, nullptr);
            QTextList*& list = lists[level];
            if (list && list->format().style() == listStyle(block.listLevel, block.ordered)) {
                list->add(cursor.block());
            } else {
                QTextListFormat format;
                format.setStyle(listStyle(block.listLevel, block.ordered));
                format.setIndent(block.listLevel + 1);
                list = cursor.createList(format);
            }
            skip = block.markerLength;
        } else if (!table || block.table < 0) {
            lists.clear();
        }
        const int from = static_cast<int>(start) + std::min(skip, static_cast<int>(end - start));
        for (const Run& run : text.runs(from, static_cast<int>(end) - from)) {
            QString piece = chars.mid(run.location, run.length);
            if (run.attributes.picture) {
                for (qsizetype i = 0; i < piece.size(); ++i) cursor.insertImage(imageFormatOf(*run.attributes.picture));
                continue;
            }
            piece.remove(QChar(attachmentCharacter));
            if (!piece.isEmpty()) cursor.insertText(piece, charFormatOf(run.attributes));
        }
        if (end >= chars.size()) break;
        start = end + 1;
    }
}

namespace {

// The writer's tables and lists in the markup of today's HTML: spacing, padding and marker types
// as styles, every cell ruled.
QString withCurrentTableAndListMarkup(QString html) {
    static const QRegularExpression spacing(QStringLiteral(R"re( cell(?:spacing|padding)="[0-9]*")re"));
    static const QRegularExpression listType(QStringLiteral(R"re(<(ul|ol) type="(disc|circle|square)" style=")re"));
    html.remove(spacing);
    html.replace(listType, QStringLiteral(R"(<\1 style="list-style-type:\2; )"));
    html.replace(QStringLiteral("<td>"), QStringLiteral(R"(<td style="border:1px solid #000000; padding:4px;">)"));
    return html;
}

}  // namespace

AttributedString readHTML(std::string_view utf8) {
    QString html = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    AttributedString result;
    qtmain::runOnMain([&] {
        QTextDocument document;
        applyReaderDefaults(document);
        document.setHtml(html);
        result = fromTextDocument(document);
    });
    return result;
}

std::string writeHTML(const AttributedString& text) {
    if (text.paragraphCount() > maxHTMLParagraphs)
        throw ConversionError::corruptFile(tooManyParagraphsMessage);
    std::string html;
    qtmain::runOnMain([&] {
        QTextDocument document;
        fillTextDocument(text, document);
        html = withCurrentTableAndListMarkup(document.toHtml()).toStdString();
    });
    return html;
}

}  // namespace calvoro::text
