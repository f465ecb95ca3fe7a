#pragma once

#include <QObject>
#include <QString>

#include "app/ui/theme/spring.h"

class QPainter;
class QRectF;

namespace calvoro {

// A text that changes in place with a short roll, as counts and sizes do: the old text rises a
// little and fades while the new one comes up from below. Its owner repaints on changed.
class NumericTextTransition : public QObject {
    Q_OBJECT
public:
    explicit NumericTextTransition(Spring spring, QObject* parent = nullptr);

    const QString& text() const { return text_; }
    // Not animated for a first value or a view that now shows something else.
    void setText(const QString& text, bool animated = true);
    bool isRolling() const { return progress_.value() < 1.0 || progress_.target() < 1.0; }
    // Draws the text, or both texts part-way, in the painter's font and pen, with digits of one
    // width (TabularText).
    void paint(QPainter& painter, const QRectF& rect, int flags) const;

signals:
    void changed();

private:
    Spring spring_;
    QString text_;
    QString previous_;
    SpringValue progress_{1.0};
};

}  // namespace calvoro
