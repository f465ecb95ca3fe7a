#include "app/ui/log_panel/log_panel_view.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <cmath>

#include "app/state/conversion_view_model.h"
#include "app/state/localized_search.h"
#include "app/ui/controls/circle_icon_button_style.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/log_panel/log_entry_row.h"
#include "app/ui/log_panel/log_filter_pill.h"
#include "app/ui/theme/scroll_bar_style.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

constexpr double headerPadH = 20, headerPadV = 9, headerSpacing = 10, headerHeight = 24 + 2 * headerPadV;
constexpr double fieldTop = 8, fieldBottom = 6, fieldPadH = 10, fieldPadV = 6, fieldOuterH = 20;
constexpr double listPadH = 14, listPadV = 6, rowSpacing = 1;

QColor hairlineColour(ColorScheme scheme) { return Theme::separator(scheme); }
QColor fieldFill(ColorScheme scheme) { return Theme::hoverFill(scheme); }

QFont titleFont() {
    QFont font = Theme::font(11.5, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.06);
    return font;
}

double fieldHeight() { return std::ceil(QFontMetricsF(Theme::font(11.5)).height() + 2 * fieldPadV); }

// The small "xmark.circle.fill" that empties the search field; it grows in from 0.8 of its
// size as it fades in, and goes the same way.
class ClearSearchButton : public HoverButton {
public:
    explicit ClearSearchButton(QWidget* parent) : HoverButton(parent) {
        setFixedSize(16, 16);
        setAccessibleName(QStringLiteral("Clear filter"));
        hide();
        connect(&presence_, &SpringValue::valueChanged, this, [this](double value) {
            if (value <= 0.0 && !present_) hide();
            update();
        });
    }
    void setPresent(bool present) {
        if (present == present_) return;
        present_ = present;
        if (present) show();
        setEnabled(present);
        presence_.animateTo(present ? 1.0 : 0.0, Theme::hover);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const double presence = std::clamp(presence_.value(), 0.0, 1.0);
        QPainter painter(this);
        painter.setOpacity(presence);
        const QPointF centre = QRectF(rect()).center();
        painter.translate(centre);
        painter.scale(0.8 + 0.2 * presence, 0.8 + 0.2 * presence);
        painter.translate(-centre);
        Symbols::paint(painter, QRectF(rect()), "xmark.circle.fill", 11, QFont::Medium, Theme::textTertiary(Theme::scheme(this)));
    }

private:
    bool present_ = false;
    SpringValue presence_;
};

}  // namespace

class LogPanelView::Model : public QAbstractListModel {
public:
    explicit Model(LogPanelView* panel) : QAbstractListModel(panel), panel_(panel) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(panel_->filtered_.size());
    }
    QVariant data(const QModelIndex&, int) const override { return {}; }
    void reset() {
        beginResetModel();
        endResetModel();
    }

private:
    LogPanelView* panel_;
};

class LogPanelView::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(LogPanelView* panel) : QStyledItemDelegate(panel), panel_(panel) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const auto& entry = panel_->filtered_.at(static_cast<size_t>(index.row()));
        LogEntryRow(entry, Theme::scheme(panel_)).paint(*painter, QRectF(option.rect).adjusted(0, 0, 0, -rowSpacing));
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        const auto& entry = panel_->filtered_.at(static_cast<size_t>(index.row()));
        const double width = panel_->list_->viewport()->width();
        return {static_cast<int>(width), static_cast<int>(LogEntryRow(entry, Theme::scheme(panel_)).heightFor(width) + rowSpacing)};
    }

private:
    LogPanelView* panel_;
};

