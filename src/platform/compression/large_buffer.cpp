#include "platform/compression/large_buffer.h"

#include <sys/mman.h>

namespace calvoro::compression {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kWorthIt = size_t{8} << 20;
}  // namespace

void adviseHugePages(void* data, size_t size) {
    if (!data || size < kWorthIt) return;
    auto begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    auto end = (reinterpret_cast<uintptr_t>(data) + size) & ~(uintptr_t{kHugePage} - 1);
    // Only advice: where the kernel declines, the memory is simply paged as usual.
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void reserveLarge(std::vector<uint8_t>& buffer, size_t capacity) {
    if (capacity <= buffer.capacity()) return;
    buffer.reserve(capacity);
    adviseHugePages(buffer.data() + buffer.size(), buffer.capacity() - buffer.size());
}

}  // namespace calvoro::compression
