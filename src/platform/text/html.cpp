#include "platform/text/html.h"

#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>

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

AttributedString fromTextDocument(const QTextDocument& document) {
    AttributedString out;
    QFont defaultFont = document.defaultFont();
    Attributes last;
    bool first = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!first) out.append(QStringLiteral("\n"), last);  // the paragraph end takes its paragraph's look
        first = false;
        last = attributesOf(block.charFormat(), defaultFont);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            last = attributesOf(fragment.charFormat(), defaultFont);
            out.append(cleaned(fragment.text()), last);
        }
    }
    return out;
}

void fillTextDocument(const AttributedString& text, QTextDocument& document) {
    QFont font(QString::fromUtf8(systemFontFamily));
    font.setPointSizeF(12);
    document.setDefaultFont(font);
    QTextCursor cursor(&document);
    const QString& chars = text.characters();
    for (const Run& run : text.runs()) {
        QTextCharFormat format;
        const Attributes& a = run.attributes;
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
        QString piece = chars.mid(run.location, run.length);
        qsizetype start = 0;
        for (qsizetype i = 0; i <= piece.size(); ++i) {
            if (i == piece.size() || piece[i] == QChar('\n')) {
                if (i > start) cursor.insertText(piece.mid(start, i - start), format);
                if (i < piece.size()) cursor.insertBlock(QTextBlockFormat(), format);
                start = i + 1;
            }
        }
    }
}

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
    std::string html;
    qtmain::runOnMain([&] {
        QTextDocument document;
        fillTextDocument(text, document);
        html = document.toHtml().toStdString();
    });
    return html;
}

}  // namespace calvoro::text
