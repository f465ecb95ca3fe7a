#include "platform/compression/stream_codecs.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "core/byte_order.h"
#include "platform/compression/deflate_codec.h"
#include "platform/compression/lzma_codec.h"

namespace calvoro::compression {

namespace {

using Kind = StreamError::Kind;
constexpr size_t kInputBuffer = 256 * 1024;
constexpr size_t kGzipMember = 4 << 20;

// zlib inflating what a source gives: read() moves the stream on a step at a time, as the
// format has it, until some output is ready or the stream has ended.
class InflateSource : public ByteSource {
public:
    InflateSource(ByteSource& from, int windowBits) : from_(from), input_(kInputBuffer) {
        if (inflateInit2(&z_, windowBits) != Z_OK) throw std::bad_alloc();
    }
    ~InflateSource() override { inflateEnd(&z_); }
    InflateSource(const InflateSource&) = delete;
    InflateSource& operator=(const InflateSource&) = delete;

    size_t read(std::span<uint8_t> into) final {
        if (ended_ || into.empty()) return 0;
        const uInt room = static_cast<uInt>(std::min<size_t>(into.size(), size_t{1} << 30));
        z_.next_out = into.data();
        z_.avail_out = room;
        while (z_.avail_out == room && !ended_) step();
        return room - z_.avail_out;
    }

protected:
    virtual void step() = 0;

    // The input replaced by what the source gives next; false at its end.
    bool refill() {
        size_t n = from_.read(input_);
        z_.next_in = input_.data();
        z_.avail_in = static_cast<uInt>(n);
        return n > 0;
    }

    ByteSource& from_;
    std::vector<uint8_t> input_;
    z_stream z_{};
    bool ended_ = false;
};

// gzip members: zlib inflates each member's DEFLATE body, and its header and trailer are read
// here, in zlib's order, so that a trailer that disagrees with the data names the field that does.
class GzipDecoder final : public InflateSource {
public:
    explicit GzipDecoder(ByteSource& from) : InflateSource(from, -MAX_WBITS) {}

private:
    enum class Part { header, body, trailer };
    static constexpr uint8_t kHeaderCrc = 0x02, kExtra = 0x04, kName = 0x08, kComment = 0x10, kReserved = 0xE0;

    void step() override {
        if (!started_) {
            if (!refillTo(2) || !atMagic()) throw StreamError(Kind::notThisFormat, 0);
            started_ = true;
        }
        if (z_.avail_in == 0 && !refill()) throw StreamError(Kind::truncated, Z_BUF_ERROR);
        switch (part_) {
            case Part::header:
                readHeader();
                part_ = Part::body;
                break;
            case Part::body: inflateBody(); break;
            case Part::trailer: takeTrailer(); break;
        }
    }

    // The method must be DEFLATE and no reserved flag set; the optional fields are passed over,
    // and the header's own CRC-16 is checked where it carries one.
    void readHeader() {
        headerCrc_ = 0;
        headerByte();
        headerByte();  // the magic
        const uint8_t method = headerByte();
        const uint8_t flags = headerByte();
        if (method != Z_DEFLATED || (flags & kReserved)) throw StreamError(Kind::damaged, Z_DATA_ERROR);
        for (int i = 0; i < 6; ++i) headerByte();  // time, extra flags, system
        if (flags & kExtra) {
            const unsigned low = headerByte();
            const unsigned length = low | headerByte() << 8;
            for (unsigned i = 0; i < length; ++i) headerByte();
        }
        if (flags & kName) skipZeroTerminated();
        if (flags & kComment) skipZeroTerminated();
        if (flags & kHeaderCrc) {
            const uint32_t expected = headerCrc_ & 0xFFFF;
            const unsigned low = headerByte();
            if ((low | headerByte() << 8) != expected) throw StreamError(Kind::damaged, Z_DATA_ERROR);
        }
    }

    void skipZeroTerminated() {
        while (headerByte() != 0) {
        }
    }

    // A header takes no output, so the source is read for it as far as it needs.
    uint8_t headerByte() {
        if (z_.avail_in == 0 && !refill()) throw StreamError(Kind::truncated, Z_BUF_ERROR);
        const uint8_t byte = *z_.next_in++;
        --z_.avail_in;
        headerCrc_ = static_cast<uint32_t>(crc32(headerCrc_, &byte, 1));
        return byte;
    }

