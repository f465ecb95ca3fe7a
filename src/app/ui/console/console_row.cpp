#include "app/ui/console/console_row.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFontMetricsF>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QResizeEvent>
#include <QTextLayout>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cmath>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/card_divider.h"
#include "app/ui/console/from_to_pills.h"
#include "app/ui/console/ghost_pill_button.h"
#include "app/ui/console/percent_text.h"
#include "app/ui/console/reveal_button.h"
#include "app/ui/console/row_checkbox.h"
#include "app/ui/console/row_remove_button.h"
#include "app/ui/controls/menu_actions.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/tabular_text.h"
#include "app/ui/theme/theme.h"
#include "app/ui/thumbnails/thumbnail_loader.h"
#include "compressor/compressor.h"
#include "core/file_url.h"
#include "core/text_util.h"
#include "platform/qt/file_urls.h"

namespace calvoro {

namespace {

constexpr double padH = 16, padV = 12, spacing = 12, checkSide = 19, tileSide = 36, minStatus = 92, barWidth = 90;
constexpr double nameLeft = padH + checkSide + spacing + tileSide + spacing, minNameWidth = 72, removeSide = 28;

// The progress bar and its percentage follow the job's progress with this spring.
constexpr Spring progressSpring{0.2, 1.0, 0};

QFont nameFont() { return Theme::font(13.5, QFont::Medium); }
QFont detailFont() { return Theme::font(11.5); }
QFont statusFont() { return Theme::font(12.5, QFont::Medium); }

// One line of the name and of the detail: fixed for the process, asked for on every measure.
struct LineHeights {
    double name, detail;
};
const LineHeights& lineHeights() {
    static const LineHeights heights{QFontMetricsF(nameFont()).height(), QFontMetricsF(detailFont()).height()};
    return heights;
}

// text laid out in lines of width, broken between words or, in a word too long, anywhere; at most
// `most` lines, whether more were needed and where the text goes on after them.
QStringList wrap(const QString& text, const QFont& font, double width, int most, bool& more, qsizetype* end = nullptr) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    more = false;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == most) {
            more = true;
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
        if (end) *end = line.textStart() + line.textLength();
    }
    layout.endLayout();
    return lines;
}

// Where a word starts in text: after a space or a separator that names use between words.
bool startsWord(const QString& text, qsizetype at) {
    if (at <= 0 || at >= text.size() || text[at].isSpace()) return false;
    const QChar before = text[at - 1];
    return before.isSpace() || before == '-' || before == '_' || before == '.' || before == '(' || before == '[';
}

// The longest end of text from `from` on that fits width after the ellipsis, starting at a word
// when one starts within its first half (a cut inside a word reads as a cut there).
QString endThatFits(const QString& text, qsizetype from, const QFontMetricsF& metrics, double width) {
    const double room = width - metrics.horizontalAdvance(QChar(0x2026));
    qsizetype low = from, high = text.size();
    // The smallest start whose end fits.
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        if (metrics.horizontalAdvance(text.mid(mid)) <= room) high = mid;
        else low = mid + 1;
    }
    qsizetype start = low;
    const qsizetype near = start + (text.size() - start) / 2;
    for (qsizetype at = start; at <= near; ++at)
        if (startsWord(text, at)) {
            start = at;
            break;
        }
    return text.mid(start).trimmed();
}

// text in at most two lines; when it needs more, cut with an ellipsis at the end, or in the
// middle: the first line its beginning as it wraps, the second an ellipsis and its end.
QStringList twoLines(const QString& text, const QFont& font, double width, Qt::TextElideMode mode) {
    bool more = false;
    QStringList lines = wrap(text, font, width, 2, more);
    if (!more) return lines;
    const QFontMetricsF metrics(font);
    qsizetype end = 0;
    wrap(text, font, width, 1, more, &end);
    if (mode == Qt::ElideRight) {
        // The first line as it wraps, all the rest on the second, cut at its end.
        lines[1] = metrics.elidedText(text.mid(end).trimmed(), Qt::ElideRight, width);
        return lines;
    }
    // A first line that a long word left short is filled with as much as fits.
    if (metrics.horizontalAdvance(lines[0]) < 0.6 * width) {
        end = 0;
        while (end < text.size() && metrics.horizontalAdvance(text.left(end + 1)) <= width) ++end;
        lines[0] = text.left(end).trimmed();
    }
    lines[1] = QString(QChar(0x2026)) + endThatFits(text, end, metrics, width);
    return lines;
}

void reveal(ConversionViewModel& viewModel, const std::filesystem::path& path) { viewModel.revealInFinder(path); }

}  // namespace

