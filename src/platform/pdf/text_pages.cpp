#include "platform/pdf/text_pages.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <algorithm>
#include <system_error>

#include <fcntl.h>

#include "core/file_writing.h"
#include "core/font_families.h"
#include "platform/pdf/text_layer.h"

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

struct SourceParagraph {
    std::u16string text;
    int pageBreaksBefore = 0;
};

bool isLineEnd(char16_t c) { return c == u'\n' || c == u'\r' || c == 0x2029; }

// Paragraphs end at line feeds, carriage returns (alone or before a line feed) and
// paragraph separators; a final separator opens no further, empty, line. A form feed ends its
// line too, with the line end that follows it, and the next paragraph starts a new page.
std::vector<SourceParagraph> splitParagraphs(const QString& text) {
    std::vector<SourceParagraph> out;
    SourceParagraph current;
    int pendingBreaks = 0;
    bool open = false;
    auto finish = [&] {
        current.pageBreaksBefore = pendingBreaks;
        pendingBreaks = 0;
        out.push_back(std::move(current));
        current = SourceParagraph{};
        open = false;
    };
    auto skipLineEnd = [&](qsizetype& i) {
        if (text.at(i) == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\f') {
            if (open) finish();
            ++pendingBreaks;
            if (i + 1 < text.size() && isLineEnd(text.at(i + 1).unicode())) skipLineEnd(++i);
            continue;
        }
        open = true;
        if (isLineEnd(c)) {
            skipLineEnd(i);
            finish();
        } else {
            current.text.push_back(c);
        }
    }
    if (open) finish();
    return out;
}

struct ParagraphLayout {
    ParagraphLayout(const QString& text, const QFont& font, double width, bool rightToLeft) : layout(text, font) {
        QTextOption option;
        // A block cut from a long paragraph keeps the paragraph's direction.
        option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
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

// Cuts a long paragraph into blocks of whole lines. Each window of text is laid out, and all its
// lines but the last two are kept: those may depend on text past the window. A block of whole
// lines lays out alone into the same lines, so drawing it later costs no more than this did.
void cutIntoBlocks(const std::u16string& paragraph, bool rightToLeft, const QFont& font, double width, int window,
                   std::vector<std::u16string>& blocks) {
    size_t start = 0;
    size_t length = static_cast<size_t>(std::max(window, 64));
    while (paragraph.size() - start > length) {
        const std::u16string piece = paragraph.substr(start, length);
        ParagraphLayout layout(toQString(piece), font, width, rightToLeft);
        const int lines = layout.layout.lineCount();
        const qsizetype cut = lines > 2 ? layout.layout.lineAt(lines - 2).textStart() : 0;
        if (cut <= 0) {
            // Lines longer than the window (zero-width characters): take a larger one.
            length *= 2;
            continue;
        }
        blocks.push_back(paragraph.substr(start, static_cast<size_t>(cut)));
        start += static_cast<size_t>(cut);
    }
    blocks.push_back(paragraph.substr(start));
}

}  // namespace

std::optional<TextPages> TextPages::layOut(const std::string& text, const Setup& setup) {
    TextPages result;
    result.setup_ = setup;
    const QFont font = monospacedFont(setup.fontSize);
    const double width = setup.pageWidth - 2 * setup.margin;
    const double height = setup.pageHeight - 2 * setup.margin;
    double y = 0;
    auto newPage = [&] {
        // The text goes on past the last container allowed.
        if (static_cast<int>(result.pages_.size()) >= setup.pageLimit) return false;
        result.pages_.push_back(Page{result.lines_.size(), 0});
        y = 0;
        return true;
    };
    for (SourceParagraph& paragraph : splitParagraphs(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())))) {
        // A form feed before the first line has no page to end.
        if (!result.pages_.empty())
            for (int b = 0; b < paragraph.pageBreaksBefore; ++b)
                if (!newPage()) return std::nullopt;
        const bool rightToLeft = toQString(paragraph.text).isRightToLeft();
        std::vector<std::u16string> blocks;
        if (paragraph.text.size() > static_cast<size_t>(std::max(setup.layoutWindow, 64)))
            cutIntoBlocks(paragraph.text, rightToLeft, font, width, setup.layoutWindow, blocks);
        else
            blocks.push_back(std::move(paragraph.text));
        for (std::u16string& block : blocks) {
            const int index = static_cast<int>(result.paragraphs_.size());
            result.paragraphs_.push_back(Block{std::move(block), rightToLeft});
            ParagraphLayout layout(toQString(result.paragraphs_.back().text), font, width, rightToLeft);
            for (int k = 0; k < layout.layout.lineCount(); ++k) {
                const double lineHeight = layout.layout.lineAt(k).height();
                if (result.pages_.empty() || (y + lineHeight > height && result.pages_.back().lineCount > 0))
                    if (!newPage()) return std::nullopt;
                result.lines_.push_back(Line{index, k, y});
                ++result.pages_.back().lineCount;
                y += lineHeight;
            }
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
                        const Block& block = paragraphs_[static_cast<size_t>(line.paragraph)];
                        current = std::make_unique<ParagraphLayout>(toQString(block.text), font,
                                                                    setup_.pageWidth - 2 * setup_.margin, block.rightToLeft);
                        currentIndex = line.paragraph;
                    }
                    current->layout.lineAt(line.index).draw(&painter, QPointF(setup_.margin, setup_.margin + line.y));
                }
            }
            ok = painter.end();
        }
    }
    std::optional<std::string> bytes;
    if (ok) bytes = withSourceCharacters(buffer.data().toStdString());
    // By its bytes: a QString would not name a file whose name is not UTF-8.
    ok = bytes && files::writeAll(path, bytes->data(), bytes->size(), O_CREAT | O_TRUNC);
    if (!ok && !existed) std::filesystem::remove(path, ec);
    return ok;
}

}  // namespace calvoro::pdf
