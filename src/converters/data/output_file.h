#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace calvoro::datatable {

// A temporary file beside the output that takes the output's name only once complete:
// the output name never holds half a file, and a failure leaves nothing behind.
class AtomicFile {
public:
    explicit AtomicFile(const std::filesystem::path& output);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(std::string_view bytes);
    void commit();

private:
    [[noreturn]] void fail(int error) const;

    struct Closer {
        void operator()(std::FILE* f) const;
    };
    std::filesystem::path output_;
    std::string name_;
    std::filesystem::path temp_;
    std::unique_ptr<std::FILE, Closer> file_;
    bool committed_ = false;
};

// A writers' sink that passes the text on to a file a megabyte at a time, on a thread of
// its own once there is more than a megabyte, so that formatting and the copy into the file
// overlap.
class FileSink {
public:
    explicit FileSink(AtomicFile& file);
    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    std::string& text() { return current_; }
    void rowDone() {
        if (current_.size() >= kChunk) handOver();
    }
    // Writes what is left and waits for it; throws the file's error, if any.
    void finish();

private:
    static constexpr size_t kChunk = 1 << 20;
    static constexpr size_t kQueued = 4;
    void handOver();
    void run();
    void stop();

    AtomicFile& file_;
    std::string current_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> pending_;
    std::vector<std::string> spare_;
    bool done_ = false;
    std::exception_ptr failure_;
    std::thread writer_;
};

}  // namespace calvoro::datatable