ConsoleRow::ConsoleRow(ConversionViewModel& viewModel, const ConversionJob& job, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), job_(job), progress_(job.progress), previousStatus_(job.status),
      detail_(Theme::snappy), measure_(measure(job)) {
    setMouseTracking(true);
    checkbox_ = new RowCheckbox(this);
    pills_ = new FromToPills(viewModel_, job_, this);
    remove_ = new RowRemoveButton(this);
    convert_ = new GhostPillButton(tr("Convert"), 28, this);
    retry_ = new GhostPillButton(tr("Retry"), 28, this);
    reveal_ = new RevealButton(this);
    settledCell_ = std::max<double>(statusCellWidth(), minStatus);
    connect(checkbox_, &QAbstractButton::clicked, this, [this] { viewModel_.toggleSelection(job_.id); });
    connect(remove_, &QAbstractButton::clicked, this, [this] { viewModel_.removeJob(job_); });
    // The conversion is the view model's: it goes on when the row is reused or gone.
    for (auto* button : {convert_, retry_})
        connect(button, &QAbstractButton::clicked, this, [this] { viewModel_.convertSingleJob(job_); });
    connect(reveal_, &QAbstractButton::clicked, this, [this] {
        if (job_.outputURL) reveal(viewModel_, *job_.outputURL);
    });
    connect(&hover_, &SpringValue::valueChanged, this, qOverload<>(&QWidget::update));
    connect(&statusFade_, &SpringValue::valueChanged, this, [this] {
        update(statusChangeRect());
        if (outgoingCellOpacity() <= 0.0) {
            showCellButtons();
            if (holding_) startMove();
        }
    });
    connect(&move_, &SpringValue::valueChanged, this, [this] {
        layoutChildren();
        update();
    });
    connect(&detail_, &NumericTextTransition::changed, this, [this] { update(nameRect().toAlignedRect()); });
    connect(&progress_, &SpringValue::valueChanged, this, [this] {
        if (job_.status == ConversionStatus::converting) update(statusRect().toAlignedRect());
    });
    connect(&viewModel_, &ConversionViewModel::selectionChanged, this, [this] { refresh(); });
    // Every descendant: a fading row draws them itself.
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
    detail_.setText(detailText(), false);
    refresh(false);
    connect(&ThumbnailLoader::shared(), &ThumbnailLoader::made, this, [this](const QString& file) {
        if (!thumbnail_ && wantsThumbnail() && file == QString::fromStdString(pathKey(job_.sourceURL))) takeCachedThumbnail();
    });
    startThumbnailTask();
}

void ConsoleRow::setJob(const ConversionJob& job) {
    // The list hands every row its job again when the list changes: most are as they were.
    if (job == job_) return;
    // A row the list moves to another job shows it as it is, without motion from the last one.
    const bool sameJob = job.id == job_.id;
    const bool sameSource = sameJob && job.sourceURL == job_.sourceURL;
    const ConversionStatus before = job_.status;
    // Where the pills and the remove button stand now, before the pills take their new width.
    std::tie(fromRemove_, fromPills_) = placesNow();
    job_ = job;
    measure_ = measure(job_);
    // Another job's row starts its own thumbnail task, even for a file this row showed before.
    if (!sameSource) thumbnail_.reset(), thumbnailTaskKey_.clear();
    if (sameJob && before != job_.status) {
        previousStatus_ = before;
        statusFade_.setImmediately(0.0);
        statusFade_.animateTo(1.0, Theme::snappy);
    } else if (!sameJob) {
        previousStatus_ = job_.status;
        statusFade_.setImmediately(1.0);
    }
    // A conversion that starts (again) starts its bar from its own value, not from the last run's.
    const bool starts = job_.status == ConversionStatus::converting && before != ConversionStatus::converting;
    if (sameJob && !starts) progress_.animateTo(job_.progress, progressSpring);
    else progress_.setImmediately(job_.progress);
    const bool failedText = job_.status == ConversionStatus::failed || before == ConversionStatus::failed;
    detail_.setText(detailText(), sameJob && !failedText);
    pills_->setJob(job_);
    // Another value of the same status (progress, sizes) leaves a move under way as it is.
    if (!sameJob || before != job_.status) placeForStatus(before, sameJob);
    refresh(sameJob);
    startThumbnailTask();
}

