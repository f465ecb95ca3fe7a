#include "app/ui/console/console_main.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/accent_button.h"
#include "app/ui/console/card_divider.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/ghost_icon_pill_button.h"
#include "app/ui/console/ghost_pill_button.h"
#include "app/ui/console/text_button.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

// A bar with a background chosen by the scheme.
class Band : public QWidget {
public:
    Band(std::function<QColor(ColorScheme)> fill, QWidget* parent) : QWidget(parent), fill_(std::move(fill)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), fill_(Theme::scheme(this)));
    }

private:
    std::function<QColor(ColorScheme)> fill_;
};

// The search field's frame: a rounded, faintly filled and outlined box with the magnifier.
class SearchFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        const bool dark = scheme == ColorScheme::dark;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = Theme::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8);
        painter.fillPath(shape, dark ? rgbColor(0xFFFFFF, 0.035 * 0.7) : QColor(241, 241, 242));
        painter.setPen(QPen(Theme::separator(scheme), 1));
        painter.drawPath(shape);
        Symbols::paint(painter, QRectF(12, 0, 13, height()), "magnifyingglass", 12, QFont::Medium, Theme::textQuaternary(scheme));
    }
};

// A bare symbol that acts as a button.
class SymbolButton : public HoverButton {
public:
    SymbolButton(std::string symbol, double points, QWidget* parent)
        : HoverButton(parent), symbol_(std::move(symbol)), points_(points) {
        setFixedSize(16, 16);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        Symbols::paint(painter, QRectF(rect()), symbol_, points_, QFont::Normal, Theme::textQuaternary(Theme::scheme(this)));
    }

private:
    std::string symbol_;
    double points_;
};

// The small indeterminate spinner of a running batch.
class SmallSpinner : public QWidget {
public:
    explicit SmallSpinner(QWidget* parent) : QWidget(parent) {
        setFixedSize(12, 12);
        timer_.setInterval(80);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % 12;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override {
        if (!ScreenshotMode::active) timer_.start();
    }
    void hideEvent(QHideEvent*) override { timer_.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const QColor base = Theme::textTertiary(Theme::scheme(this));
        for (int i = 0; i < 12; ++i) {
            QColor c = base;
            c.setAlphaF(base.alphaF() * static_cast<float>(0.2 + 0.8 * ((i + 12 - step_) % 12) / 11.0));
            painter.setPen(QPen(c, 1.4, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -2.6), QPointF(0, -5.2));
            painter.rotate(30);
        }
    }

private:
    QTimer timer_;
    int step_ = 0;
};

void setLabelColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

ConsoleMain::ConsoleMain(ConversionViewModel& viewModel, QWidget* parent) : QWidget(parent), viewModel_(viewModel) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    toolbarArea_ = new QWidget(this);
    toolbarArea_->setFixedHeight(52);
    searchBar_ = buildSearchBar();
    selectionBar_ = buildSelectionBar();
    toolbarSwap_ = new SpringValue(viewModel_.selection().empty() ? 0 : 1, this);
    connect(toolbarSwap_, &SpringValue::valueChanged, this, &ConsoleMain::placeToolbars);
    column->addWidget(toolbarArea_);
    column->addWidget(new CardDivider(0, this));

    body_ = new QStackedWidget(this);
    empty_ = new QLabel(body_);
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setFont(Theme::font(13.5));
    list_ = new ConsoleJobList(viewModel_, body_);
    body_->addWidget(list_);
    body_->addWidget(empty_);
    column->addWidget(body_, 1);
    column->addWidget(new CardDivider(0, this));
    footer_ = buildFooter();
    column->addWidget(footer_);

    for (auto signal : {&ConversionViewModel::jobsChanged, &ConversionViewModel::isProcessingChanged,
                        &ConversionViewModel::hasChosenOutputLocationChanged, &ConversionViewModel::outputDirectoryChanged,
                        &ConversionViewModel::searchQueryChanged, &ConversionViewModel::libraryFilterChanged})
        connect(&viewModel_, signal, this, &ConsoleMain::refresh);
    connect(&viewModel_, &ConversionViewModel::selectionChanged, this, [this] {
        toolbarSwap_->animateTo(viewModel_.selection().empty() ? 0 : 1, Spring{0.18, 1.0, 0});
        refresh();
    });
    refresh();
}

