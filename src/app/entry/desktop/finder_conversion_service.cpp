#include "app/entry/desktop/finder_conversion_service.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <system_error>

#include "app/entry/desktop/file_open_inbox.h"
#include "converters/archive/compressor.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/file_detector.h"
#include "core/handoff_request.h"
#include "core/text_util.h"
#include "engine/conversion_engine.h"
#include "platform/qt/main_thread.h"

namespace calvoro {

namespace {

namespace fs = std::filesystem;

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return ConversionError::conversionFailed().what();
    }
}

void convert(const fs::path& source, SupportedFormat target) {
    auto& log = ConversionLogger::shared();
    std::optional<ConversionJob> job = FileDetector::createJob(source);
    if (!job) {
        log.error("Finder: unrecognised " + lastPathComponent(source), "Finder");
        return;
    }
    job->targetFormat = target;
    try {
        const fs::path output = ConversionEngine::convert(*job, source.parent_path(), [](double) {});
        log.success("Finder: " + lastPathComponent(output), "Finder");
    } catch (...) {
        log.error("Finder: " + lastPathComponent(source) + " \u2014 " + describe(std::current_exception()), "Finder");
    }
}

void compress(const fs::path& source, SupportedFormat format, CompressionLevel level) {
    auto& log = ConversionLogger::shared();
    try {
        const fs::path output = Compressor::compress(source, format, level, source.parent_path(), false);
        log.success("Finder compress: " + lastPathComponent(output), "Compress");
    } catch (...) {
        log.error("Finder compress failed: " + describe(std::current_exception()), "Compress", lastPathComponent(source));
    }
}

// Only a file that is there to read can be converted beside itself.
bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace

FinderConversionService& FinderConversionService::shared() {
    static FinderConversionService service;
    return service;
}

FinderConversionService::FinderConversionService() = default;
FinderConversionService::~FinderConversionService() = default;

void FinderConversionService::setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

void FinderConversionService::enterBackgroundMode() {
    if (isBackgroundWorker_) return;
    isBackgroundWorker_ = true;
    if (hooks_.hideWindows) hooks_.hideWindows();
}

void FinderConversionService::handle(const std::string& url) {
    const std::optional<HandoffRequest> request = HandoffRequest::read(url);
    if (!request || !isRegularFile(request->source)) return;
    const fs::path source = request->source;

    switch (request->action) {
        case HandoffRequest::Action::convert:
            startJob([source, target = *request->target] { convert(source, target); });
            return;
        case HandoffRequest::Action::chooseCompression:
            // No job here: the window takes the file from the inbox and opens the sheet for it.
            if (hooks_.bringForward) hooks_.bringForward();
            FileOpenInbox::append({source});
            if (hooks_.openCompressPicker) hooks_.openCompressPicker(source);
            return;
        case HandoffRequest::Action::compress: {
            const auto level = CompressionLevel::fromRawValue(request->level);
            if (!level) return;
            const auto format = FileDetector::detect(source);
            if (!format) return;
            startJob([source, format = *format, level = *level] { compress(source, format, level); });
            return;
        }
    }
}

void FinderConversionService::startJob(std::function<void()> work) {
    ++activeJobs_;
    cancelIdleCountdown();
    QThreadPool::globalInstance()->start([this, work = std::move(work)] {
        work();
        qtmain::postToMain([this] { jobFinished(); });
    });
}

void FinderConversionService::jobFinished() {
    activeJobs_ = std::max(activeJobs_ - 1, 0);
    if (activeJobs_ == 0) startIdleCountdown();
}

void FinderConversionService::startIdleCountdown() {
    // The window program never quits on its own after a hand-off job.
    if (!isBackgroundWorker_ || activeJobs_ != 0) return;
    // A countdown already running is replaced: the wait counts from the latest end of work.
    idleQuitTimer().start(idleQuitDelay_);
}

bool FinderConversionService::idleCountdownPending() const { return idleQuitTimer_ && idleQuitTimer_->isActive(); }

void FinderConversionService::cancelIdleCountdown() {
    if (idleQuitTimer_) idleQuitTimer_->stop();
}

void FinderConversionService::idleCountdownEnded() {
    if (activeJobs_ != 0) return;
    // Whatever else runs restarts the countdown when it ends.
    if (hooks_.otherWorkRunning && hooks_.otherWorkRunning()) return;
    if (hooks_.terminate) {
        hooks_.terminate();
    } else {
        QCoreApplication::quit();
    }
}

QTimer& FinderConversionService::idleQuitTimer() {
    if (!idleQuitTimer_) {
        idleQuitTimer_ = std::make_unique<QTimer>();
        idleQuitTimer_->setSingleShot(true);
        idleQuitTimer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(idleQuitTimer_.get(), &QTimer::timeout, [this] { idleCountdownEnded(); });
    }
    return *idleQuitTimer_;
}

}  // namespace calvoro