    void inflateBody() {
        const uint8_t* out = z_.next_out;
        int rc = ::inflate(&z_, Z_NO_FLUSH);
        const auto produced = static_cast<uInt>(z_.next_out - out);
        memberCrc_ = static_cast<uint32_t>(crc32(memberCrc_, out, produced));
        memberLength_ += produced;
        if (rc == Z_STREAM_END) {
            part_ = Part::trailer;
            takeTrailer();
            return;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) throw StreamError(Kind::damaged, rc);
    }

    // The CRC-32 and the length modulo 2^32 that close a member, from the input at hand only, so
    // that what the body gave in this read is not held back; each is checked once it is in.
    void takeTrailer() {
        while (trailerHave_ < trailer_.size() && z_.avail_in > 0) {
            trailer_[trailerHave_++] = *z_.next_in++;
            --z_.avail_in;
            if (trailerHave_ == 4 && byte_order::le32(trailer_.data()) != memberCrc_) throw StreamError(Kind::badChecksum, Z_DATA_ERROR);
            if (trailerHave_ == 8 && byte_order::le32(trailer_.data() + 4) != memberLength_) throw StreamError(Kind::badLength, Z_DATA_ERROR);
        }
        if (trailerHave_ == trailer_.size()) nextMember();
    }

    void nextMember() {
        // Another member follows only where its magic does; trailing padding is ignored as gzip does.
        if (!refillTo(2) || !atMagic()) {
            ended_ = true;
            return;
        }
        inflateReset(&z_);
        part_ = Part::header;
        memberCrc_ = memberLength_ = 0;
        trailerHave_ = 0;
    }

    // At least n bytes waiting, moving the rest to the front; false when the source ends first.
    bool refillTo(size_t n) {
        if (z_.avail_in >= n) return true;
        std::copy(z_.next_in, z_.next_in + z_.avail_in, input_.begin());
        size_t have = z_.avail_in + from_.readFully(std::span(input_).subspan(z_.avail_in, input_.size() - z_.avail_in));
        z_.next_in = input_.data();
        z_.avail_in = static_cast<uInt>(have);
        return have >= n;
    }

    bool atMagic() const { return z_.next_in[0] == 0x1F && z_.next_in[1] == 0x8B; }

    bool started_ = false;
    Part part_ = Part::header;
    uint32_t headerCrc_ = 0;
    uint32_t memberCrc_ = 0;
    uint32_t memberLength_ = 0;
    std::array<uint8_t, 8> trailer_{};
    size_t trailerHave_ = 0;
};

// The legacy .lzma header as liblzma's own format detection takes it: valid properties, a
// dictionary of 2^n or 2^n + 2^(n-1) bytes, and a size that is unknown or below 256 GiB.
bool isLegacyLzma(std::span<const uint8_t> head) {
    if (head.size() < 13 || head[0] >= 9 * 5 * 5) return false;
    uint32_t dict = 0;
    for (int i = 4; i >= 1; --i) dict = (dict << 8) | head[static_cast<size_t>(i)];
    if (dict != UINT32_MAX) {
        uint32_t rounded = dict - 1;
        rounded |= rounded >> 2;
        rounded |= rounded >> 3;
        rounded |= rounded >> 4;
        rounded |= rounded >> 8;
        rounded |= rounded >> 16;
        if (rounded + 1 != dict) return false;
    }
    uint64_t size = 0;
    for (int i = 12; i >= 5; --i) size = (size << 8) | head[static_cast<size_t>(i)];
    return size == UINT64_MAX || size < (uint64_t{1} << 38);
}

// An xz stream, or one in the legacy .lzma format that xz --format=lzma writes, told apart by
// their first bytes; both under the same memory limit.
class XzDecoder final : public ByteSource {
public:
    explicit XzDecoder(ByteSource& from) : from_(from), input_(kInputBuffer) {}
    ~XzDecoder() override { lzma_end(&s_); }

