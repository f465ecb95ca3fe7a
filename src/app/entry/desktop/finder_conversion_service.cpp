#include "app/entry/desktop/finder_conversion_service.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <system_error>

#include "app/entry/desktop/file_open_inbox.h"
#include "compressor/compressor.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/file_detector.h"
#include "core/handoff_request.h"
#include "core/source_file.h"
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

// Hand-offs come from the file manager, "Files" on this desktop: their log lines say so.
const std::string kFiles = "Files";

void logUnrecognised(const fs::path& source) {
    ConversionLogger::shared().error("Files: unrecognised " + lastPathComponent(source), kFiles);
}

void convert(const fs::path& source, SupportedFormat target) {
    auto& log = ConversionLogger::shared();
    std::optional<ConversionJob> job = FileDetector::createJob(source);
    if (!job) {
        logUnrecognised(source);
        return;
    }
    job->targetFormat = target;
    try {
        const fs::path output = ConversionEngine::convert(*job, source.parent_path(), [](double) {});
        log.success("Files: " + lastPathComponent(output), kFiles);
    } catch (...) {
        log.error("Files: " + lastPathComponent(source) + " \u2014 " + describe(std::current_exception()), kFiles);
    }
}

void compress(const fs::path& source, SupportedFormat format, CompressionLevel level) {
    auto& log = ConversionLogger::shared();
    try {
        const fs::path output = Compressor::compress(source, format, level, source.parent_path(), false);
        log.success("Files compress: " + lastPathComponent(output), "Compress");
    } catch (...) {
        log.error("Files compress failed: " + describe(std::current_exception()), "Compress", lastPathComponent(source));
    }
}

// A link that does nothing says why, so that a click in the file manager is never lost unseen.
void logIgnored(const std::string& why, const std::string& what) {
    ConversionLogger::shared().warning("Files: ignored " + why, kFiles, what.empty() ? std::nullopt : std::optional(what));
}

std::string inQuotes(const std::string& text) { return "\u201C" + text + "\u201D"; }

void logRefusal(const HandoffRequest::Refusal& refusal, const std::string& url) {
    using Reason = HandoffRequest::Refusal::Reason;
    switch (refusal.reason) {
        case Reason::malformed: return logIgnored("a malformed link", url);
        case Reason::unknownAction: return logIgnored("a link with an unknown action " + inQuotes(refusal.value), url);
        case Reason::noSource:
            return logIgnored(refusal.value.empty() ? "a link that names no file" : "a link whose file has no full path " + inQuotes(refusal.value), url);
        case Reason::unknownFormat:
            return logIgnored(refusal.value.empty() ? "a link without a format" : "a link with an unknown format " + inQuotes(refusal.value), url);
        case Reason::noLevel: return logIgnored("a link without a compression level", url);
    }
}

// Only a file that is there to read can be converted beside itself; anything else is logged.
bool isServableFile(const fs::path& path) {
    const SourceFile::Kind kind = SourceFile::kindOf(path);
    if (kind == SourceFile::Kind::missing) {
        logIgnored("a link to a file that does not exist", path.string());
        return false;
    }
    if (kind != SourceFile::Kind::regularFile) {
        logIgnored("a link to something that is not a regular file", path.string());
        return false;
    }
    return true;
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
    const auto parsed = HandoffRequest::parse(url);
    if (const auto* refusal = std::get_if<HandoffRequest::Refusal>(&parsed)) return logRefusal(*refusal, url);
    const auto* request = std::get_if<HandoffRequest>(&parsed);
    if (!isServableFile(request->source)) return;
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
            if (!level) return logIgnored("a link with an unknown compression level " + inQuotes(request->level), url);
            const auto format = FileDetector::detect(source);
            if (!format) return logUnrecognised(source);
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