void ConsoleRow::placeForStatus(ConversionStatus before, bool animated) {
    const double wanted = std::max<double>(statusCellWidth(), minStatus);
    if (!animated || wanted > settledCell_) {
        holding_ = false;
        settledCell_ = wanted;
        move_.setImmediately(1.0);
        return;
    }
    // Clear of the cell going: the pills' right edge, and the remove button when it shows.
    const int goingLeft = width() - static_cast<int>(padH) - statusCellWidth(before);
    const int reach = hovering_ ? removeLeftFor(wanted) + remove_->width() : pillsLeftFor(wanted) + pills_->sizeHint().width();
    const bool clear = reach + 2 <= goingLeft || outgoingCellOpacity() <= 0.0;
    // Until it moves, each stays where it stood.
    holding_ = true;
    move_.setImmediately(0.0);
    if (clear) startMove();
    else settledCell_ = std::max(settledCell_, wanted);
}

void ConsoleRow::startMove() {
    holding_ = false;
    settledCell_ = std::max<double>(statusCellWidth(), minStatus);
    move_.setImmediately(0.0);
    move_.animateTo(1.0, Theme::snappy);
}

double ConsoleRow::outgoingCellOpacity() const {
    if (previousStatus_ == job_.status) return 0.0;
    const double fade = std::clamp(statusFade_.value(), 0.0, 1.0);
    if (fade >= 1.0 && statusFade_.target() >= 1.0) return 0.0;
    // Convert and Retry go at once; the progress and "Done" fade out in the first half.
    const bool fades = previousStatus_ == ConversionStatus::converting || previousStatus_ == ConversionStatus::completed;
    return fades ? std::clamp(1.0 - 2.0 * fade, 0.0, 1.0) : 0.0;
}

double ConsoleRow::incomingCellOpacity() const {
    const double fade = std::clamp(statusFade_.value(), 0.0, 1.0);
    if (previousStatus_ == job_.status) return 1.0;
    const bool after = previousStatus_ == ConversionStatus::converting || previousStatus_ == ConversionStatus::completed;
    return after ? std::clamp(2.0 * fade - 1.0, 0.0, 1.0) : fade;
}

void ConsoleRow::setFrozen(bool frozen) {
    if (frozen == frozen_) return;
    frozen_ = frozen;
    // Taken now, in the frame in which the list changes: the frames after it paint the rows that
    // come in.
    picture_ = QPixmap();
    if (frozen) takePicture();
    else update();
}

void ConsoleRow::takePicture() {
    const qreal ratio = devicePixelRatioF();
    picture_ = QPixmap((QSizeF(size()) * ratio).toSize());
    picture_.setDevicePixelRatio(ratio);
    picture_.fill(Qt::transparent);
    QPainter painter(&picture_);
    paintRow(painter, rect(), 1.0, false);
    renderingChildren_ = true;
    for (QObject* object : children())
        if (auto* child = qobject_cast<QWidget*>(object); child && !child->isWindow() && !child->isHidden())
            child->render(&painter, child->pos(), QRegion(), QWidget::DrawChildren);
    renderingChildren_ = false;
}

void ConsoleRow::setOpacity(double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity == opacity_) return;
    opacity_ = opacity;
    update();
}

bool ConsoleRow::isSelected() const { return viewModel_.selection().count(job_.id) > 0; }

void ConsoleRow::refresh(bool animated) {
    const bool selected = isSelected();
    checkbox_->setSelected(selected, animated);
    checkbox_->setToolTip(selected ? tr("Deselect") : tr("Select"));
    checkbox_->setAccessibleName(tr("Select ") + QString::fromStdString(job_.fileName));
    checkbox_->setAccessibleDescription(selected ? tr("Selected") : tr("Not selected"));
    remove_->setEnabled(job_.status != ConversionStatus::converting);
    remove_->setShown(hovering_);
    showCellButtons();
    reveal_->setVisible(job_.status == ConversionStatus::completed);
    setToolTip(QString());
    layoutChildren();
    update();
}

void ConsoleRow::showCellButtons() {
    // Convert and Retry come at once, but only once the cell going has faded out.
    const bool free = outgoingCellOpacity() <= 0.0;
    convert_->setVisible(free && job_.status == ConversionStatus::pending);
    retry_->setVisible(free && job_.status == ConversionStatus::failed);
}

bool ConsoleRow::wantsThumbnail() const {
    if (ScreenshotMode::active) return false;
    const FileCategory category = job_.detectedFormat.category();
    return category == FileCategory::image || category == FileCategory::video || job_.detectedFormat == SupportedFormat::pdf;
}

void ConsoleRow::startThumbnailTask() {
    const QString key = QString::fromStdString(pathKey(job_.sourceURL)) +
                        (job_.status == ConversionStatus::completed ? "-true" : "-false");
    if (key == thumbnailTaskKey_) return;
    thumbnailTaskKey_ = key;
    if (!wantsThumbnail() || thumbnail_ || takeCachedThumbnail()) return;
    ThumbnailLoader::shared().thumbnail(job_.sourceURL, this, [](std::optional<QImage>) {});
}

