#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace calvoro::compression {

// Asks the kernel to back a large, not yet touched range with huge pages. Whole-buffer codecs
// fill hundreds of megabytes at a time, where faulting in 4 KiB pages costs more than the work.
void adviseHugePages(void* data, size_t size);

// reserve() of at least capacity bytes, with the huge-page advice for the new memory.
void reserveLarge(std::vector<uint8_t>& buffer, size_t capacity);

}  // namespace calvoro::compression
