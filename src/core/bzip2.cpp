#include "core/bzip2.h"

#include <bzlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "core/bzip2_library.h"
#include "core/conversion_error.h"
#include "core/text_util.h"

namespace calvoro {

using bzip2::Symbols;
using bzip2::symbols;

namespace {

std::atomic<bool> simulatedAbsence{false};

const std::optional<Symbols>& loadedSymbols() {
    static const std::optional<Symbols> symbols = []() -> std::optional<Symbols> {
        for (const char* path : {"libbz2.so.1.0", "libbz2.so.1", "libbz2.so"}) {
            void* handle = ::dlopen(path, RTLD_NOW);
            if (!handle) continue;
            auto compress = reinterpret_cast<Symbols::BuffCompress>(::dlsym(handle, "BZ2_bzBuffToBuffCompress"));
            auto decompress = reinterpret_cast<Symbols::BuffDecompress>(::dlsym(handle, "BZ2_bzBuffToBuffDecompress"));
            auto init = reinterpret_cast<Symbols::DecompressInit>(::dlsym(handle, "BZ2_bzDecompressInit"));
            auto step = reinterpret_cast<Symbols::Decompress>(::dlsym(handle, "BZ2_bzDecompress"));
            auto end = reinterpret_cast<Symbols::DecompressEnd>(::dlsym(handle, "BZ2_bzDecompressEnd"));
            auto encodeInit = reinterpret_cast<Symbols::CompressInit>(::dlsym(handle, "BZ2_bzCompressInit"));
            auto encodeStep = reinterpret_cast<Symbols::Compress>(::dlsym(handle, "BZ2_bzCompress"));
            auto encodeEnd = reinterpret_cast<Symbols::CompressEnd>(::dlsym(handle, "BZ2_bzCompressEnd"));
            if (compress && decompress && init && step && end && encodeInit && encodeStep && encodeEnd)
                return Symbols{compress, decompress, init, step, end, encodeInit, encodeStep, encodeEnd};
        }
        return std::nullopt;
    }();
    return symbols;
}

constexpr uint64_t kFourGiB = 4294967296ULL;

ConversionError decodeFailure(int code) {
    return ConversionError::corruptFile("bzip2 decompression failed (code " + std::to_string(code) + ")");
}

constexpr size_t kStreamBuffer = 256 * 1024;

class Decoder final : public ByteSource {
public:
    Decoder(const Symbols& s, ByteSource& from) : s_(s), from_(from), input_(kStreamBuffer) {}
    ~Decoder() override {
        if (open_) s_.streamEnd(&stream_);
    }

    size_t read(std::span<uint8_t> into) override {
        if (ended_ || into.empty()) return 0;
        const unsigned room = static_cast<unsigned>(std::min<size_t>(into.size(), size_t{1} << 30));
        stream_.next_out = reinterpret_cast<char*>(into.data());
        stream_.avail_out = room;
        while (stream_.avail_out == room && !ended_) {
            if (!open_) {
                // A stream starts here, or (after the first) the trailing bytes are ignored.
                bool magic = fillTo(4) && BZip2::isBZip2({reinterpret_cast<const uint8_t*>(stream_.next_in), 4});
                if (!magic) {
                    if (!started_) throw ConversionError::corruptFile("Not a bzip2 stream (bad magic)");
                    ended_ = true;
                    break;
                }
                char* nextIn = stream_.next_in;
                unsigned availIn = stream_.avail_in;
                stream_ = bz_stream{};
                stream_.next_in = nextIn;
                stream_.avail_in = availIn;
                int rc = s_.streamInit(&stream_, 0, 0);
                if (rc != BZ_OK) throw decodeFailure(rc);
                // Nothing came out in this call yet, or the loop would have ended.
                stream_.next_out = reinterpret_cast<char*>(into.data());
                stream_.avail_out = room;
                open_ = started_ = true;
            }
            if (stream_.avail_in == 0 && !fillTo(1)) throw decodeFailure(BZ_UNEXPECTED_EOF);
            int rc = s_.streamDecompress(&stream_);
            if (rc == BZ_STREAM_END) {
                s_.streamEnd(&stream_);
                open_ = false;
                continue;
            }
            if (rc != BZ_OK) throw decodeFailure(rc);
        }
        return room - stream_.avail_out;
    }

private:
    // At least n bytes waiting, the rest moved to the front; false when the source ends first.
    bool fillTo(size_t n) {
        if (stream_.avail_in >= n) return true;
        if (stream_.avail_in > 0) std::memmove(input_.data(), stream_.next_in, stream_.avail_in);
        size_t have = stream_.avail_in + from_.readFully(std::span(input_).subspan(stream_.avail_in));
        stream_.next_in = reinterpret_cast<char*>(input_.data());
        stream_.avail_in = static_cast<unsigned>(have);
        return have >= n;
    }

