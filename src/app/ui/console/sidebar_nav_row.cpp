#include "app/ui/console/sidebar_nav_row.h"

#include <QPainter>

#include "app/state/conversion_view_model.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

SidebarNavRow::SidebarNavRow(ConversionViewModel& viewModel, const QString& label, std::optional<FileCategory> category,
                             QWidget* parent)
    : HoverButton(parent), viewModel_(viewModel), count_(Theme::snappy), category_(category),
      symbol_(category ? category->icon() : std::string("square.grid.2x2")) {
    setLabel(label);
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { viewModel_.setLibraryFilter(category_); });
    connect(this, &HoverButton::lookChanged, this, qOverload<>(&QWidget::update));
    selection_.setImmediately(isSelected() ? 1.0 : 0.0);
    count_.setText(countText(), false);
    connect(&selection_, &SpringValue::valueChanged, this, qOverload<>(&QWidget::update));
    connect(&count_, &NumericTextTransition::changed, this, qOverload<>(&QWidget::update));
    connect(&viewModel_, &ConversionViewModel::libraryFilterChanged, this,
            [this] { selection_.animateTo(isSelected() ? 1.0 : 0.0, Spring{0.16, 1.0, 0}); });
    connect(&viewModel_, &ConversionViewModel::jobsStructureChanged, this, [this] { count_.setText(countText()); });
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, qOverload<>(&QWidget::update));
}

bool SidebarNavRow::isSelected() const { return viewModel_.libraryFilter() == category_; }

QString SidebarNavRow::countText() const { return QString::number(viewModel_.count(category_)); }

namespace {
// The chosen look at 1, the other at 0, and exact at both ends.
QColor blend(const QColor& other, const QColor& chosen, double progress) {
    if (progress >= 1.0) return chosen;
    if (progress <= 0.0) return other;
    return mixColor(other, chosen, progress);
}
}  // namespace

QColor SidebarNavRow::foregroundColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    return blend(mixColor(Theme::textSecondary(scheme), Theme::textPrimary(scheme), hoverProgress()),
                 Theme::contrastOn(Theme::accentFill(viewModel_.accent(), scheme)), selection_.value());
}

QColor SidebarNavRow::countColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    QColor chosen = Theme::contrastOn(Theme::accentFill(viewModel_.accent(), scheme));
    chosen.setAlphaF(chosen.alphaF() * 0.6f);
    return blend(Theme::textQuaternary(scheme), chosen, selection_.value());
}

QColor SidebarNavRow::backgroundColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    return blend(mixColor(Qt::transparent, Theme::hoverFill(scheme), hoverProgress()),
                 Theme::accentFill(viewModel_.accent(), scheme), selection_.value());
}

void SidebarNavRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face(rect());
    painter.fillPath(Theme::continuousRoundedRect(face, 8), backgroundColor());
    const QColor foreground = foregroundColor();
    Symbols::paint(painter, QRectF(12, 0, 17, face.height()), symbol_, 12.5, QFont::Medium, foreground);
    painter.setFont(Theme::font(13, QFont::Medium));
    painter.setPen(foreground);
    painter.drawText(QRectF(12 + 17 + 10, 0, face.width() - 80, face.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    painter.setFont(Theme::font(11.5));
    painter.setPen(countColor());
    painter.save();
    painter.setClipRect(face.adjusted(0, 6, 0, -6));
    count_.paint(painter, QRectF(0, 0, face.width() - 12, face.height()), Qt::AlignRight | Qt::AlignVCenter);
    painter.restore();
}

}  // namespace calvoro
