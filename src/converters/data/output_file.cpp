#include "converters/data/output_file.h"

#include <cerrno>
#include <system_error>

#include "core/file_writing.h"
#include "core/text_util.h"

namespace calvoro::datatable {

void AtomicFile::Closer::operator()(std::FILE* f) const {
    if (f) std::fclose(f);
}

AtomicFile::AtomicFile(const std::filesystem::path& output)
    : output_(output),
      name_(lastPathComponent(output)),
      temp_(output.parent_path() / files::temporaryName()) {
    file_.reset(std::fopen(temp_.c_str(), "wb"));
    if (!file_) fail(errno);
}

AtomicFile::~AtomicFile() {
    if (committed_) return;
    file_.reset();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
}

void AtomicFile::fail(int error) const {
    throw std::system_error(error, std::generic_category(), "The file \u201C" + name_ + "\u201D couldn\u2019t be saved");
}

void AtomicFile::write(std::string_view bytes) {
    if (bytes.empty()) return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) fail(errno ? errno : EIO);
}

void AtomicFile::commit() {
    errno = 0;
    if (std::fclose(file_.release()) != 0) fail(errno ? errno : EIO);
    std::error_code ec;
    std::filesystem::rename(temp_, output_, ec);
    if (ec) fail(ec.value());
    committed_ = true;
}

FileSink::FileSink(AtomicFile& file) : file_(file) {}

FileSink::~FileSink() { stop(); }

void FileSink::handOver() {
    // The writer starts with the first full chunk: a small table is written without a thread.
    if (!writer_.joinable()) writer_ = std::thread([this] { run(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_.size() < kQueued || failure_; });
    if (failure_) std::rethrow_exception(failure_);
    pending_.push_back(std::move(current_));
    if (spare_.empty()) {
        current_ = std::string();
        current_.reserve(kChunk + kChunk / 4);
    } else {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void FileSink::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !pending_.empty() || done_; });
        if (pending_.empty()) return;
        std::string chunk = std::move(pending_.front());
        pending_.pop_front();
        if (!failure_) {
            lock.unlock();
            std::exception_ptr error;
            try {
                file_.write(chunk);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error) failure_ = error;
        }
        chunk.clear();
        spare_.push_back(std::move(chunk));
        changed_.notify_all();
    }
}

void FileSink::stop() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
}

void FileSink::finish() {
    if (!writer_.joinable()) {
        file_.write(current_);
        current_.clear();
        return;
    }
    if (!current_.empty()) handOver();
    stop();
    if (failure_) std::rethrow_exception(failure_);
}

}  // namespace calvoro::datatable