    const Symbols& s_;
    ByteSource& from_;
    std::vector<uint8_t> input_;
    bz_stream stream_{};
    bool open_ = false;
    bool started_ = false;
    bool ended_ = false;
};

[[noreturn]] void throwTooLarge() { throw ConversionError::corruptFile("File is too large for bzip2 (max 4 GB)"); }

}  // namespace

const Symbols* bzip2::symbols() {
    if (simulatedAbsence.load()) return nullptr;
    const auto& s = loadedSymbols();
    return s ? &*s : nullptr;
}

bool BZip2::isAvailable() { return symbols() != nullptr; }

void BZip2::simulateAbsenceForTesting(bool absent) { simulatedAbsence.store(absent); }

bool BZip2::isBZip2(std::span<const uint8_t> data) {
    return data.size() >= 4 && data[0] == 0x42 && data[1] == 0x5A && data[2] == 0x68 && data[3] >= 0x31 && data[3] <= 0x39;
}

std::vector<uint8_t> BZip2::decompress(std::span<const uint8_t> data, int64_t maxOutputBytes) {
    const Symbols* s = symbols();
    if (!s) throw ConversionError::unsupportedFormat();
    if (!isBZip2(data)) throw ConversionError::corruptFile("Not a bzip2 stream (bad magic)");
    if (data.size() >= kFourGiB) throwTooLarge();
    const uint64_t max = maxOutputBytes < 0 ? 0 : static_cast<uint64_t>(maxOutputBytes);
    auto exceeded = [&]() -> ConversionError {
        return ConversionError::corruptFile("bzip2 contents exceed the " + formatByteCount(maxOutputBytes) + " limit");
    };

    std::vector<uint8_t> out;
    // The first guess follows the whole-buffer sizing; the vector then grows fourfold up to the cap.
    uint64_t capacity = std::max<uint64_t>(6 * static_cast<uint64_t>(data.size()), 65536);
    out.resize(static_cast<size_t>(std::min(capacity, max)));
    size_t produced = 0;
    size_t offset = 0;

    while (offset < data.size()) {
        if (offset > 0 && !isBZip2(data.subspan(offset))) break;  // trailing bytes after the last stream
        bz_stream stream{};
        int rc = s->streamInit(&stream, 0, 0);
        if (rc != BZ_OK) throw ConversionError::corruptFile("bzip2 decompression failed (code " + std::to_string(rc) + ")");
        struct Ender {
            const Symbols* s;
            bz_stream* stream;
            ~Ender() { s->streamEnd(stream); }
        } ender{s, &stream};
        stream.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data.data() + offset));
        stream.avail_in = static_cast<unsigned int>(data.size() - offset);
        auto failed = [](int code) { return ConversionError::corruptFile("bzip2 decompression failed (code " + std::to_string(code) + ")"); };
        for (;;) {
            if (produced == out.size()) {
                if (out.size() >= max) {
                    // Full at the cap: any further byte means the limit is exceeded.
                    char probe;
                    stream.next_out = &probe;
                    stream.avail_out = 1;
                    rc = s->streamDecompress(&stream);
                    if (stream.avail_out == 0) throw exceeded();
                    if (rc == BZ_STREAM_END) break;
                    throw failed(rc == BZ_OK ? BZ_UNEXPECTED_EOF : rc);
                }
                out.resize(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(out.size()) * 4, max)));
            }
            size_t room = std::min<size_t>(out.size() - produced, std::numeric_limits<unsigned int>::max());
            stream.next_out = reinterpret_cast<char*>(out.data() + produced);
            stream.avail_out = static_cast<unsigned int>(room);
            rc = s->streamDecompress(&stream);
            produced += room - stream.avail_out;
            if (rc == BZ_STREAM_END) break;
            if (rc != BZ_OK) throw failed(rc);
            // The input ran out before the stream ended.
            if (stream.avail_in == 0 && stream.avail_out > 0) throw failed(BZ_UNEXPECTED_EOF);
        }
        offset = data.size() - stream.avail_in;
    }
    out.resize(produced);
    out.shrink_to_fit();
    return out;
}

std::unique_ptr<ByteSource> BZip2::decoder(ByteSource& from) {
    const Symbols* s = symbols();
    if (!s) throw ConversionError::unsupportedFormat();
    return std::make_unique<Decoder>(*s, from);
}

std::vector<uint8_t> BZip2::compress(std::span<const uint8_t> data, int blockSize100k) {
    const Symbols* s = symbols();
    if (!s) throw ConversionError::unsupportedFormat();
    if (data.empty()) throw ConversionError::emptyOutput();
    if (data.size() >= kFourGiB) throwTooLarge();
    uint64_t n = data.size();
    uint64_t capacity = n + n / 100 + 1024;
    if (capacity > std::numeric_limits<unsigned int>::max()) throwTooLarge();
    std::vector<uint8_t> out(static_cast<size_t>(capacity));
    unsigned int length = static_cast<unsigned int>(capacity);
    int rc = s->compress(reinterpret_cast<char*>(out.data()), &length,
                         reinterpret_cast<char*>(const_cast<uint8_t*>(data.data())), static_cast<unsigned int>(n),
                         blockSize100k, 0, 30);
    if (rc != 0) throw ConversionError::corruptFile("bzip2 compression failed (code " + std::to_string(rc) + ")");
    out.resize(length);
    return out;
}

}  // namespace calvoro
