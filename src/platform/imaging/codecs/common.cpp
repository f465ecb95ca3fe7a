#include <sys/mman.h>
#include <unistd.h>

#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

void fail(const std::string& what) { throw ConversionError::corruptFile(what); }

void refuseVariant(const std::string& kind) { throw ConversionError::unsupportedConversion(kind, {}); }

void checkDimensions(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) fail("The image has no pixels");
    if (width > (1u << 30) || height > (1u << 30) || width * height > maxPixelCount)
        fail(formatC("The image is too large (%llu × %llu pixels)", static_cast<unsigned long long>(width),
                     static_cast<unsigned long long>(height)));
}

void checkDataHolds(uint64_t least, uint64_t most) {
    if (least > most) fail("The image data is shorter than its size needs");
}

void ReadPages::readUpTo(size_t offset) {
    // A megabyte at a time keeps the calls few.
    constexpr size_t step = size_t(1) << 20;
    if (!mapped_ || offset < released_ + step) return;
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t upTo = offset / page * page;
    ::madvise(const_cast<uint8_t*>(data_) + released_, upTo - released_, MADV_DONTNEED);
    released_ = upTo;
}

}  // namespace calvoro::imaging::detail
