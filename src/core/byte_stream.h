#pragma once

// Bytes that one thread writes while another reads them as they arrive.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace calvoro {

class ByteStream {
public:
    void write(const uint8_t* data, size_t size);
    // The writer is done, having written all or failed on the way: readers stop waiting.
    void finish();

    // Waits for the index-th chunk written; empty once the stream ended before it. A chunk
    // stays where it is while the stream lives.
    std::span<const uint8_t> chunk(size_t index) const;
    // Waits for the writer to finish: every byte it wrote.
    std::vector<uint8_t> joined() const;
    size_t size() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> chunks_;
    size_t size_ = 0;
    bool finished_ = false;
};

}  // namespace calvoro
