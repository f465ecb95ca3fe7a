#include "converters/archive/xz_codec.h"

#include <algorithm>
#include <new>
#include <string>

#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/compression/lzma_codec.h"

namespace calvoro {

using compression::LzmaCodec;

bool XZCodec::isXZ(std::span<const uint8_t> data) {
    static constexpr uint8_t magic[6] = {0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00};
    return data.size() >= 6 && std::equal(magic, magic + 6, data.begin());
}

std::vector<uint8_t> XZCodec::decompress(std::span<const uint8_t> data, int64_t maxOutputBytes) {
    if (!isXZ(data)) throw ConversionError::corruptFile("Not an xz stream (bad magic)");
    std::vector<uint8_t> out;
    auto result = LzmaCodec::decode(data, maxOutputBytes > 0 ? static_cast<size_t>(maxOutputBytes) : 0, out);
    switch (result.status) {
        case LzmaCodec::Status::ok: return out;
        case LzmaCodec::Status::limitExceeded:
            throw ConversionError::corruptFile("xz contents exceed the " + formatByteCount(maxOutputBytes) + " limit");
        case LzmaCodec::Status::needsTooMuchMemory:
            throw ConversionError::corruptFile("xz stream needs more than " +
                                               formatByteCount(static_cast<int64_t>(LzmaCodec::decoderMemoryLimit)) +
                                               " of memory to decode");
        case LzmaCodec::Status::outOfMemory: throw std::bad_alloc();
        case LzmaCodec::Status::damaged: break;
    }
    throw ConversionError::corruptFile("xz decompression failed (code " + std::to_string(result.code) + ")");
}

std::vector<uint8_t> XZCodec::compress(std::span<const uint8_t> data) {
    if (data.empty()) throw ConversionError::emptyOutput();
    auto out = LzmaCodec::encode(data);
    if (out.empty()) throw ConversionError::corruptFile("xz compression failed");
    return out;
}

}  // namespace calvoro
