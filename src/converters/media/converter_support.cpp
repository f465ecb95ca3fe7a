#include "converters/media/converter_support.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/text_util.h"
#include "platform/media/stated_length.h"

namespace calvoro::media_converter {

std::string baseName(const std::filesystem::path& source) { return deletingPathExtension(lastPathComponent(source)); }

void report(const VideoAudioConverter::ProgressHandler& handler, double value) {
    if (handler) handler(value);
}

void exportWithPolling(media::ExportSession& session, const VideoAudioConverter::ProgressHandler& handler,
                       const CancellationToken& cancellation) {
    std::stop_callback onCancel(cancellation.stopToken(), [&session] { session.cancelExport(); });
    std::mutex mutex;
    std::condition_variable wake;
    bool finished = false;
    std::thread poll([&] {
        std::unique_lock lock(mutex);
        while (!finished) {
            lock.unlock();
            try {
                report(handler, static_cast<double>(session.progress()));
            } catch (...) {
                // A handler's failure is the handler's business; the export goes on.
            }
            lock.lock();
            wake.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished; });
        }
    });
    session.exportSynchronously();
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    wake.notify_all();
    poll.join();
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

void refuseTruncated(const std::filesystem::path& source, const std::string& category) {
    if (auto content = media::partlyPresentContent(source)) {
        ConversionLogger::shared().error("Source is truncated", category, lastPathComponent(source));
        throw ConversionError::truncatedSource(lastPathComponent(source), *content);
    }
}

}  // namespace calvoro::media_converter
