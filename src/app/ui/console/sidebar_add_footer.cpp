#include "app/ui/console/sidebar_add_footer.h"

#include <QFontMetricsF>
#include <QPainter>

#include "app/state/conversion_view_model.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

SidebarAddFooter::SidebarAddFooter(ConversionViewModel& viewModel, QWidget* parent)
    : HoverButton(parent), viewModel_(viewModel) {
    setHasPressLook(true);
    FocusRing::setShape(this, 9);
    setLabel(tr("Add files"));
    setAccessibleName(tr("Add files"));
    setToolTip(tr("Add files (Ctrl+O)"));
    setFixedHeight(46);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    connect(this, &HoverButton::lookChanged, this, qOverload<>(&QWidget::update));
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, qOverload<>(&QWidget::update));
    connect(this, &QAbstractButton::clicked, this, [this] {
        viewModel_.setFilePickerCategory(std::nullopt);
        viewModel_.setShowFilePicker(true);
    });
}

QColor SidebarAddFooter::fillColor() const {
    QColor fill = Theme::accentFill(viewModel_.accent(), Theme::scheme(this));
    fill.setAlphaF(fill.alphaF() * static_cast<float>(0.92 + 0.08 * hoverProgress()));
    return fill;
}

QColor SidebarAddFooter::labelColor() const {
    return Theme::contrastOn(Theme::accentFill(viewModel_.accent(), Theme::scheme(this)));
}

void SidebarAddFooter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    applyPressScale(painter, 0.99);
    const QRectF face(rect());
    painter.fillPath(Theme::continuousRoundedRect(face, 9), fillColor());
    const QFont font = Theme::font(13, QFont::DemiBold);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(text());
    const double iconWidth = 12, total = iconWidth + 8 + textWidth;
    const double left = (face.width() - total) / 2;
    Symbols::paint(painter, QRectF(left, 0, iconWidth, face.height()), "plus", 11.5, QFont::Bold, labelColor());
    painter.setFont(font);
    painter.setPen(labelColor());
    painter.drawText(QRectF(left + iconWidth + 8, 0, textWidth + 2, face.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace calvoro
