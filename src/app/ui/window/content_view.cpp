#include "app/ui/window/content_view.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStackedLayout>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "app/state/conversion_view_model.h"
#include "app/ui/compress_sheet/compress_sheet.h"
#include "app/ui/console/console_card.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/overlays/conversions_info_popover.h"
#include "app/ui/overlays/drop_overlay.h"
#include "app/ui/drop_zone/drop_zone_view.h"
#include "app/ui/theme/focus_order.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/kx_canvas_background.h"
#include "platform/qt/file_urls.h"
#include "app/ui/theme/layer_transition.h"
#include "app/ui/log_panel/log_panel_view.h"
#include "app/ui/overlays/modal_chrome.h"
#include "app/ui/theme/shadow.h"
#include "app/ui/theme/theme.h"
#include "app/ui/overlays/toast_view.h"
#include "app/ui/chrome/traffic_light_visibility_accessor.h"
#include "app/ui/window/desktop_dialogs.h"
#include "core/file_detector.h"
#include "core/text_util.h"
#include "core/uniform_type.h"

namespace calvoro {
namespace {

constexpr double rowPadding = 8, rowSpacing = 8, toastBottom = 64, toastMargin = 32;
constexpr Spring sidebarSpring{0.24, 1.0, 0}, logSpring{0.24, 1.0, 0}, settingsSpring{0.16, 1.0, 0},
    conversionsSpring{0.2, 1.0, 0}, dropSpring{0.16, 1.0, 0};

// Until the console is built in: the jobs by name and status on the main card.
class JobListPlaceholder : public QWidget {
public:
    JobListPlaceholder(ConversionViewModel& viewModel, QWidget* parent) : QWidget(parent), viewModel_(viewModel) {
        connect(&viewModel_, &ConversionViewModel::jobsChanged, this, [this] { update(); });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        painter.setFont(Theme::font(12.5));
        // Below the window's own buttons, where the sidebar's header would be.
        double y = 52;
        for (const auto& job : viewModel_.jobs()) {
            if (y > height()) break;
            painter.setPen(Theme::textPrimary(scheme));
            painter.drawText(QRectF(20, y, width() - 180, 22), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::fromStdString(job.fileName));
            painter.setPen(Theme::textTertiary(scheme));
            painter.drawText(QRectF(width() - 160, y, 140, 22), Qt::AlignRight | Qt::AlignVCenter,
                             QString::fromStdString(job.status.rawValue()));
            y += 26;
        }
    }

private:
    ConversionViewModel& viewModel_;
};

// Directories that the desktop shows as one document rather than as a folder.
bool isPackageName(const std::filesystem::path& path) {
    static const std::set<std::string> packages{"app", "bundle", "framework", "plugin", "rtfd", "pages", "numbers", "key"};
    return packages.count(unicodeLowercased(pathExtension(path))) > 0;
}

QString patterns(const std::vector<std::string>& extensions) {
    QStringList patterns;
    for (const auto& ext : extensions) patterns << QStringLiteral("*.") + QString::fromStdString(ext);
    return patterns.join(' ');
}

// The open panel's filters. For one category, the types it offers. For none, which offers any
// file: every name the detector reads, then those of each category, then any file at all (a
// file may still be known by its type rather than its name).
QStringList nameFilters(const std::optional<FileCategory>& category, const std::vector<std::string>& types) {
    if (category && *category != FileCategory::unknown) {
        std::vector<std::string> extensions;
        for (const auto& type : types)
            for (auto& ext : uti::extensionsConforming(type))
                if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) extensions.push_back(ext);
        if (!extensions.empty()) return {QStringLiteral("Supported files (%1)").arg(patterns(extensions))};
    }
    const auto readable = FileDetector::readableExtensions();
    auto of = [&](std::optional<FileCategory> wanted) {
        std::vector<std::string> extensions;
        for (const auto& [ext, format] : readable)
            if (!wanted || format.category() == *wanted) extensions.push_back(ext);
        return extensions;
    };
    QStringList filters{QStringLiteral("All supported files (%1)").arg(patterns(of(std::nullopt)))};
    const std::pair<FileCategory, const char*> categories[] = {
        {FileCategory::image, "Images"},       {FileCategory::video, "Video"},    {FileCategory::audio, "Audio"},
        {FileCategory::document, "Documents"}, {FileCategory::archive, "Archives"}, {FileCategory::font, "Fonts"}};
    for (const auto& [each, name] : categories)
        if (const auto extensions = of(each); !extensions.empty())
            filters << QStringLiteral("%1 (%2)").arg(QLatin1String(name), patterns(extensions));
    filters << QStringLiteral("All files (*)");
    return filters;
}

}  // namespace

