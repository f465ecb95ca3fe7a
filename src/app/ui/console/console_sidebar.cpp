#include "app/ui/console/console_sidebar.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/controls/chrome_icon_button.h"
#include "app/ui/console/console_card.h"
#include "app/ui/console/sidebar_add_footer.h"
#include "app/ui/console/sidebar_nav_row.h"
#include "app/ui/console/sidebar_section.h"
#include "app/ui/chrome/full_screen_traffic_lights.h"
#include "app/ui/theme/scroll_bar_style.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/tabular_text.h"
#include "app/ui/theme/theme.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

QFont sectionFont() {
    QFont font = Theme::font(10.5, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.3);
    return font;
}

// A section's title in small capitals.
class SectionLabel : public QWidget {
public:
    static constexpr int labelHeight = 4 + 14 + 8;

    SectionLabel(const QString& title, QWidget* parent) : QWidget(parent), title_(title.toUpper()) {
        setFixedHeight(labelHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(sectionFont());
        painter.setPen(Theme::textQuaternary(Theme::scheme(this)));
        painter.drawText(QRectF(12, 4, width() - 12, 14), Qt::AlignLeft | Qt::AlignVCenter, title_);
    }

private:
    QString title_;
};

// A section's title with a chevron that turns to point down as its section opens.
class CollapsibleHeader : public HoverButton {
public:
    CollapsibleHeader(const QString& title, QWidget* parent) : HoverButton(parent), title_(title.toUpper()) {
        setFixedHeight(8 + 4 + 14 + 8);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(title + QStringLiteral(" section"));
    }
    // The section under it, made after it so that the two keep their order among the children.
    void attach(SidebarSection* section) {
        section_ = section;
        connect(section, &SidebarSection::opennessChanged, this, [this] {
            describe();
            update();
        });
        describe();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QColor colour = Theme::textQuaternary(Theme::scheme(this));
        painter.setFont(sectionFont());
        painter.setPen(colour);
        const QRectF line(12, 12, width() - 12, 14);
        const double textWidth = painter.fontMetrics().horizontalAdvance(title_);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, title_);
        const QRectF chevron(line.left() + textWidth + 5, line.top(), 9, line.height());
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(chevron.center());
        painter.rotate(section_ ? 90 * section_->openness() : 0);
        painter.translate(-chevron.center());
        Symbols::paint(painter, chevron, "chevron.right", 7.5, QFont::Bold, colour);
        painter.restore();
    }

private:
    void describe() {
        const QString state = section_->isExpanded() ? QObject::tr("Expanded") : QObject::tr("Collapsed");
        if (accessibleDescription() != state) setAccessibleDescription(state);
    }

    QString title_;
    SidebarSection* section_ = nullptr;
};

// The shared look of recent rows, stat rows and links: a small symbol and a line or two of text.
class SidebarItemRow : public HoverButton {
public:
    SidebarItemRow(std::string symbol, const QString& title, const QString& subtitle, bool monospaced, QWidget* parent)
        : HoverButton(parent), symbol_(std::move(symbol)), subtitle_(subtitle), monospaced_(monospaced) {
        setLabel(title);
        setFixedHeight(28);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    void setTexts(const QString& title, const QString& subtitle) {
        if (text() == title && subtitle_ == subtitle) return;
        setLabel(title);
        subtitle_ = subtitle;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        const QColor colour = Theme::textTertiary(scheme);
        Symbols::paint(painter, QRectF(12, 0, 17, height()), symbol_, 10.5, QFont::Medium, colour);
        const QRectF textArea(12 + 17 + 8, 0, width() - 12 - 17 - 8 - 12, height());
        painter.setFont(Theme::font(11.5));
        painter.setPen(colour);
        if (monospaced_) {
            // Stats: one line, digits of one width.
            TabularText::draw(painter, textArea, Qt::AlignLeft | Qt::AlignVCenter,
                              TabularText::elided(painter.font(), text(), textArea.width()));
            return;
        }
        const QString title = QFontMetricsF(painter.font()).elidedText(text(), Qt::ElideMiddle, textArea.width());
        if (subtitle_.isEmpty()) {
            painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, title);
            return;
        }
        painter.drawText(QRectF(textArea.left(), 1, textArea.width(), 15), Qt::AlignLeft | Qt::AlignVCenter, title);
        painter.setFont(Theme::font(9.5));
        painter.setPen(Theme::textQuaternary(scheme));
        painter.drawText(QRectF(textArea.left(), 15, textArea.width(), 12), Qt::AlignLeft | Qt::AlignVCenter, subtitle_);
    }

private:
    std::string symbol_;
    QString subtitle_;
    bool monospaced_;
};

