#include "app/ui/console/sidebar_nav_row.h"

#include <QPainter>

#include "app/state/conversion_view_model.h"
#include "app/ui/symbols.h"
#include "app/ui/theme.h"

namespace calvoro {

SidebarNavRow::SidebarNavRow(ConversionViewModel& viewModel, const QString& label, std::optional<FileCategory> category,
                             QWidget* parent)
    : HoverButton(parent), viewModel_(viewModel), category_(category),
      symbol_(category ? category->icon() : std::string("square.grid.2x2")) {
    setLabel(label);
    setFixedHeight(36);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { viewModel_.setLibraryFilter(category_); });
    connect(this, &HoverButton::lookChanged, this, qOverload<>(&QWidget::update));
    for (auto signal : {&ConversionViewModel::libraryFilterChanged, &ConversionViewModel::jobsStructureChanged,
                        &ConversionViewModel::accentChanged})
        connect(&viewModel_, signal, this, qOverload<>(&QWidget::update));
}

bool SidebarNavRow::isSelected() const { return viewModel_.libraryFilter() == category_; }

QString SidebarNavRow::countText() const { return QString::number(viewModel_.count(category_)); }

QColor SidebarNavRow::foregroundColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    if (isSelected()) return Theme::contrastOn(Theme::accentFill(viewModel_.accent(), scheme));
    return mixColor(Theme::textSecondary(scheme), Theme::textPrimary(scheme), hoverProgress());
}

QColor SidebarNavRow::countColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    if (!isSelected()) return Theme::textQuaternary(scheme);
    QColor colour = Theme::contrastOn(Theme::accentFill(viewModel_.accent(), scheme));
    colour.setAlphaF(colour.alphaF() * 0.6f);
    return colour;
}

QColor SidebarNavRow::backgroundColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    if (isSelected()) return Theme::accentFill(viewModel_.accent(), scheme);
    return mixColor(Qt::transparent, Theme::hoverFill(scheme), hoverProgress());
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
    painter.setFont(Theme::monospaceFont(11.5));
    painter.setPen(countColor());
    painter.drawText(QRectF(0, 0, face.width() - 12, face.height()), Qt::AlignRight | Qt::AlignVCenter, countText());
}

}  // namespace calvoro
