// Compressing one job from the compress sheet, and measuring its levels.
#include <QMetaObject>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <stop_token>

#include "app/state/conversion_view_model.h"
#include "compressor/compressor.h"
#include "core/cancellation.h"

namespace calvoro {

void ConversionViewModel::beginCompress(const ConversionJob& job) {
    if (Compressor::compressionTarget(job.detectedFormat)) setCompressingJob(job);
}

void ConversionViewModel::compress(const ConversionJob& job, CompressionLevel level) {
    // A job being converted keeps its conversion undisturbed.
    if (const int index = indexOf(job.id); index >= 0 && jobs_[index].status == ConversionStatus::converting) return;
    if (!job.customOutputDir && !ensureOutputLocationChosen()) return;
    const Path outputDir = job.customOutputDir.value_or(outputDirectory_);
    if (const int index = indexOf(job.id); index >= 0) {
        jobs_[index].status = ConversionStatus::converting;
        jobs_[index].progress = 0;
        notifyJobUpdated(index);
    }
    auto progress = [this, id = job.id](double value) {
        QMetaObject::invokeMethod(this, [this, id, value] { setJobProgress(id, value); }, Qt::QueuedConnection);
    };
    // Only the view model's end stops a compression.
    workers_.start([this, job, level, outputDir, progress, token = lifetimeStop_.get_token()] {
        Path output;
        std::optional<std::string> error;
        try {
            output = Compressor::compress(job.sourceURL, job.detectedFormat, level, outputDir, false, progress,
                                          CancellationToken(token));
        } catch (const std::exception& e) {
            error = e.what();
        } catch (...) {
            error = "An unknown error occurred.";
        }
        QMetaObject::invokeMethod(
            this,
            [this, job, output, error] {
                if (tearingDown_) return;
                if (!error) return recordCompressionResult(job.id, output);
                logger_.error("Compress failed: " + *error, "Compress", job.fileName);
                recordCompressionFailure(job.id, *error);
            },
            Qt::QueuedConnection);
    });
}

void ConversionViewModel::recordCompressionResult(const Uuid& id, const Path& url) {
    const int index = indexOf(id);
    if (index < 0) return;
    ConversionJob& job = jobs_[index];
    std::error_code ec;
    const auto size = std::filesystem::file_size(url, ec);
    if (ec || size < 1) {
        job.status = ConversionStatus::failed;
        job.errorMessage = "Compressed file was not written.";
    } else {
        job.status = ConversionStatus::completed;
        job.progress = 1.0;
        job.outputURL = url;
        job.outputSize = static_cast<int64_t>(size);
    }
    notifyJobUpdated(index);
}

void ConversionViewModel::recordCompressionFailure(const Uuid& id, const std::string& error) {
    const int index = indexOf(id);
    if (index < 0) return;
    jobs_[index].status = ConversionStatus::failed;
    jobs_[index].errorMessage = error;
    notifyJobUpdated(index);
}

void ConversionViewModel::requestEstimates(const ConversionJob& job, QObject* receiver,
                                           std::function<void(std::vector<CompressionEstimate>)> result,
                                           std::function<void(std::string)> failed) {
    QPointer<QObject> target = receiver ? receiver : this;
    // A video's estimate encodes it; the work stops once nobody waits for it any more.
    auto stop = std::make_shared<std::stop_source>();
    connect(target.data(), &QObject::destroyed, this, [stop] { stop->request_stop(); }, Qt::DirectConnection);
    workers_.start([this, source = job.sourceURL, format = job.detectedFormat, target, stop, result = std::move(result),
                    failed = std::move(failed)] {
        const std::stop_callback onTeardown(lifetimeStop_.get_token(), [stop] { stop->request_stop(); });
        std::function<void()> deliver;
        try {
            deliver = [result, estimates = Compressor::estimates(source, format, CancellationToken(stop->get_token()))] {
                result(estimates);
            };
        } catch (const CancellationError&) {
            return;  // nobody waits for it
        } catch (const std::exception& e) {
            deliver = [failed, reason = std::string(e.what())] {
                if (failed) failed(reason);
            };
        }
        // The view model outlives its workers; the receiver is checked on the main thread.
        QMetaObject::invokeMethod(
            this,
            [this, target, deliver = std::move(deliver)] {
                if (!tearingDown_ && target) deliver();
            },
            Qt::QueuedConnection);
    });
}

}  // namespace calvoro