    size_t read(std::span<uint8_t> into) override {
        if (ended_ || into.empty()) return 0;
        if (!started_) start();
        s_.next_out = into.data();
        s_.avail_out = into.size();
        while (s_.avail_out == into.size()) {
            lzma_action action = LZMA_RUN;
            if (s_.avail_in == 0 && !atEnd_) {
                size_t n = from_.read(input_);
                s_.next_in = input_.data();
                s_.avail_in = n;
                atEnd_ = n == 0;
            }
            if (atEnd_) action = LZMA_FINISH;
            lzma_ret rc = lzma_code(&s_, action);
            if (rc == LZMA_STREAM_END) {
                ended_ = true;
                break;
            }
            if (rc == LZMA_OK) continue;
            if (rc == LZMA_MEMLIMIT_ERROR) throw StreamError(Kind::needsTooMuchMemory, rc);
            if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
            throw StreamError(atEnd_ && rc == LZMA_BUF_ERROR ? Kind::truncated : Kind::damaged, rc);
        }
        return into.size() - s_.avail_out;
    }

private:
    void start() {
        const size_t n = from_.readFully(input_);
        s_.next_in = input_.data();
        s_.avail_in = n;
        atEnd_ = n < input_.size();
        static constexpr uint8_t magic[6] = {0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00};
        const std::span<const uint8_t> head(input_.data(), n);
        lzma_ret rc;
        if (n >= 6 && std::equal(magic, magic + 6, head.begin()))
            rc = lzma_stream_decoder(&s_, LzmaCodec::decoderMemoryLimit, LZMA_CONCATENATED);
        else if (isLegacyLzma(head))
            rc = lzma_alone_decoder(&s_, LzmaCodec::decoderMemoryLimit);
        else
            throw StreamError(Kind::notThisFormat, 0);
        if (rc != LZMA_OK) throw std::bad_alloc();
        started_ = true;
    }

    ByteSource& from_;
    std::vector<uint8_t> input_;
    lzma_stream s_ = LZMA_STREAM_INIT;
    bool started_ = false;
    bool atEnd_ = false;
    bool ended_ = false;
};

void putUInt32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

class GzipEncoder final : public ByteSink {
public:
    explicit GzipEncoder(ByteSink& to) : to_(to) { pending_.reserve(kGzipMember); }

    void write(std::span<const uint8_t> bytes) override {
        while (!bytes.empty()) {
            size_t n = std::min(bytes.size(), kGzipMember - pending_.size());
            pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            bytes = bytes.subspan(n);
            if (pending_.size() == kGzipMember) emitMember();
        }
    }
    void finish() override {
        if (!pending_.empty() || !wroteMember_) emitMember();
        to_.finish();
    }

private:
    void emitMember() {
        static constexpr std::array<uint8_t, 10> header = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
        static constexpr std::array<uint8_t, 2> emptyBody = {0x03, 0x00};
        to_.write(header);
        auto body = encoder_.deflate(pending_);
        if (body.empty() && !pending_.empty()) throw std::bad_alloc();
        to_.write(body.empty() ? std::span<const uint8_t>(emptyBody) : body);
        std::vector<uint8_t> trailer;
        putUInt32(trailer, DeflateCodec::crc32(pending_));
        putUInt32(trailer, static_cast<uint32_t>(pending_.size()));
        to_.write(trailer);
        pending_.clear();
        wroteMember_ = true;
    }

    ByteSink& to_;
    DeflateCodec::Encoder encoder_;
    std::vector<uint8_t> pending_;
    bool wroteMember_ = false;
};

class XzEncoder final : public ByteSink {
public:
    XzEncoder(ByteSink& to, const CancellationToken& cancellation, uint32_t threads, uint32_t preset)
        : to_(to), cancellation_(cancellation), output_(kInputBuffer) {
        lzma_mt mt{};
        mt.preset = preset;
        mt.check = LZMA_CHECK_CRC64;
        mt.block_size = LzmaCodec::encoderBlockSize;
        mt.threads = LzmaCodec::encoderThreads(threads, preset);
        // Waiting for a block returns now and then (as LZMA_OK), so that a cancellation is seen.
        mt.timeout = 200;
        lzma_ret rc = lzma_stream_encoder_mt(&s_, &mt);
        if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
        if (rc != LZMA_OK) throw StreamError(Kind::damaged, rc);
    }
    ~XzEncoder() override { lzma_end(&s_); }

