#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

#include "app/state/appearance.h"
#include "core/conversion_logger.h"

class QPainter;

namespace calvoro {

// One line of the log panel: time, level glyph, category, then the message (one line) and its
// detail (at most two lines); errors sit on a faint tinted background. Painted by the list.
class LogEntryRow {
public:
    using Entry = ConversionLogger::LogEntry;

    LogEntryRow(const Entry& entry, ColorScheme scheme) : entry_(entry), scheme_(scheme) {}

    // The row's height at a width, padding included.
    double heightFor(double width) const;
    void paint(QPainter& painter, const QRectF& rect) const;

    static QString glyph(Entry::Level level);
    static QColor glyphColor(Entry::Level level, ColorScheme scheme);
    static QColor messageColor(Entry::Level level, ColorScheme scheme);
    // The status colours are light greys made for the dark scheme; on the light panel they
    // would all but vanish, so there the same steps are taken in ink.
    static QColor statusColor(Entry::Level level, ColorScheme scheme);

private:
    double textColumnWidth(double width) const;

    const Entry& entry_;
    ColorScheme scheme_;
};

}  // namespace calvoro
