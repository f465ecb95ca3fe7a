#include "app/ui/compress_sheet/compress_sheet.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/tabular_text.h"
#include "app/ui/theme/theme.h"
#include "compressor/compressor.h"
#include "core/text_util.h"

namespace calvoro {
namespace {

constexpr double pad = 16, minMainHeight = 190, listPadV = 12, rowPadH = 12, rowPadV = 10, footerButtonHeight = 28;

QColor toneColour(CompressSheet::Tone tone, ColorScheme scheme) {
    switch (tone) {
        case CompressSheet::Tone::quaternary: return Theme::textQuaternary(scheme);
        case CompressSheet::Tone::secondary: return Theme::textSecondary(scheme);
        case CompressSheet::Tone::primary: break;
    }
    return Theme::textPrimary(scheme);
}

QColor selectedFill(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.09) : rgbColor(0x000000, 0.11);
}

QString bytes(int64_t count) { return QString::fromStdString(formatByteCount(count)); }

double lineHeight(const QFont& font) { return QFontMetricsF(font).height(); }

// A plain text button: "Cancel".
class TextButton : public HoverButton {
public:
    TextButton(const QString& text, QWidget* parent) : HoverButton(parent) {
        setLabel(text);
        FocusRing::setShape(this, 4);
        const QFontMetricsF metrics(Theme::font(12));
        setFixedSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text))) + 4, static_cast<int>(footerButtonHeight));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(Theme::font(12));
        painter.setPen(Theme::textSecondary(Theme::scheme(this)));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

// "Compress": filled with the accent once a level is chosen, muted and disabled before.
class CompressButton : public HoverButton {
public:
    CompressButton(ConversionViewModel& viewModel, QWidget* parent) : HoverButton(parent), viewModel_(viewModel) {
        setLabel(QStringLiteral("Compress"));
        const QFontMetricsF metrics(Theme::font(12, QFont::DemiBold));
        setFixedSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) + 24)), static_cast<int>(footerButtonHeight));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill, ink;
        if (isEnabled()) {
            fill = Theme::accentFill(viewModel_.accent(), scheme);
            ink = Theme::contrastOn(fill);
        } else {
            fill = selectedFill(scheme);
            ink = Theme::textQuaternary(scheme);
        }
        painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 8), fill);
        painter.setFont(Theme::font(12, QFont::DemiBold));
        painter.setPen(ink);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    ConversionViewModel& viewModel_;
};

}  // namespace

