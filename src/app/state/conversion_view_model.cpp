// The view model's stored state, its settings and their persistence.
#include "app/state/conversion_view_model.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <limits>

#include "app/state/batch_runner_state.h"
#include "app/state/screenshot_mode.h"
#include "app/state/settings_values.h"
#include "core/folder_access.h"
#include "core/settings_store.h"
#include "core/work_folder.h"
#include "engine/conversion_engine.h"

namespace calvoro {
namespace {

const std::string kAppearanceKey = "Calvoro.appearanceMode";
const std::string kImageQualityKey = "Calvoro.imageQuality";
const std::string kImageMaxEdgeKey = "Calvoro.imageMaxEdge";
const std::string kStripMetadataKey = "Calvoro.stripMetadata";
const std::string kAudioBitrateKey = "Calvoro.audioBitrate";
const std::string kAccentKey = "Calvoro.accent";
const std::string kCustomAccentKey = "customAccentHex";
const std::string kKeepOriginalsKey = "Calvoro.keepOriginals";
const std::string kBackgroundTintKey = "Calvoro.backgroundTint";
const std::string kTintStrengthKey = "Calvoro.backgroundTintStrength";
const std::string kDefaultTargetsKey = "Calvoro.defaultTargets";
const std::string kRecentsKey = "Calvoro.recents";
const std::string kSectionsKey = "Calvoro.sidebarExpandedSections";
const std::string kStatsTotalKey = "Calvoro.statsTotalConversions";
const std::string kStatsBytesKey = "Calvoro.statsBytesSaved";
const std::string kOutputDirBookmarkKey = "Calvoro.outputDirBookmark";

constexpr uint32_t kDefaultCustomAccent = 0x4C9AFF;

template <typename T>
bool assign(T& field, const T& value) {
    if (field == value) return false;
    field = value;
    return true;
}

// Re-applies the window's own mode whenever the desktop's palette or theme changes.
class AppearanceObserver : public QObject {
public:
    AppearanceObserver(ConversionViewModel* model) : QObject(model), model_(model) {
        if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QCoreApplication::instance() &&
            (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange)) {
            QPointer<ConversionViewModel> model = model_;
            QMetaObject::invokeMethod(
                model_, [model] { if (model) model->updateResolvedScheme(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    ConversionViewModel* model_;
};

}  // namespace

ConversionViewModel::ConversionViewModel(QObject* parent)
    : QObject(parent), logger_(ConversionLogger::shared()), settings_(SettingsStore::shared()) {
    workers_.setMaxThreadCount(64);
    // Settings are written at every change; the main thread must not wait for the disk.
    settings_.writeInBackground();
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { settings_.flush(); });
    toastDismissTask_ = new QTimer(this);
    toastDismissTask_->setSingleShot(true);
    connect(toastDismissTask_, &QTimer::timeout, this, [this] { setToast(std::nullopt); });

    // Every change of a job's source or target comes through one of these.
    connect(this, &ConversionViewModel::jobUpdated, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(jobs_.size())) warmWebEngineIfNeeded(jobs_[row]);
    });
    connect(this, &ConversionViewModel::jobsStructureChanged, this, [this] {
        for (const auto& job : jobs_) warmWebEngineIfNeeded(job);
    });

    loadSettings();

    if (auto saved = resolveSavedOutputDirectory()) {
        outputDirectory_ = *saved;
        hasChosenOutputLocation_ = true;
    } else {
        outputDirectory_ = ConversionEngine::defaultOutputDirectory();
        hasChosenOutputLocation_ = ScreenshotMode::active.load();
    }
    // Work folders that a killed batch left in the output folder go now, off the main thread
    // (the folder may be large); only those whose owner is gone, as in the temporary folder.
    workers_.start([folder = outputDirectory_] { WorkFolder::removeAbandonedOnce(folder); });