// A veil over the whole window with a card in the middle; a click on the veil runs onTapOutside.
// The card grows from 0.96 of its size as the layer comes in and shrinks back as it goes, drawn
// from a picture of itself meanwhile.
class ContentView::ModalLayer : public QWidget {
public:
    ModalLayer(std::function<void()> onTapOutside, QWidget* parent)
        : QWidget(parent), onTapOutside_(std::move(onTapOutside)) {}

    void setCard(QWidget* card) {
        card_ = card;
        if (card_) {
            card_->setParent(this);
            // The card holds the focus only to pass it to its controls; clicks on its face keep it there.
            if (card_->focusPolicy() == Qt::NoFocus) card_->setFocusPolicy(Qt::ClickFocus);
            FocusRing::setNoRing(card_);
        }
        placeCard();
    }
    QWidget* card() const { return card_; }

    void setProgress(double progress) {
        progress_ = progress;
        if (!card_) return;
        const bool moving = progress < 0.999;
        // Only a shown card is pictured: grabbing one whose window is not up yet lays the window out with
        // updates held off, and widgets made during that layout would never paint.
        if (moving && picture_.isNull() && isVisible()) picture_ = card_->grab();
        card_->setVisible(!moving);
        if (!moving) picture_ = QPixmap();
        if (!moving && card_->isVisible()) takeFocus();
        update();
    }

protected:
    // Keys go to the card, not to the search field or the rows behind the backdrop.
    void takeFocus() {
        const QWidget* focused = QApplication::focusWidget();
        if (focused && card_->isAncestorOf(focused)) return;
        card_->setFocus(Qt::PopupFocusReason);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const ColorScheme scheme = Theme::scheme(this);
        painter.fillRect(rect(), rgbColor(0x000000, scheme == ColorScheme::dark ? 0.45 : 0.25));
        if (!card_ || picture_.isNull()) return;
        const double scale = 0.96 + 0.04 * std::clamp(progress_, 0.0, 1.0);
        const QRectF frame(card_->geometry());
        QRectF scaled(0, 0, frame.width() * scale, frame.height() * scale);
        scaled.moveCenter(frame.center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        Shadow shadow = ModalChrome::shadow(scheme);
        shadow.cornerRadius *= scale;
        paintShadow(painter, scaled, shadow);
        painter.drawPixmap(scaled, picture_, QRectF(picture_.rect()));
    }
    void resizeEvent(QResizeEvent*) override { placeCard(); }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        if (card_ && card_->geometry().contains(event->position().toPoint())) return;
        if (onTapOutside_) onTapOutside_();
    }

private:
    void placeCard() {
        if (!card_) return;
        const QSize size = card_->size().isEmpty() ? card_->sizeHint() : card_->size();
        card_->setGeometry((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    }

    std::function<void()> onTapOutside_;
    QWidget* card_ = nullptr;
    double progress_ = 1.0;
    QPixmap picture_;
};

ContentView::ContentView(ConversionViewModel& viewModel, ConsoleViews console, QWidget* parent)
    : QWidget(parent),
      viewModel_(viewModel),
      console_(std::move(console)),
      background_(new KxCanvasBackground(this)),
      column_(new QWidget(this)),
      cardStack_(new QWidget()),
      dropZone_(new DropZoneView(viewModel, cardStack_)),
      toastHost_(new QWidget(this)),
      dropOverlay_(new DropOverlay(this)),
      trafficLights_(new TrafficLightVisibilityAccessor(this)),
      focusRing_(new FocusRing(this)),
      escape_(new QShortcut(QKeySequence(Qt::Key_Escape), this)) {
    setMinimumSize(820, minimumContentHeight);
    // Holds the focus when the control that had it went away with a card.
    FocusRing::setNoRing(this);
    escape_->setContext(Qt::WindowShortcut);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, &ContentView::closeTopCard);
    setAcceptDrops(true);

    auto* stack = new QStackedLayout(cardStack_);
    stack->addWidget(dropZone_);
    consoleMain_ = console_.main ? console_.main(viewModel_, cardStack_) : new JobListPlaceholder(viewModel_, cardStack_);
    stack->addWidget(consoleMain_);
    card_ = consoleCard(cardStack_, column_);
    if (console_.sidebar) {
        sidebar_ = console_.sidebar(viewModel_, column_);
        sidebarTransition_ = new LayerTransition(sidebar_, sidebarSpring, true, this);
        connect(sidebarTransition_, &LayerTransition::progressChanged, this, &ContentView::relayout);
    }
    toastHost_->setAttribute(Qt::WA_TranslucentBackground);
    dropTransition_ = new LayerTransition(dropOverlay_, dropSpring, true, this);

    const auto& vm = viewModel_;
    connect(&vm, &ConversionViewModel::jobsChanged, this, &ContentView::updateMainCard);
    connect(&vm, &ConversionViewModel::jobsStructureChanged, this, &ContentView::noteAddedFiles);
    connect(&vm, &ConversionViewModel::sidebarCollapsedChanged, this, &ContentView::updateSidebar);
    connect(&vm, &ConversionViewModel::showLogPanelChanged, this, &ContentView::updateLogPanel);
    connect(&vm, &ConversionViewModel::toastChanged, this, &ContentView::updateToast);
    connect(&vm, &ConversionViewModel::showSettingsPopoverChanged, this, &ContentView::updateSettings);
    connect(&vm, &ConversionViewModel::compressingJobChanged, this, &ContentView::updateCompress);
    connect(&vm, &ConversionViewModel::showConversionsInfoChanged, this, &ContentView::updateConversions);
    connect(&vm, &ConversionViewModel::showFilePickerChanged, this, &ContentView::presentFilePicker);
    for (auto signal : {&ConversionViewModel::resolvedColorSchemeChanged, &ConversionViewModel::accentChanged,
                        &ConversionViewModel::backgroundTintChanged, &ConversionViewModel::backgroundTintStrengthChanged})
        connect(&vm, signal, this, &ContentView::applyAppearance);

    // Where the keys were outside the log panel, for when the panel goes.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || !isAncestorOf(now) || (logPanel_ && logPanel_->isAncestorOf(now))) return;
        if (QWidget* card = focusScope(); card && (card == now || card->isAncestorOf(now))) return;
        focusOutsideLog_ = now;
    });

    applyAppearance();
    noteAddedFiles();
    updateMainCard();
    updateSidebar();
    updateLogPanel();
    updateToast();
    updateSettings();
    updateCompress();
    updateConversions();
    presentFilePicker();
    stackLayers();
}