    void write(std::span<const uint8_t> bytes) override {
        s_.next_in = bytes.data();
        s_.avail_in = bytes.size();
        while (s_.avail_in > 0) run(LZMA_RUN);
    }
    void finish() override {
        while (!run(LZMA_FINISH)) {
        }
        to_.finish();
    }

private:
    // One step; true once the stream has ended.
    bool run(lzma_action action) {
        cancellation_.throwIfCancelled();
        s_.next_out = output_.data();
        s_.avail_out = output_.size();
        lzma_ret rc = lzma_code(&s_, action);
        if (size_t n = output_.size() - s_.avail_out) to_.write(std::span(output_).first(n));
        if (rc == LZMA_STREAM_END) return true;
        if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
        if (rc != LZMA_OK) throw StreamError(Kind::damaged, rc);
        return false;
    }

    ByteSink& to_;
    const CancellationToken cancellation_;
    std::vector<uint8_t> output_;
    lzma_stream s_ = LZMA_STREAM_INIT;
};

class RawInflater final : public InflateSource {
public:
    explicit RawInflater(ByteSource& from) : InflateSource(from, -MAX_WBITS) {}

private:
    void step() override {
        if (z_.avail_in == 0 && !refill()) throw StreamError(Kind::truncated, Z_BUF_ERROR);
        int rc = ::inflate(&z_, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) ended_ = true;
        else if (rc == Z_MEM_ERROR) throw std::bad_alloc();
        else if (rc != Z_OK && rc != Z_BUF_ERROR) throw StreamError(Kind::damaged, rc);
    }
};

class RawDeflater final : public ByteSink {
public:
    RawDeflater(ByteSink& to, int level) : to_(to), output_(kInputBuffer) {
        if (deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    }
    ~RawDeflater() override { deflateEnd(&z_); }

    void write(std::span<const uint8_t> bytes) override {
        while (!bytes.empty()) {
            const size_t n = std::min<size_t>(bytes.size(), size_t{1} << 30);
            z_.next_in = const_cast<uint8_t*>(bytes.data());
            z_.avail_in = static_cast<uInt>(n);
            while (z_.avail_in > 0) run(Z_NO_FLUSH);
            bytes = bytes.subspan(n);
        }
    }
    void finish() override {
        while (!run(Z_FINISH)) {
        }
        to_.finish();
    }

private:
    // One step; true once the stream has ended.
    bool run(int flush) {
        z_.next_out = output_.data();
        z_.avail_out = static_cast<uInt>(output_.size());
        int rc = ::deflate(&z_, flush);
        if (size_t n = output_.size() - z_.avail_out) to_.write(std::span(output_).first(n));
        if (rc == Z_STREAM_END) return true;
        if (rc != Z_OK && rc != Z_BUF_ERROR) throw StreamError(Kind::damaged, rc);
        return false;
    }

    ByteSink& to_;
    std::vector<uint8_t> output_;
    z_stream z_{};
};

}  // namespace

std::unique_ptr<ByteSource> gzipDecoder(ByteSource& from) { return std::make_unique<GzipDecoder>(from); }
std::unique_ptr<ByteSource> xzDecoder(ByteSource& from) { return std::make_unique<XzDecoder>(from); }
std::unique_ptr<ByteSink> gzipEncoder(ByteSink& to) { return std::make_unique<GzipEncoder>(to); }
std::unique_ptr<ByteSink> xzEncoder(ByteSink& to, const CancellationToken& cancellation, uint32_t threads, uint32_t preset) {
    return std::make_unique<XzEncoder>(to, cancellation, threads, preset);
}
std::unique_ptr<ByteSource> rawDeflateDecoder(ByteSource& from) { return std::make_unique<RawInflater>(from); }
std::unique_ptr<ByteSink> rawDeflateEncoder(ByteSink& to, int level) { return std::make_unique<RawDeflater>(to, level); }

}  // namespace calvoro::compression