// Fades the lowest 7 % of the scrolling sections into the card.
class FadeOverlay : public QWidget {
public:
    explicit FadeOverlay(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QColor card = scheme == ColorScheme::dark ? QColor(30, 30, 30) : QColor(Qt::white);
        QLinearGradient gradient(0, 0, 0, height());
        card.setAlphaF(0);
        gradient.setColorAt(0, card);
        card.setAlphaF(1);
        gradient.setColorAt(1, card);
        QPainter painter(this);
        // Within the card's rounded corners, which the fade reaches at the bottom.
        for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
            if (auto* consoleCard = dynamic_cast<ConsoleCard*>(w)) {
                const QPointF at = mapTo(consoleCard, QPoint(0, 0));
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setClipPath(Theme::continuousRoundedRect(QRectF(consoleCard->rect()).translated(-at), ConsoleCard::cornerRadius));
                break;
            }
        }
        painter.fillRect(rect(), gradient);
    }
};

// Keeps the fade along the bottom of the scroll view: always, or only while rows lie below it.
// Asked for its size, it gives the least it takes, its content's whole height, or its minimum.
class FadingScrollArea : public QScrollArea {
public:
    enum class Hint { content, minimum };

    FadingScrollArea(Hint hint, bool fadeOnlyOverMore, QWidget* parent)
        : QScrollArea(parent), fade_(new FadeOverlay(this)), hint_(hint), fadeOnlyOverMore_(fadeOnlyOverMore) {
        // Tab goes to the rows inside, and the view scrolls to each.
        setFocusPolicy(Qt::NoFocus);
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        viewport()->setAutoFillBackground(false);
        styleScrollBar(verticalScrollBar(), Theme::scheme(this));
        if (fadeOnlyOverMore_) {
            connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &FadingScrollArea::showFade);
            connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &FadingScrollArea::showFade);
        }
        showFade();
    }
    // Holds the content without a frame's background, which would square over the card's corners.
    void hold(QWidget* content) {
        setWidget(content);
        content->setAutoFillBackground(false);
    }
    QSize sizeHint() const override {
        if (hint_ == Hint::minimum || !widget()) return {ConsoleSidebar::sidebarWidth, minimumHeight()};
        return {ConsoleSidebar::sidebarWidth, widget()->sizeHint().height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QScrollArea::resizeEvent(event);
        const int fade = static_cast<int>(height() * 0.07);
        fade_->setGeometry(0, height() - fade, width(), fade);
        fade_->raise();
    }
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::PaletteChange) styleScrollBar(verticalScrollBar(), Theme::scheme(this));
        QScrollArea::changeEvent(event);
    }

private:
    void showFade() {
        const QScrollBar* bar = verticalScrollBar();
        fade_->setVisible(!fadeOnlyOverMore_ || bar->value() < bar->maximum());
    }

    FadeOverlay* fade_;
    Hint hint_;
    bool fadeOnlyOverMore_;
};

}  // namespace

