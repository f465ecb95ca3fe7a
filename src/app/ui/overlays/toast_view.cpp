#include "app/ui/overlays/toast_view.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

#include "app/ui/theme/focus_ring.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

constexpr double padH = 12, padV = 9, stripeWidth = 3, spacing = 10, minSpacer = 8, closeSide = 22;

QFont titleFont() {
    QFont font = Theme::font(12.5, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.13);
    return font;
}

QFont detailFont() { return Theme::font(11.5); }

// The card's "xmark": brighter with a soft square behind it while hovered.
class CloseButton : public HoverButton {
public:
    explicit CloseButton(QWidget* parent) : HoverButton(parent) {
        setFixedSize(static_cast<int>(closeSide), static_cast<int>(closeSide));
        setAccessibleName(QStringLiteral("Dismiss"));
        FocusRing::setShape(this, 5);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        const double hover = hoverProgress();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame(rect());
        painter.fillPath(Theme::continuousRoundedRect(frame, 5), mixColor(Qt::transparent, Theme::iconHoverFill(scheme), hover));
        Symbols::paint(painter, frame, "xmark", 10, QFont::DemiBold, Theme::hoverText(scheme, hover));
    }
};

QColor stripeColour(Toast::Kind kind) {
    switch (kind) {
        case Toast::Kind::success: return Theme::success();
        case Toast::Kind::warning: return Theme::warning();
        case Toast::Kind::error: return Theme::error();
    }
    return Theme::success();
}

}  // namespace

ToastView::ToastView(const Toast& toast, std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), toast_(toast), onDismiss_(std::move(onDismiss)), close_(new CloseButton(this)) {
    setToolTip(QStringLiteral("Click to dismiss"));
    connect(close_, &QAbstractButton::clicked, this, [this] {
        if (onDismiss_) onDismiss_();
    });
    resize(sizeHint());
}

void ToastView::setToast(const Toast& toast) {
    toast_ = toast;
    updateGeometry();
    resize(sizeHint());
    update();
}

QSize ToastView::sizeHint() const {
    const QFontMetricsF title(titleFont()), detail(detailFont());
    double textWidth = title.horizontalAdvance(QString::fromStdString(toast_.title));
    double textHeight = title.height();
    if (toast_.detail) {
        textWidth = std::max(textWidth, detail.horizontalAdvance(QString::fromStdString(*toast_.detail)));
        textHeight += 1 + detail.height();
    }
    const double width = std::min(maxWidth, padH + stripeWidth + spacing + textWidth + minSpacer + closeSide + padH);
    const double height = padV + std::max(textHeight, closeSide) + padV;
    return {static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height))};
}

QRectF ToastView::textColumn() const {
    const double left = padH + stripeWidth + spacing;
    const double right = width() - padH - closeSide - minSpacer;
    return QRectF(left, padV, std::max(0.0, right - left), height() - 2 * padV);
}

void ToastView::resizeEvent(QResizeEvent*) {
    close_->move(static_cast<int>(width() - padH - closeSide), static_cast<int>(std::round((height() - closeSide) / 2)));
}

void ToastView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

void ToastView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onDismiss_) onDismiss_();
}

void ToastView::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card(rect());
    const QPainterPath shape = Theme::continuousRoundedRect(card, cornerRadius);
    painter.fillPath(shape, dark ? QColor(37, 37, 37) : QColor(Qt::white));
    // The outline sits inside the edge.
    painter.strokePath(Theme::continuousRoundedRect(card.adjusted(0.25, 0.25, -0.25, -0.25), cornerRadius - 0.25),
                       QPen(dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16), 0.5));

    const QRectF stripe(padH, padV + 2, stripeWidth, height() - 2 * padV - 4);
    painter.fillPath(Theme::continuousRoundedRect(stripe, 2), stripeColour(toast_.kind));

    const QRectF column = textColumn();
    const QFont title = titleFont(), detail = detailFont();
    const QFontMetricsF titleMetrics(title), detailMetrics(detail);
    double textHeight = titleMetrics.height() + (toast_.detail ? 1 + detailMetrics.height() : 0);
    double y = column.top() + (column.height() - textHeight) / 2;
    painter.setFont(title);
    painter.setPen(Theme::textPrimary(scheme));
    painter.drawText(QRectF(column.left(), y, column.width(), titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(QString::fromStdString(toast_.title), Qt::ElideRight, column.width()));
    if (toast_.detail) {
        y += titleMetrics.height() + 1;
        painter.setFont(detail);
        painter.setPen(Theme::textSecondary(scheme));
        painter.drawText(QRectF(column.left(), y, column.width(), detailMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         detailMetrics.elidedText(QString::fromStdString(*toast_.detail), Qt::ElideMiddle, column.width()));
    }
}

}  // namespace calvoro