LogPanelView::LogPanelView(ConversionLogger& logger, ConversionViewModel& viewModel, QWidget* parent)
    : QWidget(parent),
      logger_(logger),
      viewModel_(viewModel),
      all_(new LogFilterPill(QStringLiteral("All"), {}, this)),
      errors_(new LogFilterPill(QStringLiteral("Errors"), [](ColorScheme s) { return LogEntryRow::statusColor(Level::error, s); }, this)),
      warnings_(new LogFilterPill(QStringLiteral("Warnings"), [](ColorScheme s) { return LogEntryRow::statusColor(Level::warning, s); },
                                  this)),
      copy_(new CircleIconButtonStyle("doc.on.doc", 11, QFont::Medium, 24, QStringLiteral("Copy logs to clipboard"), this)),
      clear_(new CircleIconButtonStyle("trash", 11, QFont::Medium, 24, QStringLiteral("Clear logs"), this)),
      close_(new CircleIconButtonStyle("xmark", 11, QFont::DemiBold, 24, QStringLiteral("Close log panel (Ctrl+L)"), this)),
      search_(new QLineEdit(this)),
      clearSearch_(new ClearSearchButton(this)),
      list_(new QListView(this)),
      model_(new Model(this)),
      scroll_(new SpringAnimation(Theme::smooth, this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    close_->setAccessibleName(QStringLiteral("Close log panel"));
    all_->setActive(true, false);
    connect(all_, &QAbstractButton::clicked, this, [this] { setFilterLevel(std::nullopt); });
    connect(errors_, &QAbstractButton::clicked, this, [this] { setFilterLevel(Level::error); });
    connect(warnings_, &QAbstractButton::clicked, this, [this] { setFilterLevel(Level::warning); });
    connect(copy_, &QAbstractButton::clicked, this, &LogPanelView::copyLogs);
    connect(clear_, &QAbstractButton::clicked, this, &LogPanelView::clearLogs);
    connect(close_, &QAbstractButton::clicked, this, [this] { viewModel_.hideLogPanel(); });

    search_->setFrame(false);
    search_->setPlaceholderText(QString::fromUtf8("Filter logs\u2026"));
    search_->setFont(Theme::font(11.5));
    search_->setAttribute(Qt::WA_MacShowFocusRect, false);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        static_cast<ClearSearchButton*>(clearSearch_)->setPresent(!text.isEmpty());
        layoutChildren();
        refresh();
        update();
    });
    connect(clearSearch_, &QAbstractButton::clicked, this, [this] { search_->clear(); });
    search_->installEventFilter(this);

    list_->setModel(model_);
    list_->setItemDelegate(new Delegate(this));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setResizeMode(QListView::Adjust);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAutoFillBackground(false);
    connect(scroll_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { list_->verticalScrollBar()->setValue(value.toInt()); });

    // The log may grow from any thread; the panel catches up on the main thread, once per turn.
    QPointer<LogPanelView> self(this);
    observer_ = logger_.addObserver([self] {
        QMetaObject::invokeMethod(qApp, [self] {
            if (self) self->scheduleRefresh();
        }, Qt::QueuedConnection);
    });
    filtered_ = filteredEntries(logger_.entries(), filterLevel_, QString());
    total_ = static_cast<int>(logger_.entries().size());
    badge_.setImmediately(total_);
    connect(&badge_, &SpringValue::valueChanged, this, [this] { update(); });
    model_->reset();
    styleChildren();
}

LogPanelView::~LogPanelView() { logger_.removeObserver(observer_); }

std::vector<LogPanelView::Entry> LogPanelView::filteredEntries(const std::vector<Entry>& entries,
                                                              std::optional<Level> filterLevel, const QString& searchText) {
    const std::string query = searchText.toStdString();
    std::vector<Entry> result;
    for (const Entry& entry : entries) {
        if (filterLevel && entry.level != *filterLevel) continue;
        if (!query.empty() && !localizedCaseInsensitiveContains(entry.message, query) &&
            !localizedCaseInsensitiveContains(entry.category, query) &&
            !localizedCaseInsensitiveContains(entry.detail.value_or(std::string()), query))
            continue;
        result.push_back(entry);
    }
    return result;
}

void LogPanelView::setFilterLevel(std::optional<Level> level) {
    filterLevel_ = level;
    all_->setActive(!level);
    errors_->setActive(level == Level::error);
    warnings_->setActive(level == Level::warning);
    layoutChildren();
    refresh();
}

QString LogPanelView::searchText() const { return search_->text(); }

void LogPanelView::setSearchText(const QString& text) { search_->setText(text); }

LogFilterPill* LogPanelView::pill(std::optional<Level> level) const {
    if (!level) return all_;
    return *level == Level::error ? errors_ : warnings_;
}

void LogPanelView::copyLogs() {
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(logger_.exportText()));
}