bool ConsoleRow::takeCachedThumbnail() {
    const QImage* cached = ThumbnailLoader::shared().cache().object(ThumbnailLoader::key(job_.sourceURL));
    if (!cached) return false;
    thumbnail_ = *cached;
    update();
    return true;
}

QString ConsoleRow::detailText() const {
    if (job_.status == ConversionStatus::failed)
        return job_.errorMessage ? QString::fromStdString(*job_.errorMessage) : tr("Conversion failed");
    if (job_.status == ConversionStatus::completed)
        if (const auto delta = job_.sizeDeltaFormatted()) return QString::fromStdString(*delta);
    return QString::fromStdString(formatByteCount(job_.fileSize));
}

QString ConsoleRow::percentText() const { return QString::number(truncatedPercent(job_.progress)) + "%"; }

double ConsoleRow::progressFillWidth() const { return std::max(barWidth * std::clamp(job_.progress, 0.0, 1.0), 4.0); }

QColor ConsoleRow::backgroundColor() const {
    const bool dark = Theme::scheme(this) == ColorScheme::dark;
    if (isSelected()) return dark ? rgbColor(0xFFFFFF, 0.09) : rgbColor(0x000000, 0.11);
    return mixColor(Qt::transparent, Theme::hoverFill(Theme::scheme(this)), hover_.value());
}

int ConsoleRow::statusCellWidth(ConversionStatus status) {
    // The cells' texts and buttons never change: measured once, not on each paint.
    static const std::array<int, 4> widths = [] {
        const QFontMetricsF metrics(statusFont());
        return std::array<int, 4>{
            GhostPillButton::widthFor(tr("Convert")), static_cast<int>(barWidth + 10 + 34),
            static_cast<int>(11 + 6 + metrics.horizontalAdvance(tr("Done")) + 8 + 28 + 1),
            static_cast<int>(12 + 8 + metrics.horizontalAdvance(tr("Failed")) + 8 + GhostPillButton::widthFor(tr("Retry")) + 1)};
    }();
    switch (status) {
        case ConversionStatus::pending: return widths[0];
        case ConversionStatus::converting: return widths[1];
        case ConversionStatus::completed: return widths[2];
        case ConversionStatus::failed: return widths[3];
    }
    return static_cast<int>(minStatus);
}

ConsoleRow::Measure ConsoleRow::measure(const ConversionJob& job) {
    Measure m;
    m.name = QFontMetricsF(nameFont()).horizontalAdvance(QString::fromStdString(job.fileName));
    if (job.status == ConversionStatus::failed)
        m.detail = QFontMetricsF(detailFont()).horizontalAdvance(
            job.errorMessage ? QString::fromStdString(*job.errorMessage) : tr("Conversion failed"));
    m.pills = FromToPills::widthFor(job);
    m.status = job.status;
    return m;
}

double ConsoleRow::nameWidthFor(int width, double pills, double cell) {
    // As layoutChildren places the pills: left of the remove button, never over the name's least width.
    const int removeLeft = static_cast<int>(width - padH - cell) - 4 - static_cast<int>(removeSide);
    const int pillsLeft = std::max(removeLeft - static_cast<int>(spacing) - static_cast<int>(pills),
                                   static_cast<int>(nameLeft + minNameWidth + spacing));
    return std::max(minNameWidth, pillsLeft - spacing - nameLeft);
}

int ConsoleRow::heightFor(const Measure& m, int width) {
    const double nameWidth = nameWidthFor(width, m.pills, std::max<double>(statusCellWidth(m.status), minStatus));
    const int nameLines = m.name > nameWidth ? 2 : 1;
    const int detailLines = m.status == ConversionStatus::failed && m.detail > nameWidth ? 2 : 1;
    const double block = nameLines * lineHeights().name + 2 + detailLines * lineHeights().detail;
    return std::max(rowHeight, static_cast<int>(std::ceil(block + 2 * padV)));
}

ConsoleRow::Block ConsoleRow::textBlock() const {
    // The number of lines as the list measured the row, from the cell the row ends with; the
    // lines themselves fill the name column as it is now.
    const double settled = nameWidthFor(width(), measure_.pills, std::max<double>(statusCellWidth(), minStatus));
    Block block;
    block.nameLines = measure_.name > settled ? 2 : 1;
    block.detailLines = measure_.status == ConversionStatus::failed && measure_.detail > settled ? 2 : 1;
    const double nameHeight = block.nameLines * lineHeights().name, detailHeight = block.detailLines * lineHeights().detail;
    const double top = (height() - (nameHeight + 2 + detailHeight)) / 2;
    const QRectF column = nameRect();
    block.name = QRectF(column.left(), top, column.width(), nameHeight);
    block.detail = QRectF(column.left(), top + nameHeight + 2, column.width(), detailHeight);
    return block;
}

