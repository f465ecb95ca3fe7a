#include "app/ui/console/from_to_pills.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"
#include "compressor/compressor.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

constexpr double pillHeight = 28, padding = 12, chevronGap = 4, chevronSide = 7;

QFont fromFont() {
    QFont font = Theme::font(10.5, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    return font;
}
QFont targetFont() {
    QFont font = Theme::font(10.5, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    return font;
}
QColor lineColor(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16);
}

}  // namespace

FromToPills::FromToPills(ConversionViewModel& viewModel, const ConversionJob& job, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), job_(job) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setMouseTracking(true);
    connect(&hover_, &SpringValue::valueChanged, this, qOverload<>(&QWidget::update));
    refresh();
}

void FromToPills::setJob(const ConversionJob& job) {
    const bool resize = job.targetFormat != job_.targetFormat || job.sourceURL != job_.sourceURL;
    job_ = job;
    if (converting() && hovering_) hover_.setImmediately(0);
    if (resize) updateGeometry();
    refresh();
}

bool FromToPills::converting() const { return job_.status == ConversionStatus::converting; }

QString FromToPills::fromText(const ConversionJob& job) {
    return QString::fromStdString(pathExtension(job.sourceURL)).toUpper();
}

QString FromToPills::targetText(const ConversionJob& job) {
    return job.targetFormat ? QString::fromStdString(job.targetFormat->displayName()) : tr("Choose");
}

bool FromToPills::hasMenu() const { return !ScreenshotMode::active && !converting(); }

QMenu* FromToPills::makeMenu(QWidget* parent) const {
    auto* menu = new QMenu(parent);
    Theme::styleMenu(menu);
    const Uuid id = job_.id;
    ConversionViewModel* vm = &viewModel_;
    for (const SupportedFormat format : job_.detectedFormat.possibleConversions()) {
        QAction* action = menu->addAction(QString::fromStdString(format.displayName()));
        if (job_.targetFormat == format) {
            action->setIcon(Symbols::icon("checkmark", 11, Theme::textPrimary(Theme::scheme(this))));
            action->setCheckable(true);
            action->setChecked(true);
        }
        connect(action, &QAction::triggered, menu, [vm, id, format] { vm->setTargetFormat(id, format); });
    }
    if (Compressor::compressionTarget(job_.detectedFormat)) {
        menu->addSeparator();
        const ConversionJob job = job_;
        connect(menu->addAction(tr("Compress…")), &QAction::triggered, menu, [vm, job] {
            if (Compressor::compressionTarget(job.detectedFormat)) vm->setCompressingJob(job);
        });
    }
    return menu;
}

namespace {
double fromSegmentWidth(const ConversionJob& job) {
    return std::ceil(QFontMetricsF(fromFont()).horizontalAdvance(FromToPills::fromText(job))) + 2 * padding;
}
}  // namespace

int FromToPills::widthFor(const ConversionJob& job) {
    double target = std::ceil(QFontMetricsF(targetFont()).horizontalAdvance(targetText(job))) + 2 * padding;
    if (job.status != ConversionStatus::converting) target += chevronGap + chevronSide;
    return static_cast<int>(fromSegmentWidth(job) + 1 + target);
}

void FromToPills::measure() {
    // Measured when the job changes, not on each paint: rows repaint often while they move.
    fromWidth_ = fromSegmentWidth(job_);
    width_ = widthFor(job_);
}

QSize FromToPills::sizeHint() const { return {static_cast<int>(width_), static_cast<int>(pillHeight)}; }

void FromToPills::refresh() {
    measure();
    setToolTip(converting() ? tr("Converting…") : tr("Choose the output format"));
    setCursor(hasMenu() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    // Reached by Tab while it has a menu to open.
    setFocusPolicy(hasMenu() ? Qt::TabFocus : Qt::NoFocus);
    update();
}

void FromToPills::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    const double hover = converting() ? 0.0 : hover_.value();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(converting() ? 0.6 : 1.0);
    const QRectF face(0.5, 0.5, width() - 1, pillHeight - 1);
    const QPainterPath shape = Theme::continuousRoundedRect(face, 8);
    painter.save();
    painter.setClipPath(shape);
    const double from = fromWidth();
    const QRectF fromRect(0, 0, from, pillHeight), targetRect(from + 1, 0, width() - from - 1, pillHeight);
    painter.fillRect(fromRect, dark ? rgbColor(0xFFFFFF, 0.035 * 0.6) : QColor(241, 241, 242));
    painter.fillRect(QRectF(from, 0, 1, pillHeight), lineColor(scheme));
    const QColor targetFill = dark ? rgbColor(0xFFFFFF, 0.035) : QColor(Qt::white);
    const QColor targetHover = dark ? rgbColor(0xFFFFFF, 0.09) : rgbColor(0x000000, 0.11);
    painter.fillRect(targetRect, mixColor(targetFill, targetHover, hover));
    painter.restore();

    painter.setFont(fromFont());
    painter.setPen(Theme::textTertiary(scheme));
    painter.drawText(fromRect, Qt::AlignCenter, fromText());
    painter.setFont(targetFont());
    painter.setPen(Theme::textPrimary(scheme));
    const QRectF textRect = targetRect.adjusted(padding, 0, -padding, 0);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, targetText());
    if (!converting()) {
        QColor chevron = Theme::textTertiary(scheme);
        chevron.setAlphaF(chevron.alphaF() * (0.7 + 0.3 * hover));
        const QRectF chevronRect(textRect.right() - chevronSide, 0, chevronSide, pillHeight);
        Symbols::paint(painter, chevronRect, "chevron.down", 6.5, QFont::Bold, chevron);
    }
    QPen border(mixColor(lineColor(scheme), Theme::textQuaternary(scheme), hover), 1);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

void FromToPills::enterEvent(QEnterEvent*) {
    hovering_ = true;
    hover_.animateTo(converting() ? 0 : 1, Theme::hover);
}

void FromToPills::leaveEvent(QEvent*) {
    hovering_ = false;
    hover_.animateTo(0, Theme::hover);
}

void FromToPills::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !hasMenu()) return;
    if (event->position().x() < fromWidth()) return;
    popUpMenu();
}

void FromToPills::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool opens = key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down;
    if (!opens || !hasMenu() || event->modifiers() & ~Qt::KeypadModifier) return QWidget::keyPressEvent(event);
    popUpMenu();
}

void FromToPills::popUpMenu() {
    QMenu* menu = makeMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(mapToGlobal(QPoint(static_cast<int>(fromWidth()), static_cast<int>(pillHeight) + 4)));
}

}  // namespace calvoro
