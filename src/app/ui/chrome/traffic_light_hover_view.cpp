#include "app/ui/chrome/traffic_light_hover_view.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

struct Look {
    QColor fill, rim, glyph;
};

Look lookOf(TrafficLightButton::Kind kind) {
    switch (kind) {
        case TrafficLightButton::Kind::close: return {rgbColor(0xFF5F57), rgbColor(0xE0443E), rgbColor(0x4D0000, 0.8)};
        case TrafficLightButton::Kind::minimize: return {rgbColor(0xFEBC2E), rgbColor(0xDEA123), rgbColor(0x995700, 0.9)};
        case TrafficLightButton::Kind::zoom: return {rgbColor(0x28C840), rgbColor(0x1AAB29), rgbColor(0x006500, 0.9)};
    }
    return {};
}

}  // namespace

TrafficLightButton::TrafficLightButton(Kind kind, QWidget* parent) : QAbstractButton(parent), kind_(kind) {
    setFixedSize(side, side);
    setFocusPolicy(Qt::NoFocus);
    static const char* names[] = {"Close", "Minimize", "Zoom"};
    // Views that fade the window's buttons find them by these names.
    static const char* objectNames[] = {"closeButton", "minimiseButton", "zoomButton"};
    setAccessibleName(QString::fromLatin1(names[static_cast<int>(kind)]));
    setObjectName(QString::fromLatin1(objectNames[static_cast<int>(kind)]));
}

void TrafficLightButton::setHighlighted(bool on) {
    if (highlighted_ == on) return;
    highlighted_ = on;
    update();
}

void TrafficLightButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc = QRectF(rect()).adjusted(1, 1, -1, -1);
    const bool active = window()->isActiveWindow() || highlighted_;
    Look look = lookOf(kind_);
    if (!active) {
        // A window in the background shows its buttons as quiet grey discs.
        const bool dark = Theme::scheme(this) == ColorScheme::dark;
        look.fill = dark ? QColor(70, 70, 72) : QColor(221, 221, 223);
        look.rim = dark ? QColor(60, 60, 62) : QColor(200, 200, 202);
    }
    if (isDown()) look.fill = look.fill.darker(118);
    painter.setPen(QPen(look.rim, 0.5));
    painter.setBrush(look.fill);
    painter.drawEllipse(disc.adjusted(0.25, 0.25, -0.25, -0.25));
    if (!highlighted_) return;

    const QPointF c = disc.center();
    painter.setPen(QPen(look.glyph, 1.1, Qt::SolidLine, Qt::RoundCap));
    switch (kind_) {
        case Kind::close:
            painter.drawLine(c + QPointF(-2.6, -2.6), c + QPointF(2.6, 2.6));
            painter.drawLine(c + QPointF(-2.6, 2.6), c + QPointF(2.6, -2.6));
            break;
        case Kind::minimize: painter.drawLine(c + QPointF(-3.2, 0), c + QPointF(3.2, 0)); break;
        case Kind::zoom: {
            // Two corner triangles pointing outwards: full screen. Small and well apart, so that
            // they read as two corners and not as one diagonal stroke ("no entry") at 1x.
            painter.setPen(Qt::NoPen);
            painter.setBrush(look.glyph);
            QPainterPath arrows;
            for (const double s : {-1.0, 1.0}) {
                const QPointF corner = c + QPointF(s * 3.3, s * 3.3);
                arrows.moveTo(corner);
                arrows.lineTo(corner - QPointF(s * 3.4, 0));
                arrows.lineTo(corner - QPointF(0, s * 3.4));
                arrows.closeSubpath();
            }
            painter.drawPath(arrows);
            break;
        }
    }
}

void TrafficLightButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange) update();
    QAbstractButton::changeEvent(event);
}

TrafficLightHoverView::TrafficLightHoverView(QWidget* window) : QWidget(window) {
    setAttribute(Qt::WA_Hover);
    const TrafficLightButton::Kind kinds[] = {TrafficLightButton::Kind::close, TrafficLightButton::Kind::minimize,
                                              TrafficLightButton::Kind::zoom};
    for (int i = 0; i < 3; ++i) {
        buttons_[i] = new TrafficLightButton(kinds[i], this);
        buttons_[i]->move(hoverMargin + spacing * i, hoverMargin);
    }
    connect(buttons_[0], &QAbstractButton::clicked, this, &TrafficLightHoverView::closeRequested);
    connect(buttons_[1], &QAbstractButton::clicked, this, &TrafficLightHoverView::minimizeRequested);
    connect(buttons_[2], &QAbstractButton::clicked, this, &TrafficLightHoverView::zoomRequested);
    // The union of the buttons, grown by the margin on every side.
    setFixedSize(2 * hoverMargin + spacing * 2 + TrafficLightButton::side, 2 * hoverMargin + TrafficLightButton::side);
    position();
}

bool TrafficLightHoverView::isHighlighted() const { return buttons_[0]->isHighlighted(); }

void TrafficLightHoverView::position() {
    move(leftInset - hoverMargin, centerYFromTop - TrafficLightButton::side / 2 - hoverMargin);
    raise();
}

void TrafficLightHoverView::setHighlighted(bool on) {
    for (TrafficLightButton* button : buttons_) button->setHighlighted(on);
}

void TrafficLightHoverView::enterEvent(QEnterEvent* event) {
    setHighlighted(true);
    QWidget::enterEvent(event);
}

void TrafficLightHoverView::leaveEvent(QEvent* event) {
    setHighlighted(false);
    QWidget::leaveEvent(event);
}

}  // namespace calvoro
