#include "app/ui/theme/numeric_text_transition.h"

#include <QPainter>

#include <algorithm>

#include "app/ui/theme/tabular_text.h"

namespace calvoro {

namespace {
// How far the texts travel, in points.
constexpr double rollDistance = 5;
}  // namespace

NumericTextTransition::NumericTextTransition(Spring spring, QObject* parent) : QObject(parent), spring_(spring) {
    connect(&progress_, &SpringValue::valueChanged, this, &NumericTextTransition::changed);
}

void NumericTextTransition::setText(const QString& text, bool animated) {
    if (text == text_ && (animated || !isRolling())) return;
    previous_ = animated && !text_.isEmpty() ? text_ : QString();
    text_ = text;
    if (previous_.isEmpty()) {
        progress_.setImmediately(1.0);
    } else {
        progress_.setImmediately(0.0);
        progress_.animateTo(1.0, spring_);
    }
    emit changed();
}

void NumericTextTransition::paint(QPainter& painter, const QRectF& rect, int flags) const {
    const double p = progress_.value();
    if (p >= 1.0 || previous_.isEmpty()) {
        TabularText::draw(painter, rect, flags, text_);
        return;
    }
    const double opacity = painter.opacity();
    const double in = std::clamp(p, 0.0, 1.0);
    painter.setOpacity(opacity * (1 - in));
    TabularText::draw(painter, rect.translated(0, -rollDistance * p), flags, previous_);
    painter.setOpacity(opacity * in);
    TabularText::draw(painter, rect.translated(0, rollDistance * (1 - p)), flags, text_);
    painter.setOpacity(opacity);
}

}  // namespace calvoro