    appearanceObserver_ = new AppearanceObserver(this);
    updateResolvedScheme();
    logger_.info("Calvoro initialized", "App");
    // The store has logged it; the user learns it here, since every setting is back at its default.
    if (auto aside = settings_.setAsideFile())
        showToast(Toast(Toast::Kind::warning, "Settings reset, old file kept", aside->filename().string()));
}

ConversionViewModel::~ConversionViewModel() {
    tearingDown_ = true;
    if (appearanceObserver_ && QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(appearanceObserver_);
    if (batch_) batch_->stop.request_stop();
    lifetimeStop_.request_stop();
    // Workers may wait for the main thread (document rendering); keep serving it until they end.
    while (!workers_.waitForDone(10)) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    settings_.flush();
}

void ConversionViewModel::loadSettings() {
    SettingsStore& s = settings_;
    // Counters: a number that no count can be (negative, or past the type) is taken as missing.
    if (auto n = s.integerValue(kStatsTotalKey); n && *n >= 0 && *n <= INT_MAX) statsTotalConversions_ = static_cast<int>(*n);
    if (auto n = s.integerValue(kStatsBytesKey); n && *n >= 0) statsBytesSaved_ = *n;
    if (auto v = s.value(kSectionsKey); v && v->is_array()) {
        SectionSet sections;
        bool allStrings = true;
        for (const auto& e : *v) {
            if (!e.is_string()) {
                allStrings = false;
                break;
            }
            sections.insert(e.get<std::string>());
        }
        if (allStrings) expandedSections_ = std::move(sections);
    }

    if (auto raw = s.stringValue(kAppearanceKey)) appearanceMode_ = appearanceModeFromRawValue(*raw).value_or(AppearanceMode::dark);
    // Values outside what the setting can mean fall back like missing ones.
    if (auto v = s.value(kImageQualityKey)) {
        if (auto d = settings::exactDouble(*v); d && *d >= 0 && *d <= 1) imageQuality_ = *d;
    }
    if (auto v = s.value(kImageMaxEdgeKey)) {
        if (auto i = settings::exactInteger(*v); i && *i >= 0 && *i <= INT_MAX) imageMaxEdge_ = static_cast<int>(*i);
    }
    if (auto v = s.value(kStripMetadataKey)) {
        if (auto b = settings::exactBool(*v)) stripMetadata_ = *b;
    }
    if (auto v = s.value(kAudioBitrateKey)) {
        if (auto i = settings::exactInteger(*v); i && *i > 0 && *i <= INT_MAX) audioBitrate_ = static_cast<int>(*i);
    }
    if (auto raw = s.stringValue(kAccentKey)) accent_ = AccentChoice::fromRawValue(*raw).value_or(AccentChoice::paper);

    uint32_t hex = kDefaultCustomAccent;
    if (auto v = s.value(kCustomAccentKey)) {
        // Only values that fit 32 bits unsigned are colours; anything else keeps the default.
        if (auto i = settings::exactInteger(*v); i && *i >= 0 && *i <= UINT32_MAX) hex = static_cast<uint32_t>(*i);
    }
    AccentChoice::customHex = hex;
    customAccent_ = colorFromHex(hex);

    if (auto v = s.value(kKeepOriginalsKey)) {
        if (auto b = settings::exactBool(*v)) keepOriginals_ = *b;
    }
    if (auto v = s.value(kBackgroundTintKey)) {
        if (auto b = settings::exactBool(*v)) backgroundTint_ = *b;
    }
    if (auto v = s.value(kTintStrengthKey)) {
        if (auto d = settings::exactDouble(*v); d && *d >= 0 && *d <= 1) backgroundTintStrength_ = *d;
    }
    if (auto v = s.value(kDefaultTargetsKey); v && v->is_object()) {
        bool allStrings = true;
        for (const auto& [key, value] : v->items()) allStrings = allStrings && value.is_string();
        if (allStrings) {
            for (const auto& [key, value] : v->items()) {
                auto category = FileCategory::fromRawValue(key);
                auto format = SupportedFormat::fromRawValue(value.get<std::string>());
                if (category && format) defaultTargets_.insert_or_assign(*category, *format);
            }
        }
    }
    if (auto data = s.dataValue(kRecentsKey)) {
        if (auto list = RecentJob::decodeList(std::string_view(reinterpret_cast<const char*>(data->data()), data->size())))
            recents_ = std::move(*list);
    }
}

std::optional<std::filesystem::path> ConversionViewModel::resolveSavedOutputDirectory() {
    SettingsStore& s = SettingsStore::shared();
    auto data = s.dataValue(kOutputDirBookmarkKey);
    if (!data) return std::nullopt;
    auto resolved = FolderAccess::resolveBookmark(*data);
    if (!resolved || resolved->stale) {
        s.remove(kOutputDirBookmarkKey);
        return std::nullopt;
    }
    // No sandbox here: the access needs no starting and lasts for the process.
    return resolved->url;
}

// ---- Setters ----

void ConversionViewModel::setShowFilePicker(bool value) {
    if (assign(showFilePicker_, value)) emit showFilePickerChanged();
}

void ConversionViewModel::setIsDragTargeted(bool value) {
    if (assign(isDragTargeted_, value)) emit isDragTargetedChanged();
}

void ConversionViewModel::setAppearanceMode(AppearanceMode value) {
    if (!assign(appearanceMode_, value)) return;
    emit appearanceModeChanged();
    settings_.set(kAppearanceKey, rawValue(value));
    updateResolvedScheme();
}

void ConversionViewModel::setShowOutputDirPicker(bool value) {
    if (assign(showOutputDirPicker_, value)) emit showOutputDirPickerChanged();
}

void ConversionViewModel::setShowLogPanel(bool value) {
    if (assign(showLogPanel_, value)) emit showLogPanelChanged();
}

void ConversionViewModel::setToast(const OptionalToast& value) {
    if (assign(toast_, value)) emit toastChanged();
}

void ConversionViewModel::setImageQuality(double value) {
    if (assign(imageQuality_, value)) emit imageQualityChanged();
    settings_.set(kImageQualityKey, value);
}

void ConversionViewModel::setImageMaxEdge(int value) {
    if (assign(imageMaxEdge_, value)) emit imageMaxEdgeChanged();
    settings_.set(kImageMaxEdgeKey, value);
}

void ConversionViewModel::setStripMetadata(bool value) {
    if (assign(stripMetadata_, value)) emit stripMetadataChanged();
    settings_.set(kStripMetadataKey, value);
}

void ConversionViewModel::setAudioBitrate(int value) {
    if (assign(audioBitrate_, value)) emit audioBitrateChanged();
    settings_.set(kAudioBitrateKey, value);
}

void ConversionViewModel::setShowConversionsInfo(bool value) {
    if (assign(showConversionsInfo_, value)) emit showConversionsInfoChanged();
}

void ConversionViewModel::setLibraryFilter(const OptionalCategory& value) {
    if (assign(libraryFilter_, value)) emit libraryFilterChanged();
}

void ConversionViewModel::setSearchQuery(const std::string& value) {
    if (assign(searchQuery_, value)) emit searchQueryChanged();
}

void ConversionViewModel::setSelection(const Selection& value) { setSelectionValue(value); }

void ConversionViewModel::setSelectionValue(Selection value) {
    if (selection_ == value) return;
    selection_ = std::move(value);
    emit selectionChanged();
}

void ConversionViewModel::setShowSettingsPopover(bool value) {
    if (assign(showSettingsPopover_, value)) emit showSettingsPopoverChanged();
}

void ConversionViewModel::setIsFullScreen(bool value) {
    if (assign(isFullScreen_, value)) emit isFullScreenChanged();
}

void ConversionViewModel::setSidebarCollapsed(bool value) {
    if (assign(sidebarCollapsed_, value)) emit sidebarCollapsedChanged();
}

void ConversionViewModel::setAccent(AccentChoice value) {
    if (!assign(accent_, value)) return;
    emit accentChanged();
    settings_.set(kAccentKey, value.rawValue());
}

void ConversionViewModel::setCustomAccent(const QColor& value) {
    if (!assign(customAccent_, value)) return;
    emit customAccentChanged();
    const uint32_t hex = hexValue(value);
    AccentChoice::customHex = hex;
    settings_.set(kCustomAccentKey, hex);
    if (accent_ == AccentChoice::custom) emit accentChanged();
}

void ConversionViewModel::setKeepOriginals(bool value) {
    if (assign(keepOriginals_, value)) emit keepOriginalsChanged();
    settings_.set(kKeepOriginalsKey, value);
}

void ConversionViewModel::setBackgroundTint(bool value) {
    if (assign(backgroundTint_, value)) emit backgroundTintChanged();
    settings_.set(kBackgroundTintKey, value);
}

void ConversionViewModel::setBackgroundTintStrength(double value) {
    if (assign(backgroundTintStrength_, value)) emit backgroundTintStrengthChanged();
    settings_.set(kTintStrengthKey, value);
}

void ConversionViewModel::setDefaultTargets(const DefaultTargets& value) {
    // Every assignment is saved, even one that changes nothing.
    if (assign(defaultTargets_, value)) emit defaultTargetsChanged();
    saveDefaultTargets();
}

void ConversionViewModel::saveDefaultTargets() {
    SettingsStore::Value dict = SettingsStore::Value::object();
    for (const auto& [category, format] : defaultTargets_) dict[category.rawValue()] = format.rawValue();
    settings_.set(kDefaultTargetsKey, std::move(dict));
}

void ConversionViewModel::setFilePickerCategory(const OptionalCategory& value) {
    if (assign(filePickerCategory_, value)) emit filePickerCategoryChanged();
}

void ConversionViewModel::setCompressingJob(const OptionalJob& value) {
    if (assign(compressingJob_, value)) emit compressingJobChanged();
}

// ---- Appearance, toasts, panels, sidebar ----

void ConversionViewModel::updateResolvedScheme() {
    // The window applies the scheme to its own palette; the desktop's theme never overrides it.
    const ColorScheme scheme = appearanceMode_ == AppearanceMode::light ? ColorScheme::light : ColorScheme::dark;
    if (assign(resolvedColorScheme_, scheme)) emit resolvedColorSchemeChanged();
}

void ConversionViewModel::showToast(const Toast& toast) {
    toastDismissTask_->stop();
    setToast(toast);
    toastDismissTask_->start(static_cast<int>(toast.displayDuration() * 1000.0));
}

void ConversionViewModel::toggleLogPanel() { setShowLogPanel(!showLogPanel_); }

void ConversionViewModel::hideLogPanel() {
    if (showLogPanel_) setShowLogPanel(false);
}

void ConversionViewModel::toggleSection(const std::string& id) {
    if (!expandedSections_.erase(id)) expandedSections_.insert(id);
    emit expandedSectionsChanged();
    SettingsStore::Value list = SettingsStore::Value::array();
    for (const auto& section : expandedSections_) list.push_back(section);
    settings_.set(kSectionsKey, std::move(list));
}

bool ConversionViewModel::isSectionExpanded(const std::string& id) const { return expandedSections_.count(id) > 0; }

void ConversionViewModel::recordStats(int64_t sourceSize, std::optional<int64_t> outputSize) {
    // The counters stop at their largest value rather than wrap.
    if (statsTotalConversions_ < INT_MAX) ++statsTotalConversions_;
    emit statsTotalConversionsChanged();
    if (outputSize && *outputSize >= 0 && *outputSize < sourceSize) {
        const int64_t saved = sourceSize - *outputSize;
        statsBytesSaved_ = saved > std::numeric_limits<int64_t>::max() - statsBytesSaved_ ? std::numeric_limits<int64_t>::max()
                                                                                           : statsBytesSaved_ + saved;
        emit statsBytesSavedChanged();
    }
    settings_.set(kStatsTotalKey, statsTotalConversions_);
    settings_.set(kStatsBytesKey, statsBytesSaved_);
}

void ConversionViewModel::setApplicationActiveProbe(std::function<bool()> probe) { applicationActiveProbe_ = std::move(probe); }

bool ConversionViewModel::applicationIsActive() const {
    if (applicationActiveProbe_) return applicationActiveProbe_();
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
           QGuiApplication::applicationState() == Qt::ApplicationActive;
}

}  // namespace calvoro
