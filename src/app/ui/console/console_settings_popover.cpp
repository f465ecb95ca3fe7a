#include "app/ui/console/console_settings_popover.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/appearance_settings_section.h"
#include "app/ui/console/conversion_settings_section.h"
#include "app/ui/console/default_targets_settings_section.h"
#include "app/ui/console/files_settings_section.h"
#include "app/ui/controls/close_circle_button.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/scroll_bar_style.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

constexpr int minContent = 150, maxContent = 340;

// A footer button: a symbol and a label in the tertiary colour.
class FooterButton : public HoverButton {
public:
    FooterButton(std::string symbol, const QString& label, QWidget* parent) : HoverButton(parent), symbol_(std::move(symbol)) {
        setLabel(label);
        setCursor(Qt::PointingHandCursor);
        FocusRing::setShape(this, 4);
    }
    void setText(const QString& label) {
        setLabel(label);
        updateGeometry();
        update();
    }
    QSize sizeHint() const override {
        return {static_cast<int>(std::ceil(14 + 5 + QFontMetricsF(Theme::font(12)).horizontalAdvance(text()))) + 1, 18};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        const QColor colour = Theme::hoverText(scheme, hoverProgress());
        QPainter painter(this);
        Symbols::paint(painter, QRectF(0, 0, 14, height()), symbol_, 12, QFont::Normal, colour);
        painter.setFont(Theme::font(12));
        painter.setPen(colour);
        painter.drawText(QRectF(19, 0, width() - 19, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    std::string symbol_;
};

// A text drawn in one of the theme's colours, following the scheme.
class ThemedText : public QWidget {
public:
    ThemedText(const QString& text, QFont font, std::function<QColor(ColorScheme)> colour, QWidget* parent)
        : QWidget(parent), text_(text), font_(std::move(font)), colour_(std::move(colour)) {
        setFixedHeight(static_cast<int>(std::ceil(QFontMetricsF(font_).height())));
        setMinimumWidth(static_cast<int>(std::ceil(QFontMetricsF(font_).horizontalAdvance(text_))) + 1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font_);
        painter.setPen(colour_(Theme::scheme(this)));
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text_);
    }

private:
    QString text_;
    QFont font_;
    std::function<QColor(ColorScheme)> colour_;
};

class HeaderSymbol : public QWidget {
public:
    explicit HeaderSymbol(QWidget* parent) : QWidget(parent) { setFixedSize(16, 16); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        Symbols::paint(painter, QRectF(rect()), "slider.horizontal.3", 13, QFont::DemiBold,
                       Theme::textSecondary(Theme::scheme(this)));
    }
};

class Hairline : public QWidget {
public:
    explicit Hairline(QWidget* parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Theme::separator(Theme::scheme(this)));
    }
};

}  // namespace

const std::vector<int>& ConsoleSettingsPopover::edges() {
    static const std::vector<int> values{0, 1024, 2048, 4096};
    return values;
}

const std::vector<int>& ConsoleSettingsPopover::bitrates() {
    static const std::vector<int> values{96000, 128000, 192000, 256000, 320000};
    return values;
}

