#include "app/ui/log_panel/log_entry_row.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

constexpr double padH = 6, padV = 3, gap = 8, glyphWidth = 14, categoryWidth = 76;
constexpr int detailLines = 2;

QFont messageFont() { return Theme::monospaceFont(11); }
QFont detailFont() { return Theme::monospaceFont(10.5); }

// 64 points, or what the monospace font needs to show the whole time.
double timeWidth() {
    static const double width = std::max(64.0, std::ceil(QFontMetricsF(messageFont()).horizontalAdvance("00:00:00.000")));
    return width;
}

// The detail wrapped at width, at most two lines; the last one shown is cut with an ellipsis
// when more would follow.
QStringList wrappedDetail(const QString& text, double width) {
    QStringList lines;
    QTextLayout layout(text, detailFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() == detailLines - 1) {
            const QString rest = text.mid(line.textStart());
            lines << QFontMetricsF(detailFont()).elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (lines.isEmpty()) lines << QString();
    return lines;
}

}  // namespace

QString LogEntryRow::glyph(Entry::Level level) {
    switch (level) {
        case Entry::Level::success: return QString::fromUtf8("\u2713");
        case Entry::Level::warning: return QStringLiteral("!");
        case Entry::Level::error: return QString::fromUtf8("\u2715");
        case Entry::Level::info:
        case Entry::Level::debug: break;
    }
    return QString::fromUtf8("\u00B7");
}

QColor LogEntryRow::statusColor(Entry::Level level, ColorScheme scheme) {
    const bool dark = scheme == ColorScheme::dark;
    switch (level) {
        case Entry::Level::success: return dark ? Theme::success() : Theme::textSecondary(scheme);
        case Entry::Level::warning: return dark ? Theme::warning() : rgbColor(0x161618, 0.82);
        case Entry::Level::error: return Theme::errorText(scheme);
        case Entry::Level::info:
        case Entry::Level::debug: break;
    }
    return Theme::textTertiary(scheme);
}

QColor LogEntryRow::glyphColor(Entry::Level level, ColorScheme scheme) {
    if (level == Entry::Level::info || level == Entry::Level::debug) return Theme::textTertiary(scheme);
    return statusColor(level, scheme);
}

QColor LogEntryRow::messageColor(Entry::Level level, ColorScheme scheme) {
    if (level == Entry::Level::warning || level == Entry::Level::error) return statusColor(level, scheme);
    return Theme::textSecondary(scheme);
}

double LogEntryRow::textColumnWidth(double width) const {
    return std::max(20.0, width - 2 * padH - timeWidth() - glyphWidth - categoryWidth - 3 * gap);
}

double LogEntryRow::heightFor(double width) const {
    double height = QFontMetricsF(messageFont()).height();
    if (entry_.detail) {
        const auto lines = wrappedDetail(QString::fromStdString(*entry_.detail), textColumnWidth(width));
        height += 1 + lines.size() * QFontMetricsF(detailFont()).height();
    }
    return std::ceil(height + 2 * padV);
}

void LogEntryRow::paint(QPainter& painter, const QRectF& rect) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (entry_.level == Entry::Level::error) {
        QColor tint = statusColor(Entry::Level::error, scheme_);
        tint.setAlphaF(0.05f);
        painter.fillPath(Theme::continuousRoundedRect(rect, 4), tint);
    }
    const QFont mono = messageFont();
    const QFontMetricsF metrics(mono);
    const double lineHeight = metrics.height();
    double x = rect.left() + padH;
    const double top = rect.top() + padV;
    auto cell = [&](double w) {
        const QRectF r(x, top, w, lineHeight);
        x += w + gap;
        return r;
    };

    painter.setFont(mono);
    painter.setPen(Theme::textTertiary(scheme_));
    const QRectF time = cell(timeWidth());
    painter.drawText(time, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(entry_.timeText()));

    QFont bold = Theme::monospaceFont(11, QFont::Bold);
    painter.setFont(bold);
    painter.setPen(glyphColor(entry_.level, scheme_));
    painter.drawText(cell(glyphWidth), Qt::AlignCenter, glyph(entry_.level));

    painter.setFont(mono);
    painter.setPen(Theme::textTertiary(scheme_));
    const QRectF category = cell(categoryWidth);
    painter.drawText(category, Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(QString::fromStdString(entry_.category), Qt::ElideRight, categoryWidth));

    const double column = textColumnWidth(rect.width());
    painter.setPen(messageColor(entry_.level, scheme_));
    painter.drawText(QRectF(x, top, column, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(QString::fromStdString(entry_.message), Qt::ElideRight, column));
    if (entry_.detail) {
        const QFont small = detailFont();
        const double detailHeight = QFontMetricsF(small).height();
        painter.setFont(small);
        painter.setPen(Theme::textQuaternary(scheme_));
        double y = top + lineHeight + 1;
        for (const QString& line : wrappedDetail(QString::fromStdString(*entry_.detail), column)) {
            painter.drawText(QRectF(x, y, column, detailHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
            y += detailHeight;
        }
    }
    painter.restore();
}

}  // namespace calvoro
