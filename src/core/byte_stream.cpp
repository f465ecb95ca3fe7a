#include "core/byte_stream.h"

namespace calvoro {

void ByteStream::write(const uint8_t* data, size_t size) {
    if (size == 0) return;
    std::vector<uint8_t> chunk(data, data + size);
    {
        std::lock_guard lock(mutex_);
        chunks_.push_back(std::move(chunk));
        size_ += size;
    }
    changed_.notify_all();
}

void ByteStream::finish() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

std::span<const uint8_t> ByteStream::chunk(size_t index) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return index < chunks_.size() || finished_; });
    if (index >= chunks_.size()) return {};
    return chunks_[index];
}

std::vector<uint8_t> ByteStream::joined() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_; });
    std::vector<uint8_t> all;
    all.reserve(size_);
    for (const auto& c : chunks_) all.insert(all.end(), c.begin(), c.end());
    return all;
}

size_t ByteStream::size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

}  // namespace calvoro
