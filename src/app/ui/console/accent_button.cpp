#include "app/ui/console/accent_button.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

#include "app/state/screenshot_mode.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/shadow.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

constexpr int spokes = 12;
constexpr double spinnerSide = 12;
constexpr double spacing = 7;

}  // namespace

AccentButton::AccentButton(const QString& label, bool small, QWidget* parent) : HoverButton(parent), small_(small) {
    setHasPressLook(true);
    setLabel(label);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    FocusRing::setShape(this, small ? 8 : 9);
    spinnerTimer_.setInterval(1000 / spokes);
    connect(&spinnerTimer_, &QTimer::timeout, this, [this] {
        spinnerStep_ = (spinnerStep_ + 1) % spokes;
        update();
    });
    // The hover shadow falls below the face, on the parent.
    auto* shadow = new ShadowCaster(this, [this] {
        return Shadow{rgbColor(0x000000, shadowOpacity()), 6, {0, 3}, small_ ? 8.0 : 9.0};
    });
    connect(this, &HoverButton::lookChanged, shadow, &ShadowCaster::refresh);
}

void AccentButton::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    if (busy && !ScreenshotMode::active) {
        spinnerTimer_.start();
    } else {
        spinnerTimer_.stop();
    }
    updateGeometry();
    update();
}

QColor AccentButton::fillColor() const {
    QColor fill = Theme::accentFill(this);
    const double opacity = !isEnabled() ? 0.35 : 1.0 - 0.12 * hoverProgress();
    fill.setAlphaF(static_cast<float>(fill.alphaF() * opacity));
    return fill;
}

QColor AccentButton::labelColor() const { return Theme::contrastOn(Theme::accentFill(this)); }

double AccentButton::shadowOpacity() const {
    if (!isEnabled()) return 0;
    return (Theme::scheme(this) == ColorScheme::dark ? 0.35 : 0.15) * hoverProgress();
}

QSize AccentButton::sizeHint() const {
    const QFont font = Theme::font(small_ ? 12.5 : 13, QFont::DemiBold);
    double width = QFontMetricsF(font).horizontalAdvance(text()) + 2 * (small_ ? 14 : 16);
    if (busy_) width += spinnerSide + spacing;
    return {static_cast<int>(std::ceil(width)), small_ ? 30 : 32};
}

void AccentButton::paintSpinner(QPainter& painter, const QRectF& frame, const QColor& colour) const {
    // A small spinning indicator drawn at 0.6 of its size, as spokes that fade behind the lead.
    painter.save();
    painter.translate(frame.center());
    painter.scale(0.6, 0.6);
    const double outer = 8, inner = 4.2;
    for (int i = 0; i < spokes; ++i) {
        const int age = (spinnerStep_ - i + spokes) % spokes;
        QColor spoke = colour;
        spoke.setAlphaF(static_cast<float>(colour.alphaF() * (1.0 - 0.75 * age / (spokes - 1))));
        painter.setPen(QPen(spoke, 1.8, Qt::SolidLine, Qt::RoundCap));
        const double angle = 2 * M_PI * i / spokes - M_PI / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                         QPointF(std::cos(angle) * outer, std::sin(angle) * outer));
    }
    painter.restore();
}

void AccentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    applyPressScale(painter, 0.97);
    const QRectF face(rect());
    painter.fillPath(Theme::continuousRoundedRect(face, small_ ? 8 : 9), fillColor());
    const QColor colour = labelColor();
    const QFont font = Theme::font(small_ ? 12.5 : 13, QFont::DemiBold);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(text());
    const double stack = textWidth + (busy_ ? spinnerSide + spacing : 0);
    double left = (face.width() - stack) / 2;
    if (busy_) {
        paintSpinner(painter, QRectF(left, (face.height() - spinnerSide) / 2, spinnerSide, spinnerSide), colour);
        left += spinnerSide + spacing;
    }
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QRectF(left, 0, textWidth + 1, face.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace calvoro
