#pragma once

#include <QColor>
#include <QObject>
#include <QThreadPool>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "app/state/accent_choice.h"
#include "app/state/appearance.h"
#include "app/state/batch_limits.h"
#include "app/state/job_search.h"
#include "app/state/recent_job.h"
#include "app/state/toast.h"
#include "compressor/compression_estimate.h"
#include "compressor/compression_level.h"
#include "core/conversion_defaults.h"
#include "core/conversion_job.h"
#include "core/conversion_logger.h"
#include "core/supported_format.h"
#include "core/uuid.h"

class QTimer;

namespace calvoro {

class SettingsStore;

// The window's one state object. Lives on the main thread; every change of a published value
// emits its change signal once. Conversions run on worker threads and report back here.
class ConversionViewModel : public QObject {
    Q_OBJECT

public:
    using Jobs = std::vector<ConversionJob>;
    using Recents = std::vector<RecentJob>;
    using Selection = std::set<Uuid>;
    using SectionSet = std::set<std::string>;
    using DefaultTargets = std::map<FileCategory, SupportedFormat>;
    using OptionalCategory = std::optional<FileCategory>;
    using OptionalToast = std::optional<Toast>;
    using OptionalJob = std::optional<ConversionJob>;
    using Path = std::filesystem::path;

    // What a folder panel shows; the window supplies the panel itself.
    struct FolderPanelRequest {
        std::string title;
        std::optional<std::string> message;
        std::optional<std::string> prompt;
        // The folder chosen now, where the panel opens; nothing when none was chosen.
        std::optional<Path> folder;
    };
    // Runs a modal folder panel: the chosen folder, or nothing when cancelled.
    using FolderPanel = std::function<std::optional<Path>(const FolderPanelRequest&)>;

private:
    Q_PROPERTY(calvoro::ConversionViewModel::Jobs jobs READ jobs NOTIFY jobsChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(bool showFilePicker READ showFilePicker WRITE setShowFilePicker NOTIFY showFilePickerChanged)
    Q_PROPERTY(bool isDragTargeted READ isDragTargeted WRITE setIsDragTargeted NOTIFY isDragTargetedChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::Path outputDirectory READ outputDirectory NOTIFY outputDirectoryChanged)
    Q_PROPERTY(bool hasChosenOutputLocation READ hasChosenOutputLocation NOTIFY hasChosenOutputLocationChanged)
    Q_PROPERTY(calvoro::AppearanceMode appearanceMode READ appearanceMode WRITE setAppearanceMode NOTIFY appearanceModeChanged)
    Q_PROPERTY(bool showOutputDirPicker READ showOutputDirPicker WRITE setShowOutputDirPicker NOTIFY showOutputDirPickerChanged)
    Q_PROPERTY(bool showLogPanel READ showLogPanel WRITE setShowLogPanel NOTIFY showLogPanelChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::OptionalToast toast READ toast WRITE setToast NOTIFY toastChanged)
    Q_PROPERTY(double imageQuality READ imageQuality WRITE setImageQuality NOTIFY imageQualityChanged)
    Q_PROPERTY(int imageMaxEdge READ imageMaxEdge WRITE setImageMaxEdge NOTIFY imageMaxEdgeChanged)
    Q_PROPERTY(bool stripMetadata READ stripMetadata WRITE setStripMetadata NOTIFY stripMetadataChanged)
    Q_PROPERTY(int audioBitrate READ audioBitrate WRITE setAudioBitrate NOTIFY audioBitrateChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::Recents recents READ recents NOTIFY recentsChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::SectionSet expandedSections READ expandedSections NOTIFY expandedSectionsChanged)
    Q_PROPERTY(int statsTotalConversions READ statsTotalConversions NOTIFY statsTotalConversionsChanged)
    Q_PROPERTY(qint64 statsBytesSaved READ statsBytesSaved NOTIFY statsBytesSavedChanged)
    Q_PROPERTY(bool showConversionsInfo READ showConversionsInfo WRITE setShowConversionsInfo NOTIFY showConversionsInfoChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::OptionalCategory libraryFilter READ libraryFilter WRITE setLibraryFilter NOTIFY libraryFilterChanged)
    Q_PROPERTY(std::string searchQuery READ searchQuery WRITE setSearchQuery NOTIFY searchQueryChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::Selection selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool showSettingsPopover READ showSettingsPopover WRITE setShowSettingsPopover NOTIFY showSettingsPopoverChanged)
    Q_PROPERTY(bool isFullScreen READ isFullScreen WRITE setIsFullScreen NOTIFY isFullScreenChanged)
    Q_PROPERTY(bool sidebarCollapsed READ sidebarCollapsed WRITE setSidebarCollapsed NOTIFY sidebarCollapsedChanged)
    Q_PROPERTY(calvoro::AccentChoice accent READ accent WRITE setAccent NOTIFY accentChanged)
    Q_PROPERTY(QColor customAccent READ customAccent WRITE setCustomAccent NOTIFY customAccentChanged)
    Q_PROPERTY(bool keepOriginals READ keepOriginals WRITE setKeepOriginals NOTIFY keepOriginalsChanged)
    Q_PROPERTY(bool backgroundTint READ backgroundTint WRITE setBackgroundTint NOTIFY backgroundTintChanged)
    Q_PROPERTY(double backgroundTintStrength READ backgroundTintStrength WRITE setBackgroundTintStrength NOTIFY backgroundTintStrengthChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::DefaultTargets defaultTargets READ defaultTargets WRITE setDefaultTargets NOTIFY defaultTargetsChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::OptionalCategory filePickerCategory READ filePickerCategory WRITE setFilePickerCategory NOTIFY filePickerCategoryChanged)
    Q_PROPERTY(calvoro::ColorScheme resolvedColorScheme READ resolvedColorScheme NOTIFY resolvedColorSchemeChanged)
    Q_PROPERTY(calvoro::ConversionViewModel::OptionalJob compressingJob READ compressingJob WRITE setCompressingJob NOTIFY compressingJobChanged)

public:
    explicit ConversionViewModel(QObject* parent = nullptr);
    ~ConversionViewModel() override;

    // ---- Stored state (published values have a change signal) ----
    const Jobs& jobs() const { return jobs_; }
    bool isProcessing() const { return isProcessing_; }
    bool showFilePicker() const { return showFilePicker_; }
    void setShowFilePicker(bool value);
    bool isDragTargeted() const { return isDragTargeted_; }
    void setIsDragTargeted(bool value);
    const Path& outputDirectory() const { return outputDirectory_; }
    bool hasChosenOutputLocation() const { return hasChosenOutputLocation_; }
    AppearanceMode appearanceMode() const { return appearanceMode_; }
    void setAppearanceMode(AppearanceMode value);
    bool showOutputDirPicker() const { return showOutputDirPicker_; }
    void setShowOutputDirPicker(bool value);
    bool showLogPanel() const { return showLogPanel_; }
    void setShowLogPanel(bool value);
    const OptionalToast& toast() const { return toast_; }
    // Setting a toast directly (nothing to dismiss it) leaves any pending dismissal alone.
    void setToast(const OptionalToast& value);
    double imageQuality() const { return imageQuality_; }
    void setImageQuality(double value);
    int imageMaxEdge() const { return imageMaxEdge_; }
    void setImageMaxEdge(int value);
    bool stripMetadata() const { return stripMetadata_; }
    void setStripMetadata(bool value);
    int audioBitrate() const { return audioBitrate_; }
    void setAudioBitrate(int value);
    const Recents& recents() const { return recents_; }
    const SectionSet& expandedSections() const { return expandedSections_; }
    int statsTotalConversions() const { return statsTotalConversions_; }
    qint64 statsBytesSaved() const { return statsBytesSaved_; }
    bool showConversionsInfo() const { return showConversionsInfo_; }
    void setShowConversionsInfo(bool value);
    const OptionalCategory& libraryFilter() const { return libraryFilter_; }
    void setLibraryFilter(const OptionalCategory& value);
    const std::string& searchQuery() const { return searchQuery_; }
    void setSearchQuery(const std::string& value);
    const Selection& selection() const { return selection_; }
    void setSelection(const Selection& value);
    bool showSettingsPopover() const { return showSettingsPopover_; }
    void setShowSettingsPopover(bool value);
    bool isFullScreen() const { return isFullScreen_; }
    void setIsFullScreen(bool value);
    bool sidebarCollapsed() const { return sidebarCollapsed_; }
    void setSidebarCollapsed(bool value);
    AccentChoice accent() const { return accent_; }
    void setAccent(AccentChoice value);
    const QColor& customAccent() const { return customAccent_; }
    void setCustomAccent(const QColor& value);
    bool keepOriginals() const { return keepOriginals_; }
    void setKeepOriginals(bool value);
    bool backgroundTint() const { return backgroundTint_; }
    void setBackgroundTint(bool value);
    double backgroundTintStrength() const { return backgroundTintStrength_; }
    void setBackgroundTintStrength(double value);
    const DefaultTargets& defaultTargets() const { return defaultTargets_; }
    void setDefaultTargets(const DefaultTargets& value);
    const OptionalCategory& filePickerCategory() const { return filePickerCategory_; }
    void setFilePickerCategory(const OptionalCategory& value);
    ColorScheme resolvedColorScheme() const { return resolvedColorScheme_; }
    ConversionLogger& logger() const { return logger_; }
    // True while a batch runs (it can be cancelled).
    const OptionalJob& compressingJob() const { return compressingJob_; }
    void setCompressingJob(const OptionalJob& value);
    bool notificationsRequested() const { return notificationsRequested_; }

    // ---- Appearance, toasts, panels, sidebar ----
    void updateResolvedScheme();
    // Shows the toast at once (replacing the one on screen) and dismisses it after its duration.
    void showToast(const Toast& toast);
    void toggleLogPanel();
    void hideLogPanel();
    void toggleSection(const std::string& id);
    bool isSectionExpanded(const std::string& id) const;

    // ---- Job list ----
    void addFiles(const std::vector<Path>& urls);
    void removeJob(const ConversionJob& job);
    // Jobs passing the library filter and the search (case-insensitive in the user's locale), in list order.
    Jobs visibleJobs() const;
    // The same, as positions in jobs(): no copies, for long lists.
    std::vector<int> visibleRows() const;
    int count(const OptionalCategory& category) const;
    Jobs selectedJobs() const;
    void toggleSelection(const Uuid& id);
    void selectAllVisible();
    void deselectAll();
    void removeSelected();
    std::optional<SupportedFormat> defaultTarget(const ConversionJob& job) const;
    void setDefaultTarget(SupportedFormat format, FileCategory category);
    void clearCompleted();
    void clearAll();
    void setTargetFormat(const Uuid& id, SupportedFormat format);
    void setCustomOutputDir(const Uuid& id, const Path& dir);
    // Puts a job in a status without running anything (the screenshot mode's preset queue).
    void setJobStatus(const Uuid& id, ConversionStatus status, double progress);
    void duplicateJob(const ConversionJob& job);
    // Type identifiers that the open panel offers for filePickerCategory ("public.item" for any file).
    std::vector<std::string> allowedContentTypes() const;
    void openFilePicker();

    // ---- Output folders ----
    // The window's modal folder panel; without one every panel counts as cancelled.
    void setFolderPanel(FolderPanel panel);
    std::optional<Path> presentOutputFolderPanel();
    void applyGlobalOutputDirectory(const Path& url);
    bool ensureOutputLocationChosen();
    void pickGlobalOutputDirectory();
    void pickOutputDirForJob(const Uuid& id);

    // ---- Batches ----
    void convertAll();
    void retryAllFailed();
    void convertSelected();
    void cancelConversion();

    // ---- Single jobs, compression, recents ----
    // Converts one job beside any batch; returns at once, the job's status tells the outcome.
    void convertSingleJob(const ConversionJob& job);
    void beginCompress(const ConversionJob& job);
    void compress(const ConversionJob& job, CompressionLevel level);
    // Measures the levels off the main thread; result (or failed, with the reason, when the
    // measurement fails) is called on the main thread unless receiver has gone by then.
    void requestEstimates(const ConversionJob& job, QObject* receiver,
                          std::function<void(std::vector<CompressionEstimate>)> result,
                          std::function<void(std::string)> failed = {});
    void replayRecent(const RecentJob& recent);
    void clearRecents();

    // ---- Figures ----
    int completedCount() const;
    int failedCount() const;
    int pendingCount() const;
    bool hasJobs() const { return !jobs_.empty(); }
    bool canConvert() const;
    bool canCancel() const { return isProcessing_ && batch_ != nullptr; }
    // The chosen folder's name, else "Choose folder…".
    std::string outputDirName() const;
    bool isAnyModalOpen() const;

    // ---- Desktop actions ----
    void openOutputDirectory();
    void revealInFinder(const Path& url);

    // Whether the program is the active application (for the end-of-batch notification);
    // the window may supply its own test.
    void setApplicationActiveProbe(std::function<bool()> probe);
    // Readies the web engine ahead: called once, on the main thread, as soon as an HTML job
    // targets PDF (including one listed already).
    void setWebEngineWarmUp(std::function<void()> warmUp);

signals:
    // Emitted after every change of the job list. Before it, exactly one of these tells what
    // kind of change it was, for views that keep their own rows.
    void jobsChanged();
    void jobUpdated(int row);          // one job changed in place
    void jobsStructureChanged();       // jobs were added, removed or reordered

    void isProcessingChanged();
    void showFilePickerChanged();
    void isDragTargetedChanged();
    void outputDirectoryChanged();
    void hasChosenOutputLocationChanged();
    void appearanceModeChanged();
    void showOutputDirPickerChanged();
    void showLogPanelChanged();
    void toastChanged();
    void imageQualityChanged();
    void imageMaxEdgeChanged();
    void stripMetadataChanged();
    void audioBitrateChanged();
    void recentsChanged();
    void expandedSectionsChanged();
    void statsTotalConversionsChanged();
    void statsBytesSavedChanged();
    void showConversionsInfoChanged();
    void libraryFilterChanged();
    void searchQueryChanged();
    void selectionChanged();
    void showSettingsPopoverChanged();
    void isFullScreenChanged();
    void sidebarCollapsedChanged();
    // Also emitted when the custom colour changes while the accent is custom.
    void accentChanged();
    void customAccentChanged();
    void keepOriginalsChanged();
    void backgroundTintChanged();
    void backgroundTintStrengthChanged();
    void defaultTargetsChanged();
    void filePickerCategoryChanged();
    void resolvedColorSchemeChanged();
    void compressingJobChanged();

private:
    // The output folder the user chose, if any.
    std::optional<Path> chosenOutputFolder() const;
    struct Batch;
    struct Outcome;

    // Settings
    void loadSettings();
    static std::optional<Path> resolveSavedOutputDirectory();
    void recordStats(int64_t sourceSize, std::optional<int64_t> outputSize);
    void saveDefaultTargets();

    // Job list helpers
    int indexOf(const Uuid& id) const;
    void notifyJobUpdated(int row);
    void notifyJobsStructure();
    void warmWebEngineIfNeeded(const ConversionJob& job);
    void setSelectionValue(Selection value);

    // Batches
    void startBatch(const std::vector<ConversionJob>& jobs, const std::string& label);
    void resetFailedToPending(const std::vector<ConversionJob>& candidates);
    void runBatch();
    void fillBatch();
    std::optional<ConversionJob> nextEligible();
    void childFinished(FileCategory category);
    void finishBatch(const std::set<Uuid>& batchIDs);
    // Starts one job's conversion on a worker; false when the job was skipped (gone or not
    // pending). done runs on the main thread after the outcome is recorded.
    bool convertJob(const ConversionJob& job, std::stop_token token, std::function<void()> done);
    void recordOutcome(const Uuid& id, const Outcome& outcome);
    void postCompletionNotification(int completed, int failed);
    void maybeRequestReview();
    void recordRecent(const ConversionJob& job);
    void trashOriginalIfWanted(const ConversionJob& job);
    void recordCompressionResult(const Uuid& id, const Path& url);
    void recordCompressionFailure(const Uuid& id, const std::string& error);
    void setJobProgress(const Uuid& id, double value);
    bool applicationIsActive() const;

    // Stored state, in the order the window's state is described.
    Jobs jobs_;
    bool isProcessing_ = false;
    bool showFilePicker_ = false;
    bool isDragTargeted_ = false;
    Path outputDirectory_;
    bool hasChosenOutputLocation_ = false;
    AppearanceMode appearanceMode_ = AppearanceMode::dark;
    bool showOutputDirPicker_ = false;
    bool showLogPanel_ = false;
    OptionalToast toast_;
    QTimer* toastDismissTask_ = nullptr;
    double imageQuality_ = defaultImageQuality;
    int imageMaxEdge_ = 0;
    bool stripMetadata_ = false;
    int audioBitrate_ = defaultAudioBitrate;
    Recents recents_;
    SectionSet expandedSections_{"recent", "stats", "explore"};
    int statsTotalConversions_ = 0;
    qint64 statsBytesSaved_ = 0;
    bool showConversionsInfo_ = false;
    OptionalCategory libraryFilter_;
    std::string searchQuery_;
    // Keeps what the search learnt between calls of visibleRows; told of every change of jobs_
    // where the change is announced.
    mutable JobSearch search_;
    Selection selection_;
    bool showSettingsPopover_ = false;
    bool isFullScreen_ = false;
    bool sidebarCollapsed_ = false;
    AccentChoice accent_ = AccentChoice::paper;
    QColor customAccent_ = colorFromHex(0x4C9AFF);
    bool keepOriginals_ = true;
    bool backgroundTint_ = false;
    double backgroundTintStrength_ = 0.5;
    DefaultTargets defaultTargets_;
    OptionalCategory filePickerCategory_;
    ColorScheme resolvedColorScheme_ = ColorScheme::dark;
    QObject* appearanceObserver_ = nullptr;
    ConversionLogger& logger_;
    std::unique_ptr<Batch> batch_;  // the running batch
    OptionalJob compressingJob_;
    bool notificationsRequested_ = false;

    SettingsStore& settings_;
    FolderPanel folderPanel_;
    std::function<bool()> applicationActiveProbe_;
    std::function<void()> webEngineWarmUp_;
    bool webEngineWarmUpCalled_ = false;
    bool tearingDown_ = false;
    // Stops single-job conversions and compressions when the view model goes.
    std::stop_source lifetimeStop_;
    // Conversions, compressions and estimates run here, never on the main thread.
    QThreadPool workers_;
};

}  // namespace calvoro
