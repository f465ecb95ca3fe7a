// Batches: one at a time, a bounded number of conversions per category on worker threads,
// outcomes written back on the main thread.
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <initializer_list>

#include "app/state/batch_runner_state.h"
#include "app/state/progress_throttle.h"
#include "core/cancellation.h"
#include "engine/conversion_engine.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;

std::optional<int64_t> regularFileSize(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<int64_t>(size);
}

// Copies of the jobs in one of the given states that have a target, in list order.
std::vector<ConversionJob> withTarget(const std::vector<ConversionJob>& jobs, std::initializer_list<ConversionStatus::Case> states) {
    std::vector<ConversionJob> out;
    for (const auto& job : jobs)
        if (job.targetFormat && std::find(states.begin(), states.end(), job.status) != states.end()) out.push_back(job);
    return out;
}

}  // namespace

void ConversionViewModel::convertAll() {
    if (isProcessing_) return;
    const auto candidates = withTarget(jobs_, {ConversionStatus::pending});
    if (candidates.empty()) return;
    if (!ensureOutputLocationChosen()) return;
    startBatch(candidates, "batch conversion");
}

void ConversionViewModel::retryAllFailed() {
    if (isProcessing_) return;
    const auto candidates = withTarget(jobs_, {ConversionStatus::failed});
    if (candidates.empty()) return;
    if (!ensureOutputLocationChosen()) return;
    resetFailedToPending(candidates);
    startBatch(candidates, "retry");
}

void ConversionViewModel::convertSelected() {
    if (isProcessing_) return;
    const auto candidates = withTarget(selectedJobs(), {ConversionStatus::pending, ConversionStatus::failed});
    if (candidates.empty()) return;
    if (!ensureOutputLocationChosen()) return;
    setSelectionValue({});
    // Failed jobs in the selection go back to pending, or the batch would pass them over.
    resetFailedToPending(candidates);
    startBatch(candidates, "selection");
}

void ConversionViewModel::resetFailedToPending(const std::vector<ConversionJob>& candidates) {
    for (const auto& candidate : candidates) {
        const int index = indexOf(candidate.id);
        if (index < 0 || jobs_[index].status != ConversionStatus::failed) continue;
        jobs_[index].status = ConversionStatus::pending;
        jobs_[index].progress = 0;
        jobs_[index].errorMessage.reset();
        notifyJobUpdated(index);
    }
}

void ConversionViewModel::startBatch(const std::vector<ConversionJob>& jobs, const std::string& label) {
    isProcessing_ = true;
    emit isProcessingChanged();
    const size_t n = jobs.size();
    logger_.info("Starting " + label + ": " + std::to_string(n) + " file" + (n == 1 ? "" : "s") + " queued", "Engine");
    batch_ = std::make_unique<Batch>();
    batch_->queue.assign(jobs.begin(), jobs.end());
    for (const auto& job : jobs) batch_->ids.insert(job.id);
    // The batch starts from the event loop, as a task would, after the caller returns.
    QTimer::singleShot(0, this, [this] { runBatch(); });
}

void ConversionViewModel::runBatch() {
    if (!batch_ || tearingDown_) return;
    batch_->limits = BatchLimits::forProcessors(BatchLimits::activeProcessors());
    fillBatch();
    if (batch_->runningTotal == 0) finishBatch(batch_->ids);
}

std::optional<ConversionJob> ConversionViewModel::nextEligible() {
    auto& queue = batch_->queue;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        const FileCategory category = it->category();
        if (batch_->running[category] < batch_->limits.limit(category)) {
            ConversionJob job = std::move(*it);
            queue.erase(it);
            return job;
        }
    }
    return std::nullopt;
}

void ConversionViewModel::fillBatch() {
    while (batch_->runningTotal < batch_->limits.overall) {
        auto next = nextEligible();
        if (!next) break;
        const FileCategory category = next->category();
        // A job that is gone or no longer pending frees its place at once.
        if (!convertJob(*next, batch_->stop.get_token(), [this, category] { childFinished(category); })) continue;
        ++batch_->running[category];
        ++batch_->runningTotal;
    }
}

void ConversionViewModel::childFinished(FileCategory category) {
    if (!batch_) return;
    --batch_->running[category];
    --batch_->runningTotal;
    if (!batch_->cancelled) fillBatch();
    if (batch_->runningTotal == 0) finishBatch(batch_->ids);
}

void ConversionViewModel::cancelConversion() {
    if (batch_) {
        batch_->cancelled = true;
        batch_->stop.request_stop();
    }
    logger_.warning("Conversion cancelled by user", "Engine");
}

bool ConversionViewModel::convertJob(const ConversionJob& given, std::stop_token token, std::function<void()> done) {
    const int index = indexOf(given.id);
    if (index < 0) return false;
    if (jobs_[index].status != ConversionStatus::pending) return false;
    const fs::path outputDir = given.customOutputDir.value_or(outputDirectory_);
    jobs_[index].status = ConversionStatus::converting;
    jobs_[index].progress = 0;
    notifyJobUpdated(index);
    const ConversionJob job = jobs_[index];

    auto throttle = ProgressThrottle::make(job.id, [this](const Uuid& id, double value) {
        QMetaObject::invokeMethod(this, [this, id, value] { setJobProgress(id, value); }, Qt::QueuedConnection);
    });
    workers_.start([this, job, outputDir, progress = throttle->callback(), token = std::move(token), done = std::move(done)] {
        Outcome outcome;
        try {
            outcome.output = ConversionEngine::convert(job, outputDir, progress, CancellationToken(token));
            outcome.kind = Outcome::Kind::converted;
        } catch (const CancellationError&) {
            outcome.kind = Outcome::Kind::cancelled;
        } catch (const std::exception& e) {
            outcome.error = e.what();
        } catch (...) {
            outcome.error = "An unknown error occurred.";
        }
        QMetaObject::invokeMethod(
            this,
            [this, id = job.id, outcome, done] {
                if (tearingDown_) return;
                recordOutcome(id, outcome);
                if (done) done();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void ConversionViewModel::setJobProgress(const Uuid& id, double value) {
    if (tearingDown_) return;
    const int index = indexOf(id);
    if (index < 0 || jobs_[index].progress == value) return;
    jobs_[index].progress = value;
    notifyJobUpdated(index);
}

void ConversionViewModel::recordOutcome(const Uuid& id, const Outcome& outcome) {
    int index = indexOf(id);
    if (index < 0) return;
    ConversionJob& job = jobs_[index];
    switch (outcome.kind) {
        case Outcome::Kind::converted:
            job.status = ConversionStatus::completed;
            job.progress = 1.0;
            job.outputURL = outcome.output;
            job.outputSize = regularFileSize(outcome.output);
            notifyJobUpdated(index);
            recordStats(jobs_[index].fileSize, jobs_[index].outputSize);
            if ((index = indexOf(id)) >= 0) recordRecent(jobs_[index]);
            if ((index = indexOf(id)) >= 0) trashOriginalIfWanted(jobs_[index]);
            return;
        case Outcome::Kind::cancelled:
            job.status = ConversionStatus::pending;
            job.progress = 0;
            job.errorMessage.reset();
            break;
        case Outcome::Kind::failed:
            job.status = ConversionStatus::failed;
            job.errorMessage = outcome.error;
            break;
    }
    notifyJobUpdated(index);
}

}  // namespace calvoro