QWidget* ConsoleMain::buildSearchBar() {
    auto* bar = new QWidget(toolbarArea_);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);

    auto* frame = new SearchFrame(bar);
    frame->setFixedHeight(32);
    auto* inside = new QHBoxLayout(frame);
    inside->setContentsMargins(12 + 13 + 8, 0, 12, 0);
    inside->setSpacing(8);
    search_ = new QLineEdit(frame);
    search_->setFrame(false);
    search_->setPlaceholderText(tr("Search files"));
    search_->setFont(Theme::font(13));
    search_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    search_->setText(fromStd(viewModel_.searchQuery()));
    FocusRing::setShape(search_, 8, frame);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.toStdString() != viewModel_.searchQuery()) viewModel_.setSearchQuery(text.toStdString());
    });
    inside->addWidget(search_, 1);
    // A rendered picture shows the field as plain text, which reads the same in both schemes.
    searchStatic_ = new QLabel(tr("Search files"), frame);
    searchStatic_->setFont(Theme::font(13));
    searchStatic_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    inside->addWidget(searchStatic_, 1);
    search_->setVisible(!ScreenshotMode::active);
    searchStatic_->setVisible(ScreenshotMode::active);
    clearSearch_ = new SymbolButton("xmark.circle.fill", 11, frame);
    connect(clearSearch_, &QAbstractButton::clicked, this, [this] { viewModel_.setSearchQuery(std::string()); });
    inside->addWidget(clearSearch_);
    row->addWidget(frame, 1);

    retry_ = new GhostPillButton(QString(), 32, bar);
    connect(retry_, &QAbstractButton::clicked, this, [this] { viewModel_.retryAllFailed(); });
    row->addWidget(retry_);
    selectAll_ = new GhostPillButton(tr("Select all"), 32, bar);
    connect(selectAll_, &QAbstractButton::clicked, this, [this] { viewModel_.selectAllVisible(); });
    row->addWidget(selectAll_);
    convertAll_ = new AccentButton(tr("Convert all"), false, bar);
    connect(convertAll_, &QAbstractButton::clicked, this, [this] { viewModel_.convertAll(); });
    row->addWidget(convertAll_);
    return bar;
}

QWidget* ConsoleMain::buildSelectionBar() {
    auto* bar = new Band([](ColorScheme scheme) { return Theme::hoverFill(scheme); }, toolbarArea_);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    selectionCount_ = new QLabel(bar);
    selectionCount_->setFont(Theme::font(13, QFont::DemiBold));
    selectionCount_->setContentsMargins(0, 0, 4, 0);
    row->addWidget(selectionCount_);
    convertSelected_ = new AccentButton(tr("Convert selected"), true, bar);
    connect(convertSelected_, &QAbstractButton::clicked, this, [this] { viewModel_.convertSelected(); });
    row->addWidget(convertSelected_);
    removeSelected_ = new GhostPillButton(tr("Remove"), 32, bar);
    connect(removeSelected_, &QAbstractButton::clicked, this, [this] { viewModel_.removeSelected(); });
    row->addWidget(removeSelected_);
    row->addStretch(1);
    deselectAll_ = new GhostPillButton(tr("Deselect all"), 32, bar);
    connect(deselectAll_, &QAbstractButton::clicked, this, [this] { viewModel_.deselectAll(); });
    row->addWidget(deselectAll_);
    return bar;
}

QWidget* ConsoleMain::buildFooter() {
    auto* bar = new Band(
        [](ColorScheme scheme) {
            return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.035 * 0.5) : QColor(247, 247, 248);
        },
        this);
    bar->setFixedHeight(46);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);
    spinner_ = new SmallSpinner(bar);
    row->addWidget(spinner_);
    footerText_ = new QLabel(bar);
    footerText_->setFont(Theme::font(12.5));
    row->addWidget(footerText_);
    cancel_ = new TextButton(tr("Cancel"), 12, true, bar);
    connect(cancel_, &QAbstractButton::clicked, this, [this] { viewModel_.cancelConversion(); });
    row->addWidget(cancel_);
    row->addStretch(1);
    output_ = new GhostIconPillButton("folder", QString(), 170, 28, bar);
    connect(output_, &QAbstractButton::clicked, this, [this] { viewModel_.pickGlobalOutputDirectory(); });
    row->addWidget(output_);
    clearAll_ = new GhostPillButton(tr("Clear all"), 28, bar);
    connect(clearAll_, &QAbstractButton::clicked, this, [this] { viewModel_.clearAll(); });
    clearAllOpacity_ = new QGraphicsOpacityEffect(clearAll_);
    clearAll_->setGraphicsEffect(clearAllOpacity_);
    row->addWidget(clearAll_);
    return bar;
}

QString ConsoleMain::selectionText() const {
    return tr("%1 selected").arg(static_cast<qlonglong>(viewModel_.selection().size()));
}