// A small indeterminate progress indicator: an arc turning once a second.
class CompressSheet::Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent) {
        setFixedSize(16, 16);
        timer_.setInterval(16);
        connect(&timer_, &QTimer::timeout, this, [this] {
            angle_ = (angle_ + 6) % 360;
            update();
        });
        if (!ScreenshotMode::active) timer_.start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF circle = QRectF(rect()).adjusted(2, 2, -2, -2);
        const ColorScheme scheme = Theme::scheme(this);
        painter.setPen(QPen(Theme::separator(scheme), 2));
        painter.drawEllipse(circle);
        painter.setPen(QPen(Theme::textSecondary(scheme), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(circle, -angle_ * 16, 100 * 16);
    }

private:
    QTimer timer_;
    int angle_ = 0;
};

// One level: selection mark, name and caption, then size, saving and quality loss.
class CompressSheet::LevelRow : public HoverButton {
public:
    LevelRow(CompressSheet* sheet, CompressionEstimate estimate) : HoverButton(sheet), sheet_(sheet), estimate_(estimate) {
        setAccessibleName(QString::fromStdString(estimate.level.label()));
        FocusRing::setShape(this, 10);
        setFixedHeight(static_cast<int>(std::ceil(rowHeight())));
        connect(this, &QAbstractButton::clicked, this, [this] { sheet_->select(estimate_.level); });
        connect(&selection_, &SpringValue::valueChanged, this, qOverload<>(&QWidget::update));
        followSelection(false);
    }
    const CompressionEstimate& estimate() const { return estimate_; }
    // How far the row has come towards being the chosen one (0 or 1 when settled).
    double selectionProgress() const { return selection_.value(); }
    void followSelection(bool animated) {
        const double target = sheet_->selected() == estimate_.level ? 1 : 0;
        if (animated) selection_.animateTo(target, selectionSpring);
        else selection_.setImmediately(target);
    }
    static double rowHeight() {
        return 2 * rowPadV + std::max(lineHeight(Theme::font(12.5, QFont::Medium)) + 1 + lineHeight(Theme::font(10.5)),
                                      lineHeight(Theme::font(12.5, QFont::DemiBold)) + 1 + lineHeight(Theme::font(10.5)));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        // The fill fades and the mark turns from one circle into the other as the choice moves.
        const double chosen = std::clamp(selection_.value(), 0.0, 1.0);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame(rect());
        if (chosen > 0) painter.fillPath(Theme::continuousRoundedRect(frame, 10), mixColor(Qt::transparent, selectedFill(scheme), chosen));

        const QColor primary = Theme::textPrimary(scheme), quaternary = Theme::textQuaternary(scheme);
        double x = rowPadH;
        const QRectF mark(x, 0, 14, height());
        const QColor accent = Theme::accentFill(sheet_->viewModel_.accent(), scheme);
        if (chosen < 1) Symbols::paint(painter, mark, "circle", 13, QFont::Normal, mixColor(Qt::transparent, quaternary, 1 - chosen));
        if (chosen > 0)
            Symbols::paint(painter, mark, "largecircle.fill.circle", 13, QFont::Normal, mixColor(Qt::transparent, accent, chosen));
        x += 14 + 12;

        const QFont name = Theme::font(12.5, QFont::Medium), small = Theme::font(10.5);
        const double smallHeight = lineHeight(small);
        const double leftTop = (height() - (lineHeight(name) + 1 + smallHeight)) / 2;
        painter.setFont(name);
        painter.setPen(primary);
        painter.drawText(QRectF(x, leftTop, width(), lineHeight(name)), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(estimate_.level.label()));
        painter.setFont(small);
        painter.setPen(quaternary);
        painter.drawText(QRectF(x, leftTop + lineHeight(name) + 1, width(), smallHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         caption(estimate_.level));

        const QFont size = Theme::font(12.5, QFont::DemiBold), saved = Theme::font(10.5, QFont::Medium);
        const double right = width() - rowPadH;
        const double rightTop = (height() - (lineHeight(size) + 1 + smallHeight)) / 2;
        painter.setFont(size);
        painter.setPen(primary);
        TabularText::draw(painter, QRectF(0, rightTop, right, lineHeight(size)), Qt::AlignRight | Qt::AlignVCenter,
                          sizeText(estimate_));
        // Right to left: loss, dot, saving, five points apart.
        const double y = rightTop + lineHeight(size) + 1;
        double end = right;
        auto piece = [&](const QString& text, const QFont& font, const QColor& colour) {
            const double w = TabularText::width(font, text);
            painter.setFont(font);
            painter.setPen(colour);
            TabularText::draw(painter, QRectF(end - w, y, w, smallHeight), Qt::AlignRight | Qt::AlignVCenter, text);
            end -= w + 5;
        };
        piece(lossText(estimate_), small, toneColour(lossTone(estimate_), scheme));
        piece(QString::fromUtf8("\u00B7"), small, quaternary);
        piece(savedText(estimate_), saved, Theme::textSecondary(scheme));
    }

private:
    static constexpr Spring selectionSpring{0.14, 1.0, 0};

    CompressSheet* sheet_;
    CompressionEstimate estimate_;
    SpringValue selection_;
};

CompressSheet::CompressSheet(ConversionViewModel& viewModel, ConversionJob job, std::function<void()> onClose, QWidget* parent)
    : ModalChrome(parent),
      viewModel_(viewModel),
      job_(std::move(job)),
      onClose_(std::move(onClose)),
      spinner_(new Spinner(this)),
      cancel_(new TextButton(QStringLiteral("Cancel"), this)),
      compress_(new CompressButton(viewModel, this)) {
    setFixedWidth(sheetWidth);
    compress_->setEnabled(false);
    connect(cancel_, &QAbstractButton::clicked, this, [this] {
        if (onClose_) onClose_();
    });
    connect(compress_, &QAbstractButton::clicked, this, [this] {
        if (!selected_) return;
        viewModel_.compress(job_, *selected_);
        if (onClose_) onClose_();
    });
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, [this] { update(); });
    // The measurement belongs to the sheet: a result arriving after it has gone is dropped.
    viewModel_.requestEstimates(
        job_, this,
        [this](std::vector<CompressionEstimate> estimates) {
            if (isMeasuring_) applyEstimates(std::move(estimates));
        },
        [this](std::string reason) {
            if (isMeasuring_) applyFailure(QString::fromStdString(reason));
        });
    relayout();
}

CompressSheet::State CompressSheet::state() const {
    if (isMeasuring_) return State::measuring;
    if (failure_) return State::failed;
    return estimates_.empty() ? State::noGain : State::list;
}

void CompressSheet::applyEstimates(std::vector<CompressionEstimate> estimates) {
    estimates_ = std::move(estimates);
    selected_.reset();
    for (const auto& estimate : estimates_)
        if (estimate.level == CompressionLevel::balanced) selected_ = estimate.level;
    if (!selected_ && !estimates_.empty()) selected_ = estimates_.front().level;
    isMeasuring_ = false;
    for (LevelRow* row : rows_) row->deleteLater();
    rows_.clear();
    for (const auto& estimate : estimates_) {
        auto* row = new LevelRow(this, estimate);
        row->show();
        rows_.push_back(row);
    }
    spinner_->hide();
    compress_->setEnabled(selected_.has_value());
    relayout();
}

void CompressSheet::applyFailure(QString reason) {
    applyEstimates({});
    failure_ = std::move(reason);
    update();
}

void CompressSheet::select(CompressionLevel level) {
    selected_ = level;
    compress_->setEnabled(true);
    update();
    for (LevelRow* row : rows_) row->followSelection(true);
}

double CompressSheet::selectionProgress(CompressionLevel level) const {
    for (LevelRow* row : rows_)
        if (row->estimate().level == level) return row->selectionProgress();
    return 0;
}

QWidget* CompressSheet::row(CompressionLevel level) const {
    for (LevelRow* row : rows_)
        if (row->estimate().level == level) return row;
    return nullptr;
}

std::optional<QString> CompressSheet::summary() const {
    if (!selected_) return std::nullopt;
    for (const auto& estimate : estimates_)
        if (estimate.level == *selected_)
            return bytes(job_.fileSize) + QString::fromUtf8(" \u2192 ") + bytes(estimate.byteSize);
    return std::nullopt;
}

QString CompressSheet::caption(CompressionLevel level) {
    switch (level) {
        case CompressionLevel::maximum: return QStringLiteral("Visually identical");
        case CompressionLevel::high: return QStringLiteral("Safe for printing");
        case CompressionLevel::balanced: return QStringLiteral("Good for sharing");
        case CompressionLevel::small: return QStringLiteral("Good for the web");
        case CompressionLevel::tiny: break;
    }
    return QStringLiteral("Smallest usable");
}

QString CompressSheet::sizeText(const CompressionEstimate& estimate) {
    return (estimate.isEstimate ? QStringLiteral("~") : QString()) + bytes(estimate.byteSize);
}

QString CompressSheet::savedText(const CompressionEstimate& estimate) {
    return QString::fromUtf8("\u2212") + QString::number(estimate.savedPercent()) + QStringLiteral("%");
}

QString CompressSheet::lossText(const CompressionEstimate& estimate) {
    if (!estimate.qualityLoss) return estimate.isEstimate ? QStringLiteral("estimated") : QString::fromUtf8("\u2014");
    if (*estimate.qualityLoss < 0.05) return QStringLiteral("no visible loss");
    return QString::fromStdString(formatFixed(*estimate.qualityLoss, 1)) + QStringLiteral("% loss");
}

CompressSheet::Tone CompressSheet::lossTone(const CompressionEstimate& estimate) {
    if (!estimate.qualityLoss || *estimate.qualityLoss < 2.0) return Tone::quaternary;
    return *estimate.qualityLoss < 8.0 ? Tone::secondary : Tone::primary;
}

double CompressSheet::headerHeight() const {
    return pad + lineHeight(Theme::titleFont()) + 4 + lineHeight(Theme::font(12)) + 4 + lineHeight(Theme::font(11)) + pad;
}

QRectF CompressSheet::mainArea() const {
    double height = minMainHeight;
    if (state() == State::list) height = 2 * listPadV + rows_.size() * LevelRow::rowHeight();
    return QRectF(0, headerHeight(), sheetWidth, height);
}

void CompressSheet::relayout() {
    const QRectF main = mainArea();
    double y = main.top() + listPadV;
    for (LevelRow* row : rows_) {
        row->setGeometry(QRectF(pad, y, sheetWidth - 2 * pad, LevelRow::rowHeight()).toRect());
        y += LevelRow::rowHeight();
    }
    const QFont label = Theme::font(12);
    const double labelWidth = QFontMetricsF(label).horizontalAdvance(QString::fromUtf8("Measuring each level\u2026"));
    const double rowWidth = spinner_->width() + 12 + labelWidth;
    spinner_->move(static_cast<int>((sheetWidth - rowWidth) / 2), static_cast<int>(main.center().y() - spinner_->height() / 2.0));
    const double footerTop = main.bottom();
    const double buttonsY = footerTop + pad;
    compress_->move(static_cast<int>(sheetWidth - pad - compress_->width()), static_cast<int>(buttonsY));
    cancel_->move(compress_->x() - 8 - cancel_->width(), static_cast<int>(buttonsY));
    setFixedHeight(static_cast<int>(std::ceil(footerTop + pad + footerButtonHeight + pad)));
    update();
}

void CompressSheet::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    ModalChrome::changeEvent(event);
}

