// What follows a batch and each converted job: summary, toast, notification, review,
// recents and trashing originals; single-job conversions and the figures the views bind to.
#include <sys/stat.h>

#include <QPointer>
#include <QString>

#include <limits>

#include "app/state/batch_runner_state.h"
#include "core/folder_access.h"
#include "core/settings_store.h"
#include "core/text_util.h"
#include "platform/desktop/file_manager.h"
#include "platform/desktop/notifications.h"
#include "platform/desktop/open_url.h"
#include "platform/desktop/review_request.h"
#include "platform/desktop/trash.h"

namespace calvoro {
namespace {

const std::string kSuccessfulBatchesKey = "Calvoro.successfulBatches";
const std::string kReviewVersionKey = "Calvoro.reviewRequestedForVersion";
const std::string kRecentsKey = "Calvoro.recents";
constexpr size_t kMaxRecents = 10;

std::string files(int n) { return std::to_string(n) + " file" + (n == 1 ? "" : "s"); }

struct FileIdentity {
    dev_t device;
    ino_t inode;
};

std::optional<FileIdentity> identity(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

bool sameFile(const std::optional<FileIdentity>& a, const std::filesystem::path& b) {
    if (!a) return false;
    auto other = identity(b);
    return other && other->device == a->device && other->inode == a->inode;
}

}  // namespace

void ConversionViewModel::finishBatch(const std::set<Uuid>& ids) {
    // The ids may belong to the batch that ends here.
    const std::set<Uuid> batchIDs = ids;
    batch_.reset();
    isProcessing_ = false;
    emit isProcessingChanged();

    int completed = 0, failed = 0, pending = 0;
    for (const auto& job : jobs_) {
        if (!batchIDs.count(job.id)) continue;
        if (job.status == ConversionStatus::completed) ++completed;
        else if (job.status == ConversionStatus::failed) ++failed;
        else if (job.status == ConversionStatus::pending) ++pending;
    }
    logger_.info("Batch complete: " + std::to_string(completed) + " converted, " + std::to_string(failed) + " failed", "Engine");

    if (pending > 0) {
        showToast(Toast(Toast::Kind::warning, "Cancelled",
                        std::to_string(completed) + " done \u00B7 " + std::to_string(pending) + " not started"));
        if (completed == 0 && failed == 0) return;
    } else if (completed == 0 && failed == 0) {
        return;
    } else if (completed == 0) {
        showToast(Toast(Toast::Kind::error, "Conversion failed", files(failed) + " could not be converted"));
    } else if (failed > 0) {
        showToast(Toast(Toast::Kind::warning, "Finished with errors",
                        std::to_string(completed) + " converted \u00B7 " + std::to_string(failed) + " failed"));
    } else {
        showToast(Toast(Toast::Kind::success, "Done", files(completed) + " converted"));
    }

    if (!applicationIsActive()) {
        if (notificationsRequested_) {
            postCompletionNotification(completed, failed);
        } else {
            notificationsRequested_ = true;
            desktop::Notifications::requestAuthorization([completed, failed](bool granted) {
                if (granted) desktop::Notifications::post(
                    QString::fromStdString(failed != 0 ? "Conversion finished with errors" : "Conversion complete"),
                    QString::fromStdString(files(completed) + " converted" +
                                           (failed >= 1 ? " \u00B7 " + std::to_string(failed) + " failed" : "")));
            });
        }
    }
    if (pending == 0 && failed == 0 && completed > 0) maybeRequestReview();
}

void ConversionViewModel::postCompletionNotification(int completed, int failed) {
    const std::string title = failed != 0 ? "Conversion finished with errors" : "Conversion complete";
    std::string body = files(completed) + " converted";
    if (failed >= 1) body += " \u00B7 " + std::to_string(failed) + " failed";
    desktop::Notifications::post(QString::fromStdString(title), QString::fromStdString(body));
}

void ConversionViewModel::maybeRequestReview() {
    // A count that cannot be one (negative, or with no room for one more) starts again from none.
    auto stored = settings_.integerValue(kSuccessfulBatchesKey);
    if (stored && (*stored < 0 || *stored == std::numeric_limits<int64_t>::max())) stored.reset();
    const int64_t n = stored.value_or(0) + 1;
    settings_.set(kSuccessfulBatchesKey, n);
    if (n < 2) return;
    const std::string version = desktop::ReviewRequest::programVersion();
    if (settings_.stringValue(kReviewVersionKey) == version) return;
    settings_.set(kReviewVersionKey, version);
    desktop::ReviewRequest::request();
}

void ConversionViewModel::recordRecent(const ConversionJob& job) {
    if (!job.targetFormat) return;
    RecentJob recent;
    recent.sourcePath = job.sourceURL.string();
    recent.sourceFormatRaw = job.detectedFormat.rawValue();
    recent.targetFormatRaw = job.targetFormat->rawValue();
    recent.timestamp = std::chrono::system_clock::now();
    if (auto bookmark = FolderAccess::makeBookmark(job.sourceURL); !bookmark.empty()) recent.bookmark = std::move(bookmark);
    std::erase_if(recents_, [&](const RecentJob& r) {
        return r.sourcePath == recent.sourcePath && r.targetFormatRaw == recent.targetFormatRaw;
    });
    recents_.insert(recents_.begin(), std::move(recent));
    if (recents_.size() > kMaxRecents) recents_.resize(kMaxRecents);
    emit recentsChanged();
    const std::string json = RecentJob::encodeList(recents_);
    settings_.setData(kRecentsKey, std::vector<uint8_t>(json.begin(), json.end()));
}

void ConversionViewModel::clearRecents() {
    if (!recents_.empty()) {
        recents_.clear();
        emit recentsChanged();
    }
    settings_.remove(kRecentsKey);
}

void ConversionViewModel::replayRecent(const RecentJob& recent) {
    std::filesystem::path url = recent.sourcePath;
    if (recent.bookmark) {
        if (auto resolved = RecentJob::resolveBookmark(*recent.bookmark)) url = *resolved;
    }
    const std::string name = lastPathComponent(recent.sourcePath);
    std::error_code ec;
    if (!std::filesystem::exists(url, ec)) {
        logger_.warning("Recents: source file missing \u2014 " + name, "Recents");
        showToast(Toast(Toast::Kind::warning, "File not found", name + " has moved or been deleted"));
        return;
    }
    addFiles({url});
    auto target = SupportedFormat::fromRawValue(recent.targetFormatRaw);
    if (!target) return;
    for (int i = static_cast<int>(jobs_.size()) - 1; i >= 0; --i) {
        if (jobs_[i].sourceURL != url) continue;
        // A running conversion keeps its target.
        if (jobs_[i].status != ConversionStatus::converting && jobs_[i].targetFormat != target) {
            jobs_[i].targetFormat = *target;
            notifyJobUpdated(i);
        }
        break;
    }
}

void ConversionViewModel::trashOriginalIfWanted(const ConversionJob& job) {
    if (keepOriginals_) return;
    const auto source = identity(job.sourceURL);
    // The same file may stand in the list under another spelling of its path.
    for (const auto& other : jobs_) {
        if (other.id == job.id || other.status == ConversionStatus::completed) continue;
        if (other.sourceURL == job.sourceURL || sameFile(source, other.sourceURL)) return;
    }
    // A conversion that wrote over its own source leaves nothing to trash.
    if (!source || (job.outputURL && sameFile(source, *job.outputURL))) return;
    if (auto error = desktop::moveToTrash(job.sourceURL)) {
        logger_.warning("Could not trash original " + job.fileName + ": " + *error, "Files");
        showToast(Toast(Toast::Kind::warning, "Original kept", job.fileName + " couldn't be moved to the Trash"));
        return;
    }
    logger_.info("Moved original to Trash: " + job.fileName, "Files");
}

void ConversionViewModel::convertSingleJob(const ConversionJob& given) {
    const int index = indexOf(given.id);
    if (index < 0) return;
    const ConversionJob& job = jobs_[index];
    if (job.status != ConversionStatus::pending && job.status != ConversionStatus::failed) return;
    if (!job.targetFormat) return;
    if (!job.customOutputDir && !ensureOutputLocationChosen()) return;
    const int row = indexOf(given.id);
    if (row < 0) return;
    jobs_[row].status = ConversionStatus::pending;
    jobs_[row].progress = 0;
    jobs_[row].errorMessage.reset();
    // convertJob marks it converting before anything else runs, so a second click finds it busy.
    convertJob(jobs_[row], lifetimeStop_.get_token(), {});
}

// ---- Figures ----

int ConversionViewModel::completedCount() const {
    return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const ConversionJob& j) { return j.status == ConversionStatus::completed; }));
}

int ConversionViewModel::failedCount() const {
    return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const ConversionJob& j) { return j.status == ConversionStatus::failed; }));
}

int ConversionViewModel::pendingCount() const {
    return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const ConversionJob& j) { return j.status == ConversionStatus::pending; }));
}

bool ConversionViewModel::canConvert() const {
    return std::any_of(jobs_.begin(), jobs_.end(),
                       [](const ConversionJob& j) { return j.status == ConversionStatus::pending && j.targetFormat; });
}

std::string ConversionViewModel::outputDirName() const {
    return hasChosenOutputLocation_ ? lastPathComponent(outputDirectory_) : "Choose folder\u2026";
}

bool ConversionViewModel::isAnyModalOpen() const {
    return showSettingsPopover_ || showConversionsInfo_ || compressingJob_.has_value();
}

// ---- Desktop actions ----

void ConversionViewModel::openOutputDirectory() { desktop::openPath(outputDirectory_); }

void ConversionViewModel::revealInFinder(const Path& url) { desktop::revealInFileManager(url); }

}  // namespace calvoro