void LogPanelView::clearLogs() {
    logger_.clear();
    refresh();
}

void LogPanelView::scheduleRefresh() {
    if (refreshQueued_) return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshQueued_ = false;
        refresh();
    });
}

void LogPanelView::refresh() {
    const auto entries = logger_.entries();
    const size_t before = filtered_.size();
    total_ = static_cast<int>(entries.size());
    badge_.animateTo(total_, Spring{0.5, 1.0, 0});
    filtered_ = filteredEntries(entries, filterLevel_, search_->text());
    model_->reset();
    list_->setVisible(!filtered_.empty());
    update();
    // A change of the count brings the newest entry into view at the bottom.
    if (filtered_.size() != before && !filtered_.empty()) {
        QTimer::singleShot(0, this, [this] {
            // The list lays its rows out later still: the scroll range must count the new ones.
            list_->doItemsLayout();
            QScrollBar* bar = list_->verticalScrollBar();
            scroll_->stop();
            scroll_->setStartValue(bar->value());
            scroll_->setEndValue(bar->maximum());
            scroll_->start();
        });
    }
}

std::optional<QString> LogPanelView::emptyStateText() const {
    if (!filtered_.empty()) return std::nullopt;
    return total_ == 0 ? QStringLiteral("No logs yet") : QStringLiteral("No matching logs");
}

QSize LogPanelView::sizeHint() const { return {820, panelHeight}; }

bool LogPanelView::escape() {
    if (!search_->text().isEmpty() && search_->hasFocus()) search_->clear();
    else viewModel_.hideLogPanel();
    return true;
}

void LogPanelView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && escape()) return;
    QWidget::keyPressEvent(event);
}

bool LogPanelView::eventFilter(QObject* watched, QEvent* event) {
    // The field would take Escape as its own and do nothing with it.
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) return escape();
    }
    return QWidget::eventFilter(watched, event);
}

QRectF LogPanelView::searchFieldRect() const {
    return QRectF(fieldOuterH, headerHeight + fieldTop, width() - 2 * fieldOuterH, fieldHeight());
}

QRectF LogPanelView::listRect() const {
    const double top = searchFieldRect().bottom() + fieldBottom;
    return QRectF(0, top, width(), height() - top);
}

void LogPanelView::resizeEvent(QResizeEvent*) { layoutChildren(); }

void LogPanelView::layoutChildren() {
    // Header, right to left: close, clear, copy, then the pills.
    double x = width() - headerPadH;
    const double centre = headerHeight / 2;
    for (QWidget* button : {static_cast<QWidget*>(close_), static_cast<QWidget*>(clear_), static_cast<QWidget*>(copy_)}) {
        x -= button->width();
        button->move(static_cast<int>(x), static_cast<int>(std::round(centre - button->height() / 2.0)));
        x -= headerSpacing;
    }
    for (LogFilterPill* pill : {warnings_, errors_, all_}) {
        x -= pill->width();
        pill->move(static_cast<int>(x), static_cast<int>(std::round(centre - pill->height() / 2.0)));
        x -= 4;
    }
    const QRectF field = searchFieldRect();
    const double iconEnd = field.left() + fieldPadH + 12 + 7;
    const double clearWidth = search_->text().isEmpty() ? 0 : 16 + 7;
    search_->setGeometry(QRectF(iconEnd, field.top() + fieldPadV - 1, field.right() - fieldPadH - clearWidth - iconEnd,
                                field.height() - 2 * fieldPadV + 2)
                             .toRect());
    // The ring goes round the painted field, not the editor inside it.
    const QRect editor = search_->geometry(), frame = field.toAlignedRect();
    FocusRing::setShape(search_, 8, nullptr,
                        QMargins(editor.left() - frame.left(), editor.top() - frame.top(), frame.right() - editor.right(),
                                 frame.bottom() - editor.bottom()));
    clearSearch_->move(static_cast<int>(field.right() - fieldPadH - 16), static_cast<int>(field.center().y() - 8));
    list_->setGeometry(listRect().adjusted(listPadH, listPadV, -listPadH, -listPadV).toRect());
}

void LogPanelView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) styleChildren();
    QWidget::changeEvent(event);
}

