#include "app/ui/overlays/conversions_info_popover.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>

#include <cmath>

#include "app/ui/controls/close_circle_button.h"
#include "app/ui/overlays/modal_chrome.h"
#include "app/ui/theme/scroll_bar_style.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

constexpr double headerPadH = 16, headerTop = 16, headerBottom = 12;
constexpr double listPadH = 16, listBottom = 16, rowPadH = 12, rowPadV = 11, iconWidth = 16, columnGap = 10;
constexpr double sentenceLineSpacing = 2.5, titleGap = 3;

QFont rowTitleFont() { return Theme::font(12.5, QFont::DemiBold); }
QFont sentenceFont() { return Theme::font(12); }

double headerHeight() {
    return headerTop + std::max(22.0, QFontMetricsF(Theme::cardTitleFont()).height() + 1 + QFontMetricsF(Theme::font(11.5)).height()) +
           headerBottom;
}

// A break after a dot that joins two characters falls inside a name such as "H.264".
bool breaksAName(const QString& text, int end) {
    return end >= 2 && end < text.size() && text[end - 1] == QLatin1Char('.') && text[end - 2].isLetterOrNumber() &&
           text[end].isLetterOrNumber();
}

// The sentence broken into lines at width; each line's text start and length. Codec names stay
// whole: a line that would end inside one ends at the space before it.
std::vector<std::pair<int, int>> wrap(const QString& text, double width) {
    std::vector<std::pair<int, int>> lines;
    QTextLayout layout(text, sentenceFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const int start = line.textStart();
        if (breaksAName(text, start + line.textLength())) {
            const int space = static_cast<int>(text.lastIndexOf(QLatin1Char(' '), start + line.textLength() - 1));
            if (space > start) line.setNumColumns(space + 1 - start);
        }
        lines.emplace_back(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}

// The circle of the header's close button.
QColor closeFill(ColorScheme scheme) { return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.09) : rgbColor(0x000000, 0.11); }

// The card with its header: title and the line under it.
class InfoCard : public ModalChrome {
public:
    explicit InfoCard(QWidget* parent) : ModalChrome(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        ModalChrome::paintEvent(event);
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        const QFont title = Theme::cardTitleFont(), subtitle = Theme::font(11.5);
        const double titleHeight = QFontMetricsF(title).height(), subtitleHeight = QFontMetricsF(subtitle).height();
        const double width = this->width() - 2 * headerPadH - 22 - 10;
        double y = headerTop + (headerHeight() - headerTop - headerBottom - (titleHeight + 1 + subtitleHeight)) / 2;
        painter.setFont(title);
        painter.setPen(Theme::textPrimary(scheme));
        painter.drawText(QRectF(headerPadH, y, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("What converts to what"));
        y += titleHeight + 1;
        painter.setFont(subtitle);
        painter.setPen(Theme::textTertiary(scheme));
        painter.drawText(QRectF(headerPadH, y, width, subtitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Every conversion the app can do, on this computer."));
    }
};

}  // namespace

// The rows on their rounded panel, as tall as their wrapped sentences need.
class ConversionsInfoPopover::Rows : public QWidget {
public:
    Rows(const std::vector<Summary>& summaries, QWidget* parent) : QWidget(parent), summaries_(summaries) {}

    double textWidth() const { return width() - 2 * rowPadH - iconWidth - columnGap; }
    double rowHeight(const Summary& summary) const {
        const double lines = static_cast<double>(wrap(summary.sentence, textWidth()).size());
        const double sentence = lines * QFontMetricsF(sentenceFont()).height() + std::max(0.0, lines - 1) * sentenceLineSpacing;
        return 2 * rowPadV + QFontMetricsF(rowTitleFont()).height() + titleGap + sentence;
    }
    int contentHeight() const {
        double total = 0;
        for (const auto& summary : summaries_) total += rowHeight(summary);
        return static_cast<int>(std::ceil(total));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        const bool dark = scheme == ColorScheme::dark;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 10), dark ? QColor(46, 46, 46) : QColor(Qt::white));
        const QFont title = rowTitleFont(), sentence = sentenceFont();
        const double titleHeight = QFontMetricsF(title).height(), lineHeight = QFontMetricsF(sentence).height();
        const double textLeft = rowPadH + iconWidth + columnGap;
        const double hairline = Theme::hairline(this);
        double y = 0;
        for (size_t i = 0; i < summaries_.size(); ++i) {
            const Summary& summary = summaries_[i];
            const double height = rowHeight(summary);
            const double top = y + rowPadV;
            Symbols::paint(painter, QRectF(rowPadH, top + 1, iconWidth, titleHeight), summary.category.icon(), 12, QFont::Medium,
                           Theme::textTertiary(scheme));
            painter.setFont(title);
            painter.setPen(Theme::textPrimary(scheme));
            painter.drawText(QRectF(textLeft, top, textWidth(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::fromStdString(summary.category.rawValue()));
            painter.setFont(sentence);
            painter.setPen(Theme::textSecondary(scheme));
            double lineTop = top + titleHeight + titleGap;
            for (const auto& [start, length] : wrap(summary.sentence, textWidth())) {
                painter.drawText(QRectF(textLeft, lineTop, textWidth() + 4, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                                 summary.sentence.mid(start, length));
                lineTop += lineHeight + sentenceLineSpacing;
            }
            y += height;
            if (i + 1 < summaries_.size())
                painter.fillRect(QRectF(38, y - hairline, width() - 38, hairline), Theme::separator(scheme));
        }
    }

private:
    const std::vector<Summary>& summaries_;
};

QStringList ConversionsInfoPopover::sentenceLines(const QString& sentence, double width) {
    QStringList lines;
    for (const auto& [start, length] : wrap(sentence, width)) lines << sentence.mid(start, length);
    return lines;
}

ConversionsInfoPopover::ConversionsInfoPopover(std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent),
      onDismiss_(std::move(onDismiss)),
      summaries_{
          {Uuid(), FileCategory::image,
           QStringLiteral("PNG, JPEG, TIFF, BMP, HEIC, AVIF, ICO, GIF, PSD, TGA, JPEG 2000, and ICNS all interconvert, and any "
                          "can become a PDF or SVG. Animated GIFs can also become video. Camera RAW, JPEG XL, WebP, and HEIF "
                          "can be opened.")},
          {Uuid(), FileCategory::video,
           QStringLiteral("MP4, MOV, and M4V all interconvert, and any video can become an animated GIF or have its audio "
                          "saved as M4A. AVI can be opened when it uses a codec this system can decode (like MJPEG or H.264).")},
          {Uuid(), FileCategory::audio,
           QStringLiteral("AAC, M4A, ALAC, WAV, AIFF, and FLAC all interconvert. MP3 can be opened and converted, but not "
                          "saved to.")},
          {Uuid(), FileCategory::document,
           QStringLiteral("TXT, Markdown, HTML, RTF, and DOCX all interconvert, and any can become a PDF or EPUB. PDFs also "
                          "export to text, to per-page PNG or JPEG, or split into one PDF per page. CSV, TSV, and JSON "
                          "interconvert and can become a table in HTML, Markdown, or PDF. SRT and WebVTT subtitles "
                          "interconvert.")},
          {Uuid(), FileCategory::archive, QStringLiteral("ZIP, TAR, GZIP, XZ, and BZIP2 all interconvert.")},
          {Uuid(), FileCategory::font,
           QStringLiteral("TTF and OTF convert to the web formats WOFF and WOFF2, and back again. Outlines are preserved "
                          "exactly; TTF and OTF are not interconverted, since that means rebuilding the glyph curves.")},
      },
      card_(new InfoCard(this)),
      close_(new CloseCircleButton(22, closeFill, card_)),
      scroll_(new QScrollArea(card_)) {
    card_->setFixedSize(cardWidth, cardHeight);
    connect(static_cast<QAbstractButton*>(close_), &QAbstractButton::clicked, this, [this] {
        if (onDismiss_) onDismiss_();
    });
    auto* rows = new Rows(summaries_, scroll_);
    scroll_->setWidget(rows);
    scroll_->setWidgetResizable(false);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setAutoFillBackground(false);
    const double top = headerHeight();
    scroll_->setGeometry(QRectF(listPadH, top, cardWidth - 2 * listPadH, cardHeight - top - listBottom).toRect());
    rows->setFixedWidth(scroll_->width());
    rows->setFixedHeight(rows->contentHeight());
    // With a scroll bar the rows narrow to leave it room, and grow taller.
    if (rows->height() > scroll_->height()) {
        rows->setFixedWidth(scroll_->width() - 10);
        rows->setFixedHeight(rows->contentHeight());
    }
    close_->move(cardWidth - static_cast<int>(headerPadH) - close_->width(),
                 static_cast<int>(headerTop + (top - headerTop - headerBottom - close_->height()) / 2));
    styleScrollBar(scroll_->verticalScrollBar(), Theme::scheme(this));
}

void ConversionsInfoPopover::resizeEvent(QResizeEvent*) {
    card_->move((width() - cardWidth) / 2, (height() - cardHeight) / 2);
}

void ConversionsInfoPopover::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) styleScrollBar(scroll_->verticalScrollBar(), Theme::scheme(this));
    QWidget::changeEvent(event);
}

// The veil takes every click, so that nothing below it reacts.
void ConversionsInfoPopover::mousePressEvent(QMouseEvent* event) { event->accept(); }

void ConversionsInfoPopover::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !card_->geometry().contains(event->position().toPoint()) && onDismiss_) onDismiss_();
}

void ConversionsInfoPopover::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.fillRect(rect(), rgbColor(0x000000, scheme == ColorScheme::dark ? 0.78 : 0.55));
}

}  // namespace calvoro
