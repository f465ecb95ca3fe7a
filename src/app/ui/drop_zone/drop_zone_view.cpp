#include "app/ui/drop_zone/drop_zone_view.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/console_card.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"
#include "core/supported_format.h"

namespace calvoro {
namespace {

constexpr double tileSide = 46, tileSpacing = 9, stackSpacing = 26;
const QString idleTitle = QStringLiteral("Drop files to convert");
const QString targetedTitle = QStringLiteral("Release to add your files");

QFont titleFont() {
    QFont font = Theme::font(28, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.3);
    return font;
}

// One category's tile: a soft square with the category's symbol.
void paintCategoryTile(QPainter& painter, const QRectF& frame, FileCategory category, ColorScheme scheme) {
    const bool dark = scheme == ColorScheme::dark;
    const QPainterPath shape = Theme::continuousRoundedRect(frame, 12);
    painter.fillPath(shape, dark ? rgbColor(0xFFFFFF, 0.035) : rgbColor(0x000000, 0.05));
    painter.strokePath(shape, QPen(Theme::separator(scheme), 1));
    Symbols::paint(painter, frame, category.icon(), 19, QFont::Medium, Theme::textTertiary(scheme));
}

}  // namespace

DropZoneView::DropZoneView(ConversionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Drop files here or click to browse"));
    connect(&progress_, &SpringValue::valueChanged, this, [this] { update(); });
}

void DropZoneView::setDropTargeted(bool targeted) {
    if (dropTargeted_ == targeted) return;
    dropTargeted_ = targeted;
    progress_.animateTo(targeted ? 1.0 : 0.0, Theme::smooth);
}

QString DropZoneView::title() const { return dropTargeted_ ? targetedTitle : idleTitle; }

void DropZoneView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
    // No category: the open panel offers every file.
    viewModel_.setFilePickerCategory(std::nullopt);
    viewModel_.setShowFilePicker(true);
}

void DropZoneView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

void DropZoneView::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    const double progress = progress_.value();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The zone fills the console card: its corners are the card's.
    painter.setClipPath(Theme::continuousRoundedRect(QRectF(rect()), ConsoleCard::cornerRadius));
    painter.fillRect(rect(), dark ? QColor(30, 30, 30) : QColor(Qt::white));

    const QFont title = titleFont(), help = Theme::font(13.5), kinds = Theme::font(12);
    const double titleHeight = QFontMetricsF(title).height(), helpHeight = QFontMetricsF(help).height(),
                 kindsHeight = QFontMetricsF(kinds).height();
    const double textHeight = titleHeight + 8 + helpHeight + 8 + 1 + kindsHeight;
    double y = (height() - (tileSide + stackSpacing + textHeight)) / 2;

    const std::array<FileCategory, 6> categories{FileCategory::image, FileCategory::video, FileCategory::audio,
                                                 FileCategory::document, FileCategory::archive, FileCategory::font};
    const double rowWidth = categories.size() * tileSide + (categories.size() - 1) * tileSpacing;
    double x = (width() - rowWidth) / 2;
    for (FileCategory category : categories) {
        paintCategoryTile(painter, QRectF(x, y, tileSide, tileSide).adjusted(0.5, 0.5, -0.5, -0.5), category, scheme);
        x += tileSide + tileSpacing;
    }
    y += tileSide + stackSpacing;

    // The two titles cross-fade as the drag comes and goes.
    const QColor primary = Theme::textPrimary(scheme);
    painter.setFont(title);
    const QRectF titleRect(0, y, width(), titleHeight);
    for (const auto& [text, opacity] : {std::pair{idleTitle, 1.0 - progress}, std::pair{targetedTitle, progress}}) {
        if (opacity <= 0.001) continue;
        QColor colour = primary;
        colour.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
        painter.setPen(colour);
        painter.drawText(titleRect, Qt::AlignCenter, text);
    }
    y += titleHeight + 8;
    painter.setFont(help);
    painter.setPen(Theme::textTertiary(scheme));
    painter.drawText(QRectF(0, y, width(), helpHeight), Qt::AlignCenter,
                     QString::fromUtf8("Click anywhere to add files \u2014 or just drag them in."));
    y += helpHeight + 8 + 1;
    painter.setFont(kinds);
    painter.setPen(Theme::textQuaternary(scheme));
    painter.drawText(QRectF(0, y, width(), kindsHeight), Qt::AlignCenter,
                     QStringLiteral("Images, video, audio, documents, archives, fonts."));

    if (progress > 0.001) {
        const QColor accent = Theme::accentFill(this);
        QColor tint = accent;
        tint.setAlphaF(static_cast<float>((dark ? 0.10 : 0.07) * progress));
        painter.fillRect(rect(), tint);
        QColor frame = accent;
        frame.setAlphaF(static_cast<float>(0.55 * progress));
        // Stroked inside the inset rectangle's edge.
        const QRectF inset = QRectF(rect()).adjusted(6 + 0.75, 6 + 0.75, -6 - 0.75, -6 - 0.75);
        painter.strokePath(Theme::continuousRoundedRect(inset, 13 - 0.75), QPen(frame, 1.5));
    }
}

}  // namespace calvoro