QString ConsoleMain::footerText() const {
    return tr("%1 files · %2 done").arg(static_cast<qlonglong>(viewModel_.jobs().size())).arg(viewModel_.completedCount());
}

QString ConsoleMain::emptyMessage() const {
    if (!viewModel_.searchQuery().empty())
        return tr("No files match \u201C%1\u201D").arg(fromStd(viewModel_.searchQuery()));
    return tr("No files of this type.");
}

bool ConsoleMain::showsEmptyMessage() const { return body_->currentWidget() == empty_; }

void ConsoleMain::refresh() {
    const ColorScheme scheme = Theme::scheme(this);
    const bool processing = viewModel_.isProcessing();
    // The search text follows the view model (the clear button, a restart).
    if (search_->text().toStdString() != viewModel_.searchQuery()) search_->setText(fromStd(viewModel_.searchQuery()));
    clearSearch_->setVisible(!viewModel_.searchQuery().empty());
    const int failed = viewModel_.failedCount();
    retry_->setLabel(QStringLiteral("Retry ") + QString::number(failed) + QStringLiteral(" failed"));
    retry_->setVisible(failed >= 1 && !processing);
    convertAll_->setLabel(processing ? tr("Converting…") : tr("Convert all"));
    convertAll_->setEnabled(viewModel_.canConvert() && !processing);
    convertAll_->setBusy(processing);
    selectionCount_->setText(selectionText());
    convertSelected_->setEnabled(!processing);

    spinner_->setVisible(processing);
    footerText_->setText(footerText());
    cancel_->setVisible(processing);
    const bool chosen = viewModel_.hasChosenOutputLocation();
    output_->setLabel(chosen ? fromStd(viewModel_.outputDirName()) : tr("Choose output…"));
    output_->setToolTip(chosen ? tr("Converted files are saved to: %1. Click to change.")
                                     .arg(fromStd(viewModel_.outputDirectory().string()))
                               : tr("Choose where converted files are saved"));
    output_->updateGeometry();
    const bool hasJobs = !viewModel_.jobs().empty();
    clearAll_->setEnabled(hasJobs);
    clearAllOpacity_->setOpacity(hasJobs ? 1.0 : 0.45);

    setLabelColour(selectionCount_, Theme::textPrimary(scheme));
    setLabelColour(footerText_, Theme::textTertiary(scheme));
    setLabelColour(empty_, Theme::textQuaternary(scheme));
    setLabelColour(searchStatic_, Theme::textQuaternary(scheme));
    QPalette searchPalette = search_->palette();
    searchPalette.setColor(QPalette::Text, Theme::textPrimary(scheme));
    searchPalette.setColor(QPalette::PlaceholderText, Theme::textQuaternary(scheme));
    search_->setPalette(searchPalette);
    refreshEmpty();
    placeToolbars();
}

void ConsoleMain::refreshEmpty() {
    const bool empty = list_->rows().empty();
    empty_->setText(emptyMessage());
    body_->setCurrentWidget(empty ? static_cast<QWidget*>(empty_) : list_);
}

namespace {

// A bar part-way through the swap draws through an opacity effect; a settled one without, as
// the effect renders off screen.
void setBarOpacity(QWidget* bar, double opacity) {
    bar->setVisible(opacity > 0.0);
    if (opacity <= 0.0 || opacity >= 1.0) {
        if (bar->graphicsEffect()) bar->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(bar->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(bar);
        bar->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

}  // namespace

void ConsoleMain::placeToolbars() {
    // The search bar slides up and fades out as the selection bar comes in from 4 points below.
    const double t = std::clamp(toolbarSwap_->value(), 0.0, 1.0);
    const QRect area = toolbarArea_->rect();
    searchBar_->setGeometry(area.translated(0, static_cast<int>(std::lround(-4 * t))));
    selectionBar_->setGeometry(area.translated(0, static_cast<int>(std::lround(4 * (1 - t)))));
    // The incoming bar shows before the other hides, so a focused button hands the focus across.
    if (t >= 0.5) {
        setBarOpacity(selectionBar_, t);
        setBarOpacity(searchBar_, 1 - t);
    } else {
        setBarOpacity(searchBar_, 1 - t);
        setBarOpacity(selectionBar_, t);
    }
}

void ConsoleMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeToolbars();
}

void ConsoleMain::changeEvent(QEvent* event) {
    // The texts carry colours of their own, picked for the scheme the window had when they were set.
    if (event->type() == QEvent::PaletteChange) refresh();
    QWidget::changeEvent(event);
}

void ConsoleMain::paintEvent(QPaintEvent*) {}

}  // namespace calvoro