ConsoleSidebar::ConsoleSidebar(ConversionViewModel& viewModel, QWidget* parent) : QWidget(parent), viewModel_(viewModel) {
    setFixedWidth(sidebarWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    // Short of room (the log panel takes its height from this column), the sections give way
    // first, down to a header and two rows; then the library rows scroll.
    column->addWidget(consoleCard(buildTopCard(), this));
    column->addWidget(consoleCard(buildBottomCard(), this), 1);
    footer_ = new SidebarAddFooter(viewModel_, this);
    column->addWidget(footer_);

    connect(&viewModel_, &ConversionViewModel::isFullScreenChanged, this, &ConsoleSidebar::updateChrome);
    for (auto signal : {&ConversionViewModel::recentsChanged, &ConversionViewModel::statsTotalConversionsChanged,
                        &ConversionViewModel::statsBytesSavedChanged})
        connect(&viewModel_, signal, this, &ConsoleSidebar::updateSections);
    // Opening and closing a section moves it; the rows stay.
    connect(&viewModel_, &ConversionViewModel::expandedSectionsChanged, this, [this] {
        for (SidebarSection* section : sections_->findChildren<SidebarSection*>(Qt::FindDirectChildrenOnly))
            section->setExpanded(viewModel_.isSectionExpanded(section->objectName().toStdString()));
    });
    updateChrome();
    updateSections();
}

QSize ConsoleSidebar::sizeHint() const { return {sidebarWidth, layout()->sizeHint().height()}; }

QWidget* ConsoleSidebar::buildTopCard() {
    auto* card = new QWidget;
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* chrome = new QWidget(card);
    chrome->setFixedHeight(44);
    auto* chromeRow = new QHBoxLayout(chrome);
    chromeRow->setContentsMargins(16, 0, 16, 0);
    chromeRow->setSpacing(6);
    chromeSlot_ = new QWidget(chrome);
    auto* slotLayout = new QHBoxLayout(chromeSlot_);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    chromeRow->addWidget(chromeSlot_);
    chromeRow->addStretch(1);
    settings_ = new ChromeIconButton("gearshape", false, tr("Settings"),
                                     [this] { viewModel_.setShowSettingsPopover(!viewModel_.showSettingsPopover()); }, chrome);
    chromeRow->addWidget(settings_);
    column->addWidget(chrome);

    auto* library = new QWidget;
    auto* libraryColumn = new QVBoxLayout(library);
    libraryColumn->setContentsMargins(16, 4, 16, 12);
    libraryColumn->setSpacing(2);
    libraryColumn->addWidget(new SectionLabel(tr("Library"), library));
    libraryRows_.push_back(new SidebarNavRow(viewModel_, tr("All Files"), std::nullopt, library));
    const std::pair<FileCategory, QString> categories[] = {
        {FileCategory::image, tr("Images")},       {FileCategory::video, tr("Video")},
        {FileCategory::audio, tr("Audio")},        {FileCategory::document, tr("Documents")},
        {FileCategory::archive, tr("Archives")},   {FileCategory::font, tr("Fonts")},
    };
    for (const auto& [category, label] : categories)
        libraryRows_.push_back(new SidebarNavRow(viewModel_, label, category, library));
    for (SidebarNavRow* row : libraryRows_) libraryColumn->addWidget(row);
    if (ScreenshotMode::active) {
        library->setParent(card);
        column->addWidget(library);
        return card;
    }
    auto* scroll = new FadingScrollArea(FadingScrollArea::Hint::content, true, card);
    // No taller than its rows; however short, it keeps room for the title and two rows.
    scroll->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    scroll->setMinimumHeight(libraryColumn->contentsMargins().top() + SectionLabel::labelHeight +
                             2 * (SidebarNavRow::rowHeight + libraryColumn->spacing()));
    scroll->hold(library);
    column->addWidget(scroll);
    return card;
}

QWidget* ConsoleSidebar::buildBottomCard() {
    auto* card = new QWidget;
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    if (ScreenshotMode::active) {
        sections_ = new QWidget(card);
        column->addWidget(sections_);
        column->addStretch(1);
        return card;
    }
    scroll_ = new FadingScrollArea(FadingScrollArea::Hint::minimum, false, card);
    // However short the window, the card keeps room for a section header and two rows: the
    // margins, the header, the space under it, and the rows with the space between them.
    scroll_->setMinimumHeight(4 + 34 + 2 + 2 * 28 + SidebarSection::rowSpacing + 16);
    sections_ = new QWidget;
    static_cast<FadingScrollArea*>(scroll_)->hold(sections_);
    column->addWidget(scroll_);
    return card;
}

QString ConsoleSidebar::conversionsText(int count) {
    return QLocale().toString(count) + QStringLiteral(" file") + (count == 1 ? QString() : QStringLiteral("s")) +
           QStringLiteral(" converted");
}

QString ConsoleSidebar::savedText(qint64 bytes) {
    return QString::fromStdString(formatByteCount(bytes)) + QStringLiteral(" saved");
}

namespace {

QString recentName(const RecentJob& recent) { return QString::fromStdString(lastPathComponent(recent.sourcePath)); }

QString recentSubtitle(const RecentJob& recent) {
    const auto target = SupportedFormat::fromRawValue(recent.targetFormatRaw);
    return target ? QObject::tr("to ") + QString::fromStdString(target->displayName()) : QString();
}

}  // namespace

ConsoleSidebar::SectionsShape ConsoleSidebar::sectionsShape() const {
    return {std::min<size_t>(5, viewModel_.recents().size()), viewModel_.statsTotalConversions() >= 1,
            viewModel_.statsTotalConversions() >= 1 && viewModel_.statsBytesSaved() >= 1};
}

void ConsoleSidebar::updateSections() {
    // A batch changes the recents and the stats at every file: the rows take their new texts in
    // place, and the sections are rebuilt only when a row or a section comes or goes.
    if (shape_ && *shape_ == sectionsShape()) {
        const auto& recents = viewModel_.recents();
        for (size_t i = 0; i < recentRows_.size(); ++i) {
            auto* row = static_cast<SidebarItemRow*>(recentRows_[i]);
            row->setTexts(recentName(recents[i]), recentSubtitle(recents[i]));
            row->setToolTip(tr("Convert ") + recentName(recents[i]) + tr(" again"));
        }
        if (conversionsRow_)
            static_cast<SidebarItemRow*>(conversionsRow_)->setTexts(conversionsText(viewModel_.statsTotalConversions()), {});
        if (savedRow_) static_cast<SidebarItemRow*>(savedRow_)->setTexts(savedText(viewModel_.statsBytesSaved()), {});
        return;
    }
    rebuildSections();
}

void ConsoleSidebar::rebuildSections() {
    // Rebuilt whole: the sections hold a handful of rows.
    shape_ = sectionsShape();
    recentRows_.clear();
    conversionsRow_ = savedRow_ = nullptr;
    delete sections_->layout();
    // The header that was clicked may be the one emitting: the old rows go once it has returned.
    for (QWidget* child : sections_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->hide();
        child->setParent(nullptr);
        child->deleteLater();
    }
    auto* column = new QVBoxLayout(sections_);
    column->setContentsMargins(16, 4, 16, 16);
    column->setSpacing(2);
    // A header and the section under it, which holds its rows open or closed.
    auto header = [&](const QString& title, const std::string& id) {
        auto* button = new CollapsibleHeader(title, sections_);
        button->setObjectName(QString::fromStdString(id));
        auto* section = new SidebarSection(viewModel_.isSectionExpanded(id), sections_);
        section->setObjectName(QString::fromStdString(id));
        button->attach(section);
        connect(button, &QAbstractButton::clicked, this, [this, id] { viewModel_.toggleSection(id); });
        column->addWidget(button);
        column->addWidget(section);
        return section;
    };

    const auto& recents = viewModel_.recents();
    if (!recents.empty()) {
        SidebarSection* section = header(tr("Recent"), "recent");
        for (size_t i = 0; i < shape_->recents; ++i) {
            const QString name = recentName(recents[i]);
            auto* row = new SidebarItemRow("arrow.counterclockwise", name, recentSubtitle(recents[i]), false, section);
            row->setToolTip(tr("Convert ") + name + tr(" again"));
            row->setCursor(Qt::PointingHandCursor);
            // The recent the row shows now: its texts follow the list in place.
            connect(row, &QAbstractButton::clicked, this, [this, i] {
                if (i < viewModel_.recents().size()) viewModel_.replayRecent(viewModel_.recents()[i]);
            });
            section->addRow(row);
            recentRows_.push_back(row);
        }
    }
    if (viewModel_.statsTotalConversions() >= 1) {
        SidebarSection* section = header(tr("Stats"), "stats");
        auto addStat = [&](const char* symbol, const QString& text) {
            auto* row = new SidebarItemRow(symbol, text, QString(), true, section);
            row->setAttribute(Qt::WA_TransparentForMouseEvents);
            row->setFocusPolicy(Qt::NoFocus);
            section->addRow(row);
            return row;
        };
        conversionsRow_ = addStat("arrow.left.arrow.right", conversionsText(viewModel_.statsTotalConversions()));
        if (shape_->saved) savedRow_ = addStat("internaldrive", savedText(viewModel_.statsBytesSaved()));
    }
    {
        SidebarSection* section = header(tr("Explore"), "explore");
        auto* all = new SidebarItemRow("square.grid.2x2", tr("All conversions"), QString(), false, section);
        connect(all, &QAbstractButton::clicked, this, [this] { viewModel_.setShowConversionsInfo(true); });
        auto* log = new SidebarItemRow("list.bullet.rectangle", tr("Conversion log"), QString(), false, section);
        connect(log, &QAbstractButton::clicked, this, [this] { viewModel_.toggleLogPanel(); });
        for (auto* link : {all, log}) {
            link->setCursor(Qt::PointingHandCursor);
            section->addRow(link);
        }
    }
    column->addStretch(1);
    // In place at once: laid out only later, the new rows would stand at the toolkit's default
    // place and size, and the headers would wait for a later turn to show.
    for (QWidget* child : sections_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!qobject_cast<SidebarSection*>(child)) child->show();
    // Taller at once, where the scroll view would make it so only later.
    const int needed = column->totalMinimumSize().height();
    if (sections_->height() < needed) sections_->resize(sections_->width(), needed);
    column->activate();
}

void ConsoleSidebar::updateChrome() {
    delete chromeLead_;
    if (viewModel_.isFullScreen()) {
        chromeLead_ = new FullScreenTrafficLights(viewModel_, chromeSlot_);
    } else {
        // Room for the window's own three buttons.
        chromeLead_ = new QWidget(chromeSlot_);
        chromeLead_->setFixedSize(66, 1);
    }
    chromeSlot_->layout()->addWidget(chromeLead_);
}

}  // namespace calvoro