ContentView::~ContentView() = default;

void ContentView::dismissLayer(QWidget* layer) {
    // A layer on its way out no longer stands between the user and the window.
    layer->setAttribute(Qt::WA_TransparentForMouseEvents);
    layer->findChild<LayerTransition*>()->leave([layer] { layer->deleteLater(); });
}

void ContentView::enterModal(ModalLayer* layer, const Spring& spring) {
    auto* transition = new LayerTransition(layer, spring, true, layer);
    connect(transition, &LayerTransition::progressChanged, layer, [layer](double progress) { layer->setProgress(progress); });
    transition->enter();
}

QWidget* ContentView::settingsLayer() const { return settingsLayer_; }
QWidget* ContentView::compressLayer() const { return compressLayer_; }

bool ContentView::isRealFolder(const std::filesystem::path& url) {
    struct stat info {};
    if (::stat(url.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && !isPackageName(url);
}

QWidget* ContentView::mainCardContent() const { return viewModel_.jobs().empty() ? static_cast<QWidget*>(dropZone_) : consoleMain_; }

void ContentView::applyAppearance() {
    const ColorScheme scheme = viewModel_.resolvedColorScheme();
    Theme::applyAppearance(this, scheme, viewModel_.accent());
    background_->setScheme(scheme);
    background_->setAccent(viewModel_.accent());
    background_->setTint(viewModel_.backgroundTint());
    background_->setTintStrength(viewModel_.backgroundTintStrength());
}

void ContentView::updateMainCard() {
    static_cast<QStackedLayout*>(cardStack_->layout())->setCurrentWidget(mainCardContent());
}

void ContentView::updateSidebar() {
    if (!sidebarTransition_) return;
    if (viewModel_.sidebarCollapsed()) sidebarTransition_->leave();
    else sidebarTransition_->enter();
    relayout();
}

void ContentView::updateLogPanel() {
    if (viewModel_.showLogPanel()) {
        // Each showing starts unfiltered.
        if (logPanel_ && logTransition_->isPresent()) return;
        if (logPanel_) logPanel_->deleteLater();
        logPanel_ = new LogPanelView(viewModel_.logger(), viewModel_, column_);
        logTransition_ = new LayerTransition(logPanel_, logSpring, false, logPanel_);
        connect(logTransition_, &LayerTransition::progressChanged, this, &ContentView::relayout);
        logTransition_->enter();
        keepRoomForLog(true);
    } else if (logPanel_ && logTransition_->isPresent()) {
        LogPanelView* leaving = logPanel_;
        // The keys leave with the panel, back to where they were before it took them, with the
        // look they had; the toolkit would pass them on to the next control as if by Tab.
        QWidget* focus = window()->focusWidget();
        if (focus && (focus == leaving || leaving->isAncestorOf(focus))) {
            QWidget* back = focusOutsideLog_;
            if (back && back->isVisible() && back->isEnabled()) back->setFocus(Qt::PopupFocusReason);
            else setFocus(Qt::PopupFocusReason);
        }
        logTransition_->leave([this, leaving] {
            if (logPanel_ == leaving) logPanel_ = nullptr, logTransition_ = nullptr;
            leaving->deleteLater();
            keepRoomForLog(false);
            relayout();
        });
    }
    relayout();
}

void ContentView::keepRoomForLog(bool present) {
    // The log panel takes its height from the console row, whose columns give way: the job list
    // shrinks and the sidebar's rows scroll. A window too short for the panel and the whole
    // sidebar asks to grow, though never past its screen, and gives the growth back when the panel
    // goes unless it has been resized meanwhile. Whether it grows is the window manager's call:
    // the content never asks for more than the window has.
    QWidget* top = window();
    const bool resizable = top != this && !(top->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen));
    const int frame = top->height() - height();
    if (present) {
        if (!resizable || !sidebar_) return;
        int room = 0;
        if (screenRoom_) room = screenRoom_();
        else if (QScreen* screen = top->screen())
            room = screen->availableGeometry().height() - (top->frameGeometry().height() - top->height());
        const int whole = sidebar_->sizeHint().height() + static_cast<int>(2 * rowPadding) + LogPanelView::panelHeight;
        const int wanted = std::min(whole + frame, room);
        const int before = top->height();
        if (before >= wanted) return;
        top->resize(top->width(), wanted);
        if (top->height() > before) {
            logGrowth_ = top->height() - before;
            grownTo_ = top->height();
        }
        return;
    }
    if (logGrowth_ > 0 && resizable && top->height() == grownTo_) top->resize(top->width(), top->height() - logGrowth_);
    logGrowth_ = 0;
    grownTo_ = -1;
}

void ContentView::updateToast() {
    const auto& toast = viewModel_.toast();
    if (toast) {
        if (toast_) {
            toast_->setToast(*toast);
        } else {
            toast_ = new ToastView(*toast, [this] { viewModel_.setToast(std::nullopt); }, toastHost_);
            new ShadowCaster(toast_, [this] {
                Shadow shadow{rgbColor(0x000000, Theme::scheme(this) == ColorScheme::dark ? 0.30 : 0.12), 12, {0, 8},
                              ToastView::cornerRadius};
                return shadow;
            });
            toastTransition_ = new LayerTransition(toastHost_, Theme::smooth, true, toast_);
            connect(toastTransition_, &LayerTransition::progressChanged, this, &ContentView::relayout);
        }
        toast_->show();
        toastTransition_->enter();
    } else if (toast_ && toastTransition_->isPresent()) {
        ToastView* leaving = toast_;
        toastTransition_->leave([this, leaving] {
            if (toast_ == leaving) toast_ = nullptr, toastTransition_ = nullptr;
            leaving->deleteLater();
        });
    }
    relayout();
}

void ContentView::updateSettings() {
    if (viewModel_.showSettingsPopover()) {
        if (settingsLayer_) return;
        settingsLayer_ = new ModalLayer([this] { viewModel_.setShowSettingsPopover(false); }, this);
        if (console_.settingsPopover)
            settingsLayer_->setCard(console_.settingsPopover(
                viewModel_,
                [this] {
                    viewModel_.setShowSettingsPopover(false);
                    viewModel_.setShowConversionsInfo(true);
                },
                settingsLayer_));
        enterModal(settingsLayer_, settingsSpring);
    } else if (settingsLayer_) {
        closeLayer(std::exchange(settingsLayer_, nullptr));
    }
    stackLayers();
    updateModality();
}

void ContentView::updateCompress() {
    const auto& job = viewModel_.compressingJob();
    if (compressLayer_ && (!job || !compressSheet_ || compressLayer_->property("jobId").toString() !=
                                                           QString::fromStdString(job->id.uuidString()))) {
        compressSheet_ = nullptr;
        closeLayer(std::exchange(compressLayer_, nullptr));
    }
    if (job && !compressLayer_) {
        compressLayer_ = new ModalLayer([this] { viewModel_.setCompressingJob(std::nullopt); }, this);
        compressLayer_->setProperty("jobId", QString::fromStdString(job->id.uuidString()));
        compressSheet_ = new CompressSheet(viewModel_, *job, [this] { viewModel_.setCompressingJob(std::nullopt); });
        compressLayer_->setCard(compressSheet_);
        enterModal(compressLayer_, settingsSpring);
    }
    stackLayers();
    updateModality();
}

void ContentView::updateConversions() {
    if (viewModel_.showConversionsInfo()) {
        if (conversions_) return;
        conversions_ = new ConversionsInfoPopover([this] { viewModel_.setShowConversionsInfo(false); }, this);
        FocusRing::setNoRing(conversions_);
        (new LayerTransition(conversions_, conversionsSpring, true, conversions_))->enter();
        stackLayers();
        updateModality();
        // Keys go to the card, not to the window behind it.
        conversions_->setFocus(Qt::PopupFocusReason);
        return;
    }
    if (conversions_) closeLayer(std::exchange(conversions_, nullptr));
    stackLayers();
    updateModality();
}

void ContentView::updateModality() {
    // The console row takes no clicks or hovers while any modal layer is up.
    const bool modal = viewModel_.isAnyModalOpen();
    for (QWidget* widget : {static_cast<QWidget*>(card_), sidebar_})
        if (widget) widget->setAttribute(Qt::WA_TransparentForMouseEvents, modal);
    // A card over the rows takes their hover; the row under the pointer has it again when it goes.
    for (ConsoleJobList* list : findChildren<ConsoleJobList*>()) list->recheckHover();

    const bool cardOpen = focusScope() != nullptr;
    escape_->setEnabled(cardOpen);
    if (cardOpen == cardOpen_) return;
    cardOpen_ = cardOpen;
    QWidget* focus = window()->focusWidget();
    focusBeforeCard_ = (cardOpen && focus && isAncestorOf(focus)) ? focus : nullptr;
}

void ContentView::closeLayer(QWidget* layer) {
    // The keys leave with the card, before it hides and the toolkit passes them on at random: to
    // the card still open, else back to where they were before the cards with the look they had
    // then, else to the window.
    QWidget* focus = window()->focusWidget();
    if (focus && (focus == layer || layer->isAncestorOf(focus))) {
        QWidget* back = focusBeforeCard_;
        if (QWidget* open = focusScope()) open->setFocus(Qt::PopupFocusReason);
        else if (back && back->isVisible() && back->isEnabled()) back->setFocus(Qt::PopupFocusReason);
        else setFocus(Qt::PopupFocusReason);
    }
    dismissLayer(layer);
}

QWidget* ContentView::focusScope() const {
    // Front to back, as stacked.
    if (conversions_) return conversions_;
    if (compressLayer_) return compressLayer_;
    if (settingsLayer_) return settingsLayer_;
    return nullptr;
}

void ContentView::closeTopCard() {
    if (conversions_) viewModel_.setShowConversionsInfo(false);
    else if (compressLayer_) viewModel_.setCompressingJob(std::nullopt);
    else if (settingsLayer_) viewModel_.setShowSettingsPopover(false);
}

bool ContentView::focusNextPrevChild(bool next) {
    if (QWidget* scope = focusScope()) {
        // Nothing behind the backdrop is reachable; a card still coming in takes no stop yet.
        FocusOrder::step(FocusOrder::inside(scope), next);
        return true;
    }
    std::vector<QWidget*> stops;
    for (QWidget* region : {sidebar_, mainCardContent(), static_cast<QWidget*>(logPanel_), toastHost_}) {
        const auto inside = FocusOrder::inside(region);
        stops.insert(stops.end(), inside.begin(), inside.end());
    }
    return FocusOrder::step(stops, next) || QWidget::focusNextPrevChild(next);
}

void ContentView::stackLayers() {
    // Back to front: canvas, columns, toasts, settings (4), compress (6, 7), conversions (8), drop (10).
    // The bottom layers go down rather than the columns up, so a card fading out stays in front.
    toastHost_->lower();
    column_->lower();
    background_->lower();
    for (QWidget* layer : {static_cast<QWidget*>(settingsLayer_), static_cast<QWidget*>(compressLayer_),
                           static_cast<QWidget*>(conversions_), static_cast<QWidget*>(dropOverlay_)})
        if (layer) layer->raise();
    focusRing_->raise();
    relayout();
}

void ContentView::resizeEvent(QResizeEvent*) { relayout(); }

void ContentView::relayout() {
    const QRect all = rect();
    background_->setGeometry(all);
    column_->setGeometry(all);
    for (QWidget* layer : {static_cast<QWidget*>(settingsLayer_), static_cast<QWidget*>(compressLayer_),
                           static_cast<QWidget*>(conversions_), static_cast<QWidget*>(dropOverlay_)})
        if (layer) layer->setGeometry(all);

    // The log panel slides up from the bottom edge; the row above it gives way.
    const double logProgress = logTransition_ ? logTransition_->progress() : 0.0;
    const double logHeight = LogPanelView::panelHeight * logProgress;
    if (logPanel_) logPanel_->setGeometry(0, static_cast<int>(std::round(height() - logHeight)), width(), LogPanelView::panelHeight);
    const double rowBottom = height() - logHeight;

    // The sidebar slides in from the leading edge; the main card widens as it goes.
    double cardLeft = rowPadding;
    if (sidebar_) {
        const double sidebarProgress = sidebarTransition_->progress();
        const double sidebarWidth = sidebar_->sizeHint().width();
        const double shift = (sidebarWidth + rowSpacing) * sidebarProgress;
        sidebar_->setGeometry(QRectF(rowPadding - (sidebarWidth + rowSpacing) + shift, rowPadding, sidebarWidth,
                                     rowBottom - 2 * rowPadding)
                                  .toRect());
        cardLeft += shift;
    }
    card_->setGeometry(QRectF(cardLeft, rowPadding, width() - rowPadding - cardLeft, rowBottom - 2 * rowPadding).toRect());

    // The toast sits 64 points above the bottom and moves in from below the window's edge.
    if (toast_) {
        const QSize size = toast_->sizeHint();
        const double progress = toastTransition_ ? toastTransition_->progress() : 1.0;
        const double rest = height() - toastBottom - size.height();
        const double y = rest + (1.0 - progress) * (size.height() + toastBottom);
        toastHost_->setGeometry(QRectF((width() - size.width()) / 2.0 - toastMargin, y - toastMargin,
                                       size.width() + 2 * toastMargin, size.height() + 2 * toastMargin)
                                    .toRect());
        toast_->setGeometry(static_cast<int>(toastMargin), static_cast<int>(toastMargin), size.width(), size.height());
        // Only the card takes clicks; the rest of the window stays reachable around it.
        toastHost_->setMask(QRegion(toast_->geometry().adjusted(-1, -1, 1, 1)).united(
            QRegion(toast_->geometry().adjusted(-static_cast<int>(toastMargin) + 4, -4, static_cast<int>(toastMargin) - 4,
                                                static_cast<int>(toastMargin) - 4))));
    } else {
        toastHost_->setGeometry(0, 0, 0, 0);
    }
}

void ContentView::setDropTargeted(bool targeted) {
    if (dropTargeted_ == targeted) return;
    dropTargeted_ = targeted;
    dropZone_->setDropTargeted(targeted);
    if (targeted) dropTransition_->enter();
    else dropTransition_->leave();
    trafficLights_->setHidden(targeted);
    stackLayers();
}

void ContentView::dragEnterEvent(QDragEnterEvent* event) {
    // Only drags that carry files: text or pictures from other programs are not drops here.
    const QMimeData* data = event->mimeData();
    bool hasFile = false;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls()) hasFile = hasFile || url.isLocalFile();
    if (!hasFile) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void ContentView::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void ContentView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void ContentView::dropEvent(QDropEvent* event) {
    setDropTargeted(false);
    const QList<QUrl> urls = event->mimeData() ? event->mimeData()->urls() : QList<QUrl>();
    event->acceptProposedAction();
    handleDrop(urls);
}

void ContentView::handleDrop(const QList<QUrl>& urls) {
    std::vector<std::filesystem::path> files, folders;
    for (const QUrl& url : urls) {
        // Items that are not files are passed over without a word.
        const auto local = qtpaths::localPath(url);
        if (!local) continue;
        const std::filesystem::path& path = *local;
        (isRealFolder(path) ? folders : files).push_back(path);
    }
    if (!folders.empty())
        viewModel_.showToast(Toast(Toast::Kind::warning, "Folders aren't supported yet", std::string("Drop the files inside instead")));
    if (!files.empty()) viewModel_.addFiles(files);
}

void ContentView::noteAddedFiles() {
    // New jobs go to the end of the list, however they came: the panel, a drop, Open With, a recent.
    const auto& jobs = viewModel_.jobs();
    if (jobs.size() > jobCount_) addedFrom_ = jobs.back().sourceURL.parent_path();
    jobCount_ = jobs.size();
}

void ContentView::presentFilePicker() {
    if (!viewModel_.showFilePicker() || filePickerOpen_) return;
    filePickerOpen_ = true;
    auto* dialog = new QFileDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters(nameFilters(viewModel_.filePickerCategory(), viewModel_.allowedContentTypes()));
    dialog->setDirectoryUrl(DesktopDialogs::startFolder(
        addedFrom_, {QStandardPaths::PicturesLocation, QStandardPaths::DocumentsLocation}));
    DesktopDialogs::fitFallback(dialog);
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        filePickerOpen_ = false;
        if (result == QDialog::Accepted) {
            std::vector<std::filesystem::path> files;
            // URLs, not file names: the desktop's chooser hands back a name's bytes in them.
            for (const QUrl& url : dialog->selectedUrls())
                if (auto file = qtpaths::localPath(url)) files.push_back(std::move(*file));
            if (!files.empty()) viewModel_.addFiles(files);
        }
        viewModel_.setShowFilePicker(false);
        viewModel_.setFilePickerCategory(std::nullopt);
    });
    dialog->open();
}

}  // namespace calvoro
