#include "platform/pdf/text_pages.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <system_error>

#include <fcntl.h>

#include "core/file_writing.h"
#include "core/font_families.h"

namespace calvoro::pdf {
namespace {

// Named exactly: "the system's monospaced font" of fontconfig differs from machine to machine,
// and with it the lines on a page and the page count.
QFont monospacedFont(double size) {
    QFont font(QString::fromUtf8(fonts::monospace));
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    // Pixels of a 72 dpi device are points, the unit of the layout and of the PDF.
    font.setPixelSize(static_cast<int>(size));
    font.setKerning(false);
    return font;
}

QString toQString(const std::u16string& text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

// Paragraphs end at line feeds, carriage returns (alone or before a line feed) and
// paragraph separators; a final separator opens no further, empty, line.
std::vector<std::u16string> splitParagraphs(const QString& text) {
    std::vector<std::u16string> out;
    std::u16string current;
    bool open = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        open = true;
        if (c == u'\n' || c == u'\r' || c == 0x2029) {
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
            out.push_back(std::move(current));
            current.clear();
            open = false;
        } else {
            current.push_back(c);
        }
    }
    if (open) out.push_back(std::move(current));
    return out;
}

struct ParagraphLayout {
    explicit ParagraphLayout(const QString& text, const QFont& font, double width) : layout(text, font) {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        // Tabs every eight columns keep columns of a monospaced text aligned.
        option.setTabStopDistance(8 * QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')));
        layout.setTextOption(option);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLeadingIncluded(true);
            line.setLineWidth(width);
            line.setPosition(QPointF(0, 0));
        }
        layout.endLayout();
    }
    QTextLayout layout;
};

}  // namespace

std::optional<TextPages> TextPages::layOut(const std::string& text, const Setup& setup) {
    TextPages result;
    result.setup_ = setup;
    result.paragraphs_ = splitParagraphs(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    const QFont font = monospacedFont(setup.fontSize);
    const double width = setup.pageWidth - 2 * setup.margin;
    const double height = setup.pageHeight - 2 * setup.margin;
    double y = 0;
    for (size_t p = 0; p < result.paragraphs_.size(); ++p) {
        ParagraphLayout paragraph(toQString(result.paragraphs_[p]), font, width);
        for (int k = 0; k < paragraph.layout.lineCount(); ++k) {
            const double lineHeight = paragraph.layout.lineAt(k).height();
            if (result.pages_.empty() || (y + lineHeight > height && result.pages_.back().lineCount > 0)) {
                // The text goes on past the last container allowed.
                if (static_cast<int>(result.pages_.size()) >= setup.pageLimit) return std::nullopt;
                result.pages_.push_back(Page{result.lines_.size(), 0});
                y = 0;
            }
            result.lines_.push_back(Line{static_cast<int>(p), k, y});
            ++result.pages_.back().lineCount;
            y += lineHeight;
        }
    }
    return result;
}

int TextPages::linesOnPage(int page) const {
    if (page < 0 || page >= pageCount()) return 0;
    return static_cast<int>(pages_[static_cast<size_t>(page)].lineCount);
}

bool TextPages::writePDF(const std::filesystem::path& path) const {
    std::error_code ec;
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    bool ok = false;
    // Drawn into memory and then written out, so that a failed write is noticed.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageLayout(QPageLayout(QPageSize(QSizeF(setup_.pageWidth, setup_.pageHeight), QPageSize::Point),
                                         QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        QPainter painter;
        if (painter.begin(&writer)) {
            const QFont font = monospacedFont(setup_.fontSize);
            const QRectF page(0, 0, setup_.pageWidth, setup_.pageHeight);
            std::unique_ptr<ParagraphLayout> current;
            int currentIndex = -1;
            for (size_t n = 0; n < pages_.size() || (n == 0 && pages_.empty()); ++n) {
                if (n > 0) writer.newPage();
                painter.fillRect(page, Qt::white);
                if (pages_.empty()) break;
                painter.setPen(Qt::black);
                painter.setFont(font);
                const Page& pg = pages_[n];
                for (size_t i = pg.firstLine; i < pg.firstLine + pg.lineCount; ++i) {
                    const Line& line = lines_[i];
                    if (line.paragraph != currentIndex) {
                        current = std::make_unique<ParagraphLayout>(
                            toQString(paragraphs_[static_cast<size_t>(line.paragraph)]), font,
                            setup_.pageWidth - 2 * setup_.margin);
                        currentIndex = line.paragraph;
                    }
                    current->layout.lineAt(line.index).draw(&painter, QPointF(setup_.margin, setup_.margin + line.y));
                }
            }
            ok = painter.end();
        }
    }
    if (ok) {
        // By its bytes: a QString would not name a file whose name is not UTF-8.
        const QByteArray& bytes = buffer.data();
        ok = files::writeAll(path, bytes.constData(), static_cast<size_t>(bytes.size()), O_CREAT | O_TRUNC);
    }
    if (!ok && !existed) std::filesystem::remove(path, ec);
    return ok;
}

}  // namespace calvoro::pdf