ConsoleSettingsPopover::ConsoleSettingsPopover(ConversionViewModel& viewModel, std::function<void()> onShowConversions,
                                               QWidget* parent)
    : ModalChrome(parent), viewModel_(viewModel), onShowConversions_(std::move(onShowConversions)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 16, 20, 16);
    header->setSpacing(10);
    header->addWidget(new HeaderSymbol(this));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->addWidget(new ThemedText(tr("Settings"), Theme::cardTitleFont(), Theme::textPrimary, this));
    titles->addWidget(new ThemedText(tr("Everything runs on this computer — nothing is uploaded."), Theme::font(11),
                                     Theme::textTertiary, this));
    header->addLayout(titles);
    header->addStretch(1);
    // The header's close button: an "xmark" on a faint 24-point circle.
    close_ = new CloseCircleButton(24, Theme::hoverFill, this);
    close_->setCursor(Qt::PointingHandCursor);
    connect(close_, &QAbstractButton::clicked, this, [this] { viewModel_.setShowSettingsPopover(false); });
    header->addWidget(close_);
    column->addLayout(header);
    column->addWidget(new Hairline(this));

    auto* switcherRow = new QHBoxLayout;
    switcherRow->setContentsMargins(16, 12, 16, 4);
    switcher_ = new SettingsSegmentedControl(SettingsCategory::appearance, this);
    connect(switcher_, &SettingsSegmentedControl::selectionChanged, this, &ConsoleSettingsPopover::showPage);
    switcherRow->addWidget(switcher_);
    column->addLayout(switcherRow);

    contentHost_ = new QWidget;
    auto* contentColumn = new QVBoxLayout(contentHost_);
    contentColumn->setContentsMargins(20, 20, 20, 20);
    contentColumn->setSpacing(16);
    contentHost_->installEventFilter(this);
    if (ScreenshotMode::active) {
        contentHost_->setParent(this);
        column->addWidget(contentHost_);
    } else {
        scroll_ = new QScrollArea(this);
        scroll_->setFrameShape(QFrame::NoFrame);
        // Tab goes to the controls inside, and the view scrolls to each.
        scroll_->setFocusPolicy(Qt::NoFocus);
        scroll_->setWidgetResizable(true);
        scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll_->viewport()->setAutoFillBackground(false);
        scroll_->setWidget(contentHost_);
        contentHost_->setAutoFillBackground(false);
        styleScrollBar(scroll_->verticalScrollBar(), Theme::scheme(this));
        column->addWidget(scroll_);
    }

    auto* footerHost = new QWidget(this);
    footerHost->setObjectName("footer");
    auto* footer = new QHBoxLayout(footerHost);
    footer->setContentsMargins(20, 13, 20, 13);
    footer->setSpacing(14);
    conversions_ = new FooterButton("arrow.left.arrow.right", tr("All conversions"), footerHost);
    connect(conversions_, &QAbstractButton::clicked, this, [this] {
        if (onShowConversions_) onShowConversions_();
    });
    log_ = new FooterButton("text.alignleft", QString(), footerHost);
    connect(log_, &QAbstractButton::clicked, this, [this] { viewModel_.toggleLogPanel(); });
    auto updateLog = [this] {
        static_cast<FooterButton*>(log_)->setText(viewModel_.showLogPanel() ? tr("Hide log") : tr("Show log"));
    };
    connect(&viewModel_, &ConversionViewModel::showLogPanelChanged, this, updateLog);
    updateLog();
    footer->addWidget(conversions_);
    footer->addWidget(log_);
    footer->addStretch(1);
    footer->addWidget(new ThemedText(QStringLiteral("Calvoro " CALVORO_VERSION), Theme::font(11, QFont::Medium), Theme::textQuaternary,
                                     footerHost));
    column->addWidget(footerHost);

    showPage();
}

SettingsCategory ConsoleSettingsPopover::category() const { return switcher_->selection(); }

void ConsoleSettingsPopover::setCategory(SettingsCategory category) { switcher_->setSelection(category); }

void ConsoleSettingsPopover::showPage() {
    if (page_) {
        page_->hide();
        page_->setParent(nullptr);
        page_->deleteLater();
    }
    switch (switcher_->selection()) {
        case SettingsCategory::appearance: page_ = new AppearanceSettingsSection(viewModel_); break;
        case SettingsCategory::conversion: page_ = new ConversionSettingsSection(viewModel_, edges(), bitrates()); break;
        case SettingsCategory::defaults: page_ = new DefaultTargetsSettingsSection(viewModel_); break;
        case SettingsCategory::files: page_ = new FilesSettingsSection(viewModel_); break;
    }
    page_->setParent(contentHost_);
    static_cast<QVBoxLayout*>(contentHost_->layout())->addWidget(page_, 0, Qt::AlignTop);
    page_->show();
    fitHeight();
}

int ConsoleSettingsPopover::contentAreaHeight() const {
    // At the width the pages get: a wrapping subtitle's own guess of its width would take a
    // second line that it does not use, and the card would grow by an empty band.
    const QMargins margins = layout()->contentsMargins();
    const QLayout* content = contentHost_->layout();
    const int width = cardWidth - margins.left() - margins.right();
    const int natural = content->hasHeightForWidth() ? content->totalHeightForWidth(width) : contentHost_->sizeHint().height();
    return std::clamp(natural, minContent, maxContent);
}

void ConsoleSettingsPopover::fitHeight() {
    const int content = contentAreaHeight();
    if (scroll_) scroll_->setFixedHeight(content);
    else contentHost_->setFixedHeight(content);
    layout()->activate();
    const QSize size = sizeHint();
    if (size == this->size()) return;
    resize(size);
    // Centred as it opens; once on screen its top edge stays, so that the switcher and the
    // controls do not move under the pointer from page to page. It never leaves the window.
    if (const QWidget* layer = parentWidget()) {
        const int top = isVisible() ? y() : (layer->height() - size.height()) / 2;
        move((layer->width() - size.width()) / 2, std::clamp(top, 0, std::max(0, layer->height() - size.height())));
    }
}

QSize ConsoleSettingsPopover::sizeHint() const { return {cardWidth, layout()->sizeHint().height()}; }

bool ConsoleSettingsPopover::eventFilter(QObject* watched, QEvent* event) {
    if (watched == contentHost_ && event->type() == QEvent::LayoutRequest) fitHeight();
    return ModalChrome::eventFilter(watched, event);
}

void ConsoleSettingsPopover::paintEvent(QPaintEvent* event) {
    ModalChrome::paintEvent(event);
    // The footer's top edge.
    if (const QWidget* footer = findChild<QWidget*>("footer")) {
        QPainter painter(this);
        painter.fillRect(QRectF(0, footer->y(), width(), 1), Theme::separator(Theme::scheme(this)));
    }
}

}  // namespace calvoro
