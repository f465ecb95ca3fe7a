#include "app/ui/theme/tabular_text.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace calvoro {

namespace {

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Calls piece(text, isDigits) for each run of digits and each run of other characters, in order.
template <typename Piece>
void forEachRun(const QString& text, Piece&& piece) {
    qsizetype start = 0;
    while (start < text.size()) {
        const bool digits = isDigit(text[start]);
        qsizetype end = start + 1;
        while (end < text.size() && isDigit(text[end]) == digits) ++end;
        piece(QStringView(text).mid(start, end - start), digits);
        start = end;
    }
}

}  // namespace

double TabularText::digitCell(const QFont& font) {
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (char c = '0'; c <= '9'; ++c) widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(c)));
    return widest;
}

double TabularText::width(const QFont& font, const QString& text) {
    const QFontMetricsF metrics(font);
    const double cell = digitCell(font);
    double total = 0;
    forEachRun(text, [&](QStringView run, bool digits) {
        total += digits ? cell * static_cast<double>(run.size()) : metrics.horizontalAdvance(run.toString());
    });
    return total;
}

QString TabularText::elided(const QFont& font, const QString& text, double available) {
    if (width(font, text) <= available) return text;
    const QString ellipsis(QChar(0x2026));
    // Sizes and counts are short: trimming a character at a time is cheap enough.
    for (qsizetype keep = text.size() - 1; keep > 0; --keep) {
        const QString candidate = text.left(keep).trimmed() + ellipsis;
        if (width(font, candidate) <= available) return candidate;
    }
    return ellipsis;
}

void TabularText::draw(QPainter& painter, const QRectF& rect, int flags, const QString& text) {
    const QFont font = painter.font();
    const QFontMetricsF metrics(font);
    const double cell = digitCell(font);
    const double total = width(font, text);
    double x = rect.left();
    if (flags & Qt::AlignRight) x = rect.right() - total;
    else if (flags & Qt::AlignHCenter) x = rect.left() + (rect.width() - total) / 2;
    // One baseline for all pieces, placed as drawText places a line in rect.
    double baseline = rect.top() + metrics.ascent();
    if (flags & Qt::AlignVCenter) baseline = rect.top() + (rect.height() - metrics.ascent() - metrics.descent()) / 2 + metrics.ascent();
    else if (flags & Qt::AlignBottom) baseline = rect.bottom() - metrics.descent();
    forEachRun(text, [&](QStringView run, bool digits) {
        if (!digits) {
            const QString piece = run.toString();
            painter.drawText(QPointF(x, baseline), piece);
            x += metrics.horizontalAdvance(piece);
            return;
        }
        for (QChar digit : run) {
            const QString glyph(digit);
            painter.drawText(QPointF(x + (cell - metrics.horizontalAdvance(digit)) / 2, baseline), glyph);
            x += cell;
        }
    });
}

TabularLabel::TabularLabel(QWidget* parent) : QWidget(parent) {}

void TabularLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    updateGeometry();
    update();
}

void TabularLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

QSize TabularLabel::sizeHint() const {
    return {static_cast<int>(std::ceil(TabularText::width(font(), text_))), static_cast<int>(std::ceil(QFontMetricsF(font()).height()))};
}

void TabularLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    TabularText::draw(painter, QRectF(rect()), static_cast<int>(alignment_), text_);
}

}  // namespace calvoro