const QStringList& ConsoleRow::Wrapped::of(const QString& newText, const QFont& font, double newWidth, int maxLines,
                                          Qt::TextElideMode mode) {
    if (text != newText || width != newWidth || lineCount != maxLines) {
        text = newText;
        width = newWidth;
        lineCount = maxLines;
        lines = maxLines == 1 ? QStringList{QFontMetricsF(font).elidedText(newText, mode, newWidth)}
                              : twoLines(newText, font, newWidth, mode);
    }
    return lines;
}

QStringList ConsoleRow::nameLines() const {
    const Block block = textBlock();
    const QString name = QString::fromStdString(job_.fileName);
    return nameWrap_.of(name, nameFont(), block.name.width(), block.nameLines, Qt::ElideMiddle);
}

QStringList ConsoleRow::detailLines() const {
    if (job_.status != ConversionStatus::failed) return {detailText()};
    const Block block = textBlock();
    const QString text = detailText();
    return detailWrap_.of(text, detailFont(), block.detail.width(), block.detailLines, Qt::ElideRight);
}

QRectF ConsoleRow::statusRect() const {
    const double w = std::max<double>(statusCellWidth(), minStatus);
    return {width() - padH - w, 0, w, static_cast<double>(height())};
}

QRectF ConsoleRow::nameRect() const {
    // The name column ends where the pills begin, and moves with them.
    const double right = placesNow().second - spacing;
    return {nameLeft, 0, std::max(minNameWidth, right - nameLeft), static_cast<double>(height())};
}

std::pair<int, int> ConsoleRow::placesNow() const {
    double removeX = removeLeftFor(settledCell_), pillsX = pillsLeftFor(settledCell_);
    if (holding_) {
        removeX = fromRemove_;
        pillsX = fromPills_;
    } else if (move_.value() < 1.0 || move_.target() < 1.0) {
        removeX = fromRemove_ + (removeX - fromRemove_) * move_.value();
        pillsX = fromPills_ + (pillsX - fromPills_) * move_.value();
    }
    return {static_cast<int>(std::lround(removeX)), static_cast<int>(std::lround(pillsX))};
}

int ConsoleRow::removeLeftFor(double cell) const {
    return static_cast<int>(width() - padH - cell) - 4 - remove_->width();
}

int ConsoleRow::pillsLeftFor(double cell) const {
    return std::max(removeLeftFor(cell) - static_cast<int>(spacing) - pills_->sizeHint().width(),
                    static_cast<int>(nameLeft + minNameWidth + spacing));
}

void ConsoleRow::layoutChildren() {
    const int mid = height() / 2;
    checkbox_->move(static_cast<int>(padH), mid - checkbox_->height() / 2);
    const QRectF status = statusRect();
    const int cellRight = static_cast<int>(status.right());
    convert_->resize(convert_->sizeHint());
    convert_->move(cellRight - convert_->width(), mid - convert_->height() / 2);
    retry_->resize(retry_->sizeHint());
    retry_->move(cellRight - retry_->width(), mid - retry_->height() / 2);
    reveal_->move(cellRight - reveal_->width(), mid - reveal_->height() / 2);
    // The remove button and the pills stand left of the settled cell, or move there from where
    // they stood (see placeForStatus).
    pills_->resize(pills_->sizeHint());
    const auto [removeX, pillsX] = placesNow();
    remove_->move(removeX, mid - remove_->height() / 2);
    pills_->move(pillsX, mid - pills_->height() / 2);
}

void ConsoleRow::resizeEvent(QResizeEvent* event) {
    // A new width places everything at once; a new height (the list's for the new status) does not.
    if (event->oldSize().width() != width() && (holding_ || move_.value() < 1.0 || move_.target() < 1.0)) {
        holding_ = false;
        settledCell_ = std::max<double>(statusCellWidth(), minStatus);
        move_.setImmediately(1.0);
    }
    layoutChildren();
}

QRect ConsoleRow::statusChangeRect() const {
    // Both cells, the one going and the one coming, with the reveal button.
    const int cell = std::max({statusCellWidth(previousStatus_), statusCellWidth(), static_cast<int>(minStatus)});
    const int right = width() - static_cast<int>(padH);
    return {right - cell - 1, 0, cell + static_cast<int>(padH) + 1, height()};
}