void LogPanelView::styleChildren() {
    const ColorScheme scheme = Theme::scheme(this);
    QPalette field = search_->palette();
    field.setColor(QPalette::Base, Qt::transparent);
    field.setColor(QPalette::Text, Theme::textPrimary(scheme));
    field.setColor(QPalette::PlaceholderText, Theme::textTertiary(scheme));
    search_->setPalette(field);
    styleScrollBar(list_->verticalScrollBar(), scheme);
    update();
}

void LogPanelView::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Theme::toolbarBackground(scheme));
    const QColor hairline = hairlineColour(scheme);
    painter.fillRect(QRectF(0, 0, width(), 0.5), hairline);
    painter.fillRect(QRectF(0, headerHeight - 0.5, width(), 0.5), hairline);

    // Header: icon, title and the count of every entry.
    double x = headerPadH;
    const double centre = headerHeight / 2;
    Symbols::paint(painter, QRectF(x, centre - 8, 14, 16), "doc.text.magnifyingglass", 12, QFont::Medium,
                   Theme::textSecondary(scheme));
    x += 14 + headerSpacing;
    const QFont title = titleFont();
    const QString titleText = QStringLiteral("Conversion log");
    const double titleWidth = QFontMetricsF(title).horizontalAdvance(titleText);
    painter.setFont(title);
    painter.setPen(Theme::textPrimary(scheme));
    painter.drawText(QRectF(x, 0, titleWidth + 2, headerHeight), Qt::AlignLeft | Qt::AlignVCenter, titleText);
    x += titleWidth + headerSpacing;
    const QFont badgeFont = Theme::monospaceFont(10.5);
    const QString count = QString::number(static_cast<int>(std::lround(badge_.value())));
    const QFontMetricsF badgeMetrics(badgeFont);
    const QRectF badge(x, centre - badgeMetrics.height() / 2 - 1, badgeMetrics.horizontalAdvance(count) + 12,
                       badgeMetrics.height() + 2);
    painter.fillPath(Theme::continuousRoundedRect(badge, 9), fieldFill(scheme));
    painter.setFont(badgeFont);
    painter.setPen(Theme::textTertiary(scheme));
    painter.drawText(badge, Qt::AlignCenter, count);

    // Search field.
    const QRectF field = searchFieldRect();
    painter.fillPath(Theme::continuousRoundedRect(field, 8), fieldFill(scheme));
    Symbols::paint(painter, QRectF(field.left() + fieldPadH, field.top(), 12, field.height()), "magnifyingglass", 11,
                   QFont::Medium, Theme::textTertiary(scheme));

    if (filtered_.empty()) paintEmptyState(painter, listRect());
}

void LogPanelView::paintEmptyState(QPainter& painter, const QRectF& area) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool noEntries = total_ == 0;
    const QFont text = Theme::font(13), query = Theme::font(11.5);
    const double textHeight = QFontMetricsF(text).height(), queryHeight = QFontMetricsF(query).height();
    const bool showQuery = !search_->text().isEmpty();
    const double iconHeight = 26;
    const double stack = iconHeight + 8 + textHeight + (showQuery ? 8 + queryHeight : 0);
    // A spacer of at least 4 above, the flexible one below: the stack sits near the top.
    double y = area.top() + std::max(4.0, (area.height() - stack) / 2 - 8);
    Symbols::paint(painter, QRectF(area.left(), y, area.width(), iconHeight), noEntries ? "text.alignleft" : "magnifyingglass",
                   22, QFont::Light, Theme::textTertiary(scheme));
    y += iconHeight + 8;
    painter.setFont(text);
    painter.setPen(Theme::textTertiary(scheme));
    painter.drawText(QRectF(area.left(), y, area.width(), textHeight), Qt::AlignCenter, *emptyStateText());
    if (showQuery) {
        y += textHeight + 8;
        painter.setFont(query);
        painter.setPen(Theme::textQuaternary(scheme));
        const QString line = QString::fromUtf8("for \u201C") + search_->text() + QString::fromUtf8("\u201D");
        painter.drawText(QRectF(area.left() + 20, y, area.width() - 40, queryHeight), Qt::AlignCenter,
                         QFontMetricsF(query).elidedText(line, Qt::ElideMiddle, area.width() - 40));
    }
}

}  // namespace calvoro
