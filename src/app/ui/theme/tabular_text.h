#pragma once

// Counts, sizes and percentages in the window's own font with digits of one width, so that a
// number keeps its width as it changes and columns of numbers line up. Qt 6.4 cannot switch on
// a font's tabular figures, so each digit is placed in a cell as wide as the font's widest digit
// (what the figures' feature does); the other characters keep their own advances.

#include <QFont>
#include <QRectF>
#include <QString>
#include <QWidget>

class QPainter;

namespace calvoro {

class TabularText {
public:
    TabularText() = delete;

    // The width of the font's widest digit: every digit's cell.
    static double digitCell(const QFont& font);
    static double width(const QFont& font, const QString& text);
    // Cut at the end with an ellipsis to fit width.
    static QString elided(const QFont& font, const QString& text, double width);
    // Draws text in the painter's font and pen, aligned in rect as drawText would (one line).
    static void draw(QPainter& painter, const QRectF& rect, int flags, const QString& text);
};

// A one-line label drawn with TabularText, for places a QLabel would hold a number.
class TabularLabel : public QWidget {
public:
    explicit TabularLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setAlignment(Qt::Alignment alignment);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

}  // namespace calvoro