void ConsoleRow::paintEvent(QPaintEvent* event) {
    // Nothing to draw while transparent; a frozen row draws its picture.
    if (opacity_ <= 0.0) return;
    QPainter painter(this);
    if (frozen_) {
        if (picture_.isNull()) takePicture();
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, picture_);
        return;
    }
    paintRow(painter, event->rect(), opacity_, opacity_ < 1.0 || revealFades());
}

void ConsoleRow::paintRow(QPainter& painter, const QRect& dirty, double opacity, bool withChildren) {
    const ColorScheme scheme = Theme::scheme(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity);
    painter.fillRect(rect(), backgroundColor());
    // The hairline between rows.
    CardDivider::paint(painter, QRectF(0, height() - Theme::hairline(this), width(), Theme::hairline(this)), padH, scheme,
                       devicePixelRatioF());

    // Only the parts in the dirty area: progress and status repaint their cell alone, often.
    const QRectF tile(padH + checkSide + spacing, (height() - tileSide) / 2.0, tileSide, tileSide);
    if (dirty.intersects(tile.toAlignedRect())) paintTile(painter, tile);
    const QRectF names = nameRect();
    if (dirty.intersects(names.toAlignedRect())) paintNames(painter, names);

    // The status cell's drawn parts; its buttons are children. A status that changes fades (the
    // progress, and "Done" as it scales up from 0.85); the Convert and Retry cells come and go at once.
    if (const double out = outgoingCellOpacity(); out > 0.0) paintStatus(painter, previousStatus_, out, 0.85 + 0.15 * out);
    const double in = incomingCellOpacity();
    paintStatus(painter, job_.status, in, 0.85 + 0.15 * in);

    if (withChildren) paintChildren(painter, opacity);
}

void ConsoleRow::paintTile(QPainter& painter, const QRectF& tile) {
    const ColorScheme scheme = Theme::scheme(this);
    const QPainterPath tileShape = Theme::continuousRoundedRect(tile, 8);
    painter.fillPath(tileShape, Theme::hoverFill(scheme));
    if (thumbnail_ && !thumbnail_->isNull()) {
        // Scaled once into the tile, not on every paint: rows repaint often while they move.
        const qreal ratio = devicePixelRatioF();
        if (tilePicture_.isNull() || tilePictureKey_ != thumbnail_->cacheKey() || tilePicture_.devicePixelRatio() != ratio) {
            tilePicture_ = QPixmap((QSizeF(tileSide, tileSide) * ratio).toSize());
            tilePicture_.setDevicePixelRatio(ratio);
            tilePicture_.fill(Qt::transparent);
            QPainter picture(&tilePicture_);
            picture.setRenderHint(QPainter::Antialiasing);
            picture.setRenderHint(QPainter::SmoothPixmapTransform);
            const QRectF local(0, 0, tileSide, tileSide);
            picture.setClipPath(Theme::continuousRoundedRect(local, 8));
            const QSizeF size = QSizeF(thumbnail_->size()).scaled(local.size(), Qt::KeepAspectRatioByExpanding);
            QRectF target(QPointF(), size);
            target.moveCenter(local.center());
            picture.drawImage(target, *thumbnail_);
            tilePictureKey_ = thumbnail_->cacheKey();
        }
        painter.drawPixmap(tile.topLeft(), tilePicture_);
    } else {
        Symbols::paint(painter, tile, job_.detectedFormat.category().icon(), 15, QFont::Light, Theme::textTertiary(scheme));
    }
    painter.setPen(QPen(scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16), 1));
    painter.drawPath(Theme::continuousRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), 8));
}