void CompressSheet::paintEvent(QPaintEvent* event) {
    ModalChrome::paintEvent(event);
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintHeader(painter, scheme);
    const QRectF main = mainArea();
    switch (state()) {
        case State::measuring: paintMeasuring(painter, scheme, main); break;
        case State::noGain:
        case State::failed: paintOutcome(painter, scheme, main); break;
        case State::list: paintList(painter, scheme, main); break;
    }
    paintSummary(painter, scheme, main);
}

// Title, file name, size and where the copy goes when its type changes.
void CompressSheet::paintHeader(QPainter& painter, ColorScheme scheme) const {
    const QFont title = Theme::titleFont(), name = Theme::font(12), small = Theme::font(11);
    double y = pad;
    const double textWidth = sheetWidth - 2 * pad;
    painter.setFont(title);
    painter.setPen(Theme::textPrimary(scheme));
    painter.drawText(QRectF(pad, y, textWidth, lineHeight(title)), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Compress"));
    y += lineHeight(title) + 4;
    painter.setFont(name);
    painter.setPen(Theme::textSecondary(scheme));
    painter.drawText(QRectF(pad, y, textWidth, lineHeight(name)), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(name).elidedText(QString::fromStdString(job_.fileName), Qt::ElideMiddle, textWidth));
    y += lineHeight(name) + 4;
    const QString sizeLine = bytes(job_.fileSize);
    const auto target = Compressor::compressionTarget(job_.detectedFormat);
    painter.setFont(small);
    painter.setPen(Theme::textQuaternary(scheme));
    const double sizeWidth = TabularText::width(small, sizeLine);
    TabularText::draw(painter, QRectF(pad, y, sizeWidth, lineHeight(small)), Qt::AlignLeft | Qt::AlignVCenter, sizeLine);
    if (target && target->fileExtension() != job_.detectedFormat.fileExtension())
        painter.drawText(QRectF(pad + sizeWidth + 8, y, textWidth, lineHeight(small)), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromUtf8("\u00B7 saved as ") + QString::fromStdString(target->displayName()));
}

void CompressSheet::paintMeasuring(QPainter& painter, ColorScheme scheme, const QRectF& main) const {
    painter.setFont(Theme::font(12));
    painter.setPen(Theme::textSecondary(scheme));
    painter.drawText(QRectF(spinner_->geometry().right() + 13, main.top(), sheetWidth, main.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8("Measuring each level\u2026"));
}

// No level worth having, or no measurement at all: a symbol, a heading and why, centred.
void CompressSheet::paintOutcome(QPainter& painter, ColorScheme scheme, const QRectF& main) const {
    const bool failed = state() == State::failed;
    const QFont heading = Theme::font(13, QFont::Medium), body = Theme::font(11.5);
    const double stack = 26 + 8 + lineHeight(heading) + 8 + 2 * lineHeight(body);
    double top = main.top() + (main.height() - stack) / 2;
    Symbols::paint(painter, QRectF(0, top, sheetWidth, 26), failed ? "exclamationmark.triangle.fill" : "checkmark.seal", 22,
                   QFont::Light, Theme::textQuaternary(scheme));
    top += 26 + 8;
    painter.setFont(heading);
    painter.setPen(Theme::textPrimary(scheme));
    painter.drawText(QRectF(0, top, sheetWidth, lineHeight(heading)), Qt::AlignCenter,
                     failed ? QStringLiteral("Couldn't measure this file") : QStringLiteral("Already well compressed"));
    top += lineHeight(heading) + 8;
    painter.setFont(body);
    painter.setPen(Theme::textQuaternary(scheme));
    painter.drawText(QRectF(pad, top, sheetWidth - 2 * pad, 2 * lineHeight(body)), Qt::AlignCenter | Qt::TextWordWrap,
                     failed ? *failure_
                            : QStringLiteral("No level made this file meaningfully smaller,\n"
                                             "so there's nothing worth trading quality for."));
}

void CompressSheet::paintList(QPainter& painter, ColorScheme scheme, const QRectF& main) const {
    const QRectF list = main.adjusted(pad, listPadV, -pad, -listPadV);
    painter.fillPath(Theme::continuousRoundedRect(list, 10), scheme == ColorScheme::dark ? QColor(46, 46, 46) : QColor(Qt::white));
    // A hairline under every row but the last, from 12 points in.
    const double hairline = Theme::hairline(this);
    for (size_t i = 0; i + 1 < rows_.size(); ++i) {
        const double bottom = rows_[i]->geometry().bottom() + 1;
        painter.fillRect(QRectF(list.left() + 12, bottom - hairline, list.width() - 12, hairline), Theme::separator(scheme));
    }
}

void CompressSheet::paintSummary(QPainter& painter, ColorScheme scheme, const QRectF& main) const {
    const auto text = summary();
    if (!text) return;
    const QFont font = Theme::font(11.5);
    painter.setFont(font);
    painter.setPen(Theme::textSecondary(scheme));
    const QRectF line(pad, main.bottom() + pad, cancel_->x() - pad - 8, footerButtonHeight);
    TabularText::draw(painter, line, Qt::AlignLeft | Qt::AlignVCenter, TabularText::elided(font, *text, line.width()));
}

}  // namespace calvoro