void ConsoleRow::paintNames(QPainter& painter, const QRectF&) const {
    const ColorScheme scheme = Theme::scheme(this);
    const Block block = textBlock();
    const LineHeights& line = lineHeights();
    painter.setFont(nameFont());
    painter.setPen(Theme::textPrimary(scheme));
    double y = block.name.top();
    for (const QString& text : nameLines()) {
        painter.drawText(QRectF(block.name.left(), y, block.name.width(), line.name), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += line.name;
    }
    if (job_.status == ConversionStatus::failed) {
        QColor colour = Theme::errorText(scheme);
        colour.setAlphaF(colour.alphaF() * 0.85f);
        painter.setFont(detailFont());
        painter.setPen(colour);
        y = block.detail.top();
        for (const QString& text : detailLines()) {
            painter.drawText(QRectF(block.detail.left(), y, block.detail.width(), line.detail), Qt::AlignLeft | Qt::AlignVCenter,
                             text);
            y += line.detail;
        }
    } else {
        painter.setFont(detailFont());
        painter.setPen(Theme::textQuaternary(scheme));
        painter.save();
        painter.setClipRect(block.detail.adjusted(0, -2, 0, 2));
        detail_.paint(painter, block.detail, Qt::AlignLeft | Qt::AlignVCenter);
        painter.restore();
    }
}

QTransform ConsoleRow::statusScale(ConversionStatus status, double scale) const {
    if (status != ConversionStatus::completed || scale == 1.0) return {};
    const QRectF cell = statusRect();
    const QPointF centre(cell.right() - statusCellWidth(ConversionStatus::completed) / 2.0, height() / 2.0);
    return QTransform::fromTranslate(-centre.x(), -centre.y()) * QTransform::fromScale(scale, scale) *
           QTransform::fromTranslate(centre.x(), centre.y());
}

void ConsoleRow::paintStatus(QPainter& painter, ConversionStatus status, double opacity, double scale) const {
    const bool fades = status == ConversionStatus::converting || status == ConversionStatus::completed;
    if (!fades && opacity > 0.0) opacity = 1.0;
    if (opacity <= 0.0) return;
    const ColorScheme scheme = Theme::scheme(this);
    const QRectF cell = statusRect();
    const double cellLeft = cell.right() - statusCellWidth(status);
    const double rowH = height(), mid = rowH / 2;
    painter.save();
    painter.setOpacity(painter.opacity() * opacity);
    painter.setTransform(statusScale(status, scale), true);
    if (status == ConversionStatus::converting) {
        const QRectF track(cellLeft, mid - 2.5, barWidth, 5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16));
        painter.drawRoundedRect(track, 2.5, 2.5);
        painter.setBrush(Theme::accentFill(this));
        const double shown = std::max(barWidth * std::clamp(progress_.value(), 0.0, 1.0), 4.0);
        painter.drawRoundedRect(QRectF(track.left(), track.top(), shown, 5), 2.5, 2.5);
        // The percentage counts along with the bar.
        painter.setFont(Theme::font(12));
        painter.setPen(Theme::textTertiary(scheme));
        TabularText::draw(painter, QRectF(track.right() + 10, 0, 34, rowH), Qt::AlignRight | Qt::AlignVCenter,
                          QString::number(truncatedPercent(std::clamp(progress_.value(), 0.0, 1.0))) + "%");
    } else if (status == ConversionStatus::completed) {
        Symbols::paint(painter, QRectF(cellLeft, 0, 11, rowH), "checkmark", 11, QFont::Bold, Theme::accentFill(this));
        painter.setFont(statusFont());
        painter.setPen(Theme::textPrimary(scheme));
        painter.drawText(QRectF(cellLeft + 17, 0, 60, rowH), Qt::AlignLeft | Qt::AlignVCenter, tr("Done"));
    } else if (status == ConversionStatus::failed) {
        Symbols::paint(painter, QRectF(cellLeft, 0, 12, rowH), "exclamationmark.triangle.fill", 10, QFont::DemiBold,
                       Theme::errorText(scheme));
        painter.setFont(statusFont());
        painter.setPen(Theme::errorText(scheme));
        painter.drawText(QRectF(cellLeft + 20, 0, 60, rowH), Qt::AlignLeft | Qt::AlignVCenter, tr("Failed"));
    }
    painter.restore();
}

bool ConsoleRow::revealFades() const {
    return statusFading() && previousStatus_ != job_.status &&
           (job_.status == ConversionStatus::completed || previousStatus_ == ConversionStatus::completed);
}

bool ConsoleRow::paintsChildren() const { return opacity_ < 1.0 || frozen_; }

void ConsoleRow::paintChildren(QPainter& painter, double rowOpacity) {
    // The children drawn here, so that they take the row's opacity (and the reveal button the
    // status cell's); their own paint events are held back meanwhile. A fading row draws them
    // all into one layer first, so that each needs no picture of its own.
    const bool all = paintsChildren();
    renderingChildren_ = true;
    // The layer covers the children only, a band across the row's middle.
    QRect band;
    if (all)
        for (QObject* object : children())
            if (auto* child = qobject_cast<QWidget*>(object);
                child && !child->isWindow() && (!child->isHidden() || (child == reveal_ && revealFades())))
                band |= child->geometry();
    QPainter* target = &painter;
    std::optional<QPainter> layerPainter;
    if (all && !band.isEmpty()) {
        const qreal ratio = devicePixelRatioF();
        const QSize size = (QSizeF(band.size()) * ratio).toSize();
        if (childLayer_.size() != size || childLayer_.devicePixelRatio() != ratio) {
            childLayer_ = QPixmap(size);
            childLayer_.setDevicePixelRatio(ratio);
        }
        childLayer_.fill(Qt::transparent);
        layerPainter.emplace(&childLayer_);
        layerPainter->translate(-band.topLeft());
        target = &*layerPainter;
    }
    for (QObject* object : children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (!child || child->isWindow() || (!all && child != reveal_)) continue;
        double opacity = 1.0;
        QTransform transform;
        if (child == reveal_ && revealFades()) {
            const double in = job_.status == ConversionStatus::completed ? incomingCellOpacity() : outgoingCellOpacity();
            opacity = in;
            transform = statusScale(ConversionStatus::completed, 0.85 + 0.15 * in);
        } else if (child->isHidden()) {
            continue;
        }
        if (opacity <= 0.0) continue;
        target->save();
        target->setOpacity(layerPainter ? opacity : rowOpacity * opacity);
        target->setTransform(transform, true);
        child->render(target, child->pos(), QRegion(), QWidget::DrawChildren);
        target->restore();
    }
    renderingChildren_ = false;
    if (layerPainter) {
        layerPainter.reset();
        painter.save();
        painter.setOpacity(rowOpacity);
        painter.drawPixmap(band.topLeft(), childLayer_);
        painter.restore();
    }
}

bool ConsoleRow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !renderingChildren_ &&
        (paintsChildren() || (watched == reveal_ && revealFades())))
        return true;
    return QWidget::eventFilter(watched, event);
}

void ConsoleRow::setHovering(bool hovering) {
    if (hovering == hovering_) return;
    hovering_ = hovering;
    hover_.animateTo(hovering ? 1 : 0, Spring{0.12, 1.0, 0});
    remove_->setShown(hovering);
}

void ConsoleRow::enterEvent(QEnterEvent*) { setHovering(true); }

void ConsoleRow::leaveEvent(QEvent*) { setHovering(false); }

bool ConsoleRow::canDrag() const { return job_.status == ConversionStatus::completed && job_.outputURL.has_value(); }

void ConsoleRow::mousePressEvent(QMouseEvent* event) {
    pressAt_ = event->position().toPoint();
    // Clicks on the row itself select nothing.
    event->accept();
}

void ConsoleRow::mouseMoveEvent(QMouseEvent* event) {
    // Tooltips for the name and the failure text follow the pointer.
    const QPoint at = event->position().toPoint();
    if (nameRect().contains(at)) {
        const bool onDetail = at.y() >= textBlock().detail.top() - 1 && job_.status == ConversionStatus::failed;
        setToolTip(onDetail ? detailText() : QString::fromStdString(job_.fileName));
    } else if (job_.status == ConversionStatus::failed && statusRect().contains(at)) {
        setToolTip(detailText());
    } else {
        setToolTip(QString());
    }
    if (!(event->buttons() & Qt::LeftButton) || !canDrag()) return;
    if ((at - pressAt_).manhattanLength() < QApplication::startDragDistance()) return;
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setUrls({qtpaths::fileURL(*job_.outputURL)});
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction);
}

QMenu* ConsoleRow::makeContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    Theme::styleMenu(menu);
    ConversionViewModel* vm = &viewModel_;
    const ConversionJob job = job_;
    connect(menu->addAction(tr("Show Source in Files")), &QAction::triggered, menu,
            [vm, job] { reveal(*vm, job.sourceURL); });
    if (job.outputURL)
        connect(menu->addAction(tr("Show Converted File")), &QAction::triggered, menu,
                [vm, job] { reveal(*vm, *job.outputURL); });
    if (Compressor::compressionTarget(job.detectedFormat)) {
        menu->addSeparator();
        connect(menu->addAction(tr("Compress…")), &QAction::triggered, menu, [vm, job] {
            if (Compressor::compressionTarget(job.detectedFormat)) vm->setCompressingJob(job);
        });
    }
    menu->addSeparator();
    connectAfterMenuCloses(menu->addAction(tr("Set Output Folder for This File…")), vm,
                           [vm, id = job.id] { vm->pickOutputDirForJob(id); });
    connect(menu->addAction(tr("Duplicate Row")), &QAction::triggered, menu, [vm, job] { vm->duplicateJob(job); });
    menu->addSeparator();
    QAction* remove = menu->addAction(tr("Remove"));
    Theme::markDestructive(remove);
    connect(remove, &QAction::triggered, menu, [vm, job] { vm->removeJob(job); });
    return menu;
}

void ConsoleRow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

}  // namespace calvoro
