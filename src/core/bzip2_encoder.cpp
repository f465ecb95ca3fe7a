// bzip2 on several threads, written as the single-threaded library writes it.
//
// libbz2 fills a block until its run-length stage holds 100,000 × level − 19 bytes; the run under
// way then opens the next block. Cutting the input exactly there and compressing each piece as
// a stream of its own gives the very blocks the library would have made in one stream. Their bits
// are joined after one header, with the stream's combined CRC and end marker: the tool's bytes,
// whatever the number of threads.

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "core/bzip2.h"
#include "core/bzip2_library.h"
#include "core/conversion_error.h"
#include "core/ordered_work.h"
#include "core/processors.h"

namespace calvoro {

namespace {

constexpr uint64_t kEndMagic = 0x177245385090ULL;  // 48 bits
constexpr size_t kOutputChunk = 256 * 1024;
constexpr size_t kOutputPiece = 64 * 1024;

[[noreturn]] void compressionFailed(int code) {
    throw ConversionError::corruptFile("bzip2 compression failed (code " + std::to_string(code) + ")");
}

// Follows the library's first run-length stage to find where each block ends.
class BlockCutter {
public:
    explicit BlockCutter(int level) : limit_(100000 * level - 19) {}

    // The most input one block can take: a run of 255 bytes counts 5, so a block closes on at most
    // limit + 4 counted bytes, 51 input bytes each, and the last block adds its open run.
    size_t maxBlockBytes() const { return static_cast<size_t>(51 * (limit_ + 5) + 256); }

    // How many bytes of `in` the current block takes. `full`: the block ended there, and the byte
    // at the returned index, already counted, opens the next one.
    size_t take(std::span<const uint8_t> in, bool& full) {
        uint32_t ch = ch_, len = len_;
        int64_t n = filled_;
        full = false;
        size_t i = 0;
        for (; i < in.size(); ++i) {
            const uint32_t b = in[i];
            if (b != ch && len == 1) {
                ++n;
                ch = b;
            } else if (b != ch || len == 255) {
                if (ch < 256) n += len < 4 ? len : 5;
                ch = b;
                len = 1;
            } else {
                ++len;
                continue;
            }
            if (n >= limit_) {
                full = true;
                n = 0;
                break;
            }
        }
        ch_ = ch;
        len_ = len;
        filled_ = n;
        return i;
    }

private:
    const int64_t limit_;
    uint32_t ch_ = 256;  // none yet
    uint32_t len_ = 0;
    int64_t filled_ = 0;
};

class BitWriter {
public:
    void put(uint64_t value, int count) {
        while (count > 0) {
            const int n = std::min(count, 8);
            count -= n;
            add(static_cast<uint32_t>(value >> count) & ((1u << n) - 1), n);
        }
    }
    // The bits [32, end) of a stream: its first block, from just after the header.
    void putBlock(std::span<const uint8_t> stream, size_t end) {
        for (size_t i = 4; i < end / 8; ++i) add(stream[i], 8);
        if (end % 8) add(stream[end / 8] >> (8 - end % 8), static_cast<int>(end % 8));
    }
    void pad() {
        if (pending_) add(0, 8 - pending_);
    }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    void add(uint32_t bits, int n) {
        acc_ = (acc_ << n) | bits;
        pending_ += n;
        if (pending_ >= 8) {
            pending_ -= 8;
            bytes_.push_back(static_cast<uint8_t>(acc_ >> pending_));
            acc_ &= (1u << pending_) - 1;
        }
    }
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;
    int pending_ = 0;
};

uint64_t bitsAt(std::span<const uint8_t> data, size_t bit, int count) {
    uint64_t v = 0;
    for (int k = 0; k < count; ++k, ++bit) v = (v << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1);
    return v;
}

// Where the block of a one-block stream ends: its end marker and CRC, then zero padding. The
// marker never matches itself shifted by under 8 bits, so only one padding fits.
size_t blockEnd(std::span<const uint8_t> stream, uint32_t crc) {
    const size_t total = stream.size() * 8;
    for (size_t pad = 0; pad < 8 && total >= 32 + 48 + 80 + pad; ++pad) {
        const size_t end = total - pad - 80;
        if (bitsAt(stream, end, 48) == kEndMagic && bitsAt(stream, end + 48, 32) == crc && bitsAt(stream, end + 80, static_cast<int>(pad)) == 0)
            return end;
    }
    compressionFailed(BZ_DATA_ERROR);
}

// Memory lent to the library for one block at a time and kept for the next: fresh pages for its
// 7.5 MB of tables on every block cost more than a third again of the compression itself.
class Scratch {
public:
    static void* allocate(void* self, int items, int size) {
        auto& chunks = static_cast<Scratch*>(self)->chunks_;
        const size_t bytes = static_cast<size_t>(items) * static_cast<size_t>(size);
        for (auto& c : chunks)
            if (!c.lent && c.size == bytes) {
                c.lent = true;
                return c.data.get();
            }
        chunks.push_back({std::make_unique_for_overwrite<uint8_t[]>(bytes), bytes, true});
        return chunks.back().data.get();
    }
    static void release(void* self, void* data) {
        for (auto& c : static_cast<Scratch*>(self)->chunks_)
            if (c.data.get() == data) c.lent = false;
    }

private:
    struct Chunk {
        std::unique_ptr<uint8_t[]> data;
        size_t size;
        bool lent;
    };
    std::vector<Chunk> chunks_;
};

class ParallelEncoder final : public ByteSink {
public:
    ParallelEncoder(const bzip2::Symbols& s, ByteSink& to, int level, const CancellationToken& cancellation, int threads)
        : s_(s),
          to_(to),
          level_(level),
          cancellation_(cancellation),
          cutter_(level),
          // The block being filled may take its most; the blocks queued share the rest.
          work_(
              threads, BZip2::encoderBlockBudget - cutter_.maxBlockBytes(),
              [this](std::span<const uint8_t> block) { return compress(block); }, [this](std::span<const uint8_t> stream) { join(stream); },
              cancellation) {
        out_.put('B', 8);
        out_.put('Z', 8);
        out_.put('h', 8);
        out_.put('0' + static_cast<unsigned>(level), 8);
        block_.reserve(cutter_.maxBlockBytes());
    }

    void write(std::span<const uint8_t> bytes) override {
        while (!bytes.empty()) {
            bool full;
            const size_t n = cutter_.take(bytes, full);
            block_.insert(block_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            bytes = bytes.subspan(n);
            if (!full) break;
            submit();
            block_.push_back(bytes.front());
            bytes = bytes.subspan(1);
        }
    }

    void finish() override {
        if (!block_.empty()) submit();
        work_.finish();
        out_.put(kEndMagic, 48);
        out_.put(combinedCrc_, 32);
        out_.pad();
        flush();
        to_.finish();
    }

private:
    // A block has room for the most it can take from the start, so that it never moves while
    // filling (a move holds the old and the new room at once); memory not yet written to is not
    // the process's. A block that took far less is trimmed before it waits in the queue.
    void submit() {
        cancellation_.throwIfCancelled();
        if (block_.size() < block_.capacity() / 2) block_.shrink_to_fit();
        work_.submit(std::exchange(block_, {}));
        // Only now: while submit waits for room, the next block holds nothing yet.
        block_.reserve(cutter_.maxBlockBytes());
    }

    // On a worker: the block as a stream of its own, as the library's whole-buffer call makes it.
    // The output grows with what comes out, not with the input: a block of runs takes 51 times
    // its compressed room.
    std::vector<uint8_t> compress(std::span<const uint8_t> block) {
        if (block.size() > std::numeric_limits<unsigned int>::max()) compressionFailed(BZ_OUTBUFF_FULL);
        std::unique_ptr<Scratch> scratch = takeScratch();
        bz_stream stream{};
        stream.bzalloc = &Scratch::allocate;
        stream.bzfree = &Scratch::release;
        stream.opaque = scratch.get();
        int rc = s_.encodeInit(&stream, level_, 0, 30);
        if (rc != BZ_OK) compressionFailed(rc);
        std::vector<uint8_t> out;
        std::vector<uint8_t> piece(kOutputPiece);
        stream.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(block.data()));
        stream.avail_in = static_cast<unsigned int>(block.size());
        do {
            stream.next_out = reinterpret_cast<char*>(piece.data());
            stream.avail_out = static_cast<unsigned int>(piece.size());
            rc = s_.encodeStep(&stream, BZ_FINISH);
            out.insert(out.end(), piece.begin(), piece.end() - stream.avail_out);
        } while (rc == BZ_FINISH_OK);
        s_.encodeEnd(&stream);
        giveBack(std::move(scratch));
        if (rc != BZ_STREAM_END) compressionFailed(rc);
        // Held until its turn to be written, and counted at what it holds.
        out.shrink_to_fit();
        return out;
    }

    std::unique_ptr<Scratch> takeScratch() {
        std::lock_guard lock(scratchMutex_);
        if (spare_.empty()) return std::make_unique<Scratch>();
        auto s = std::move(spare_.back());
        spare_.pop_back();
        return s;
    }
    void giveBack(std::unique_ptr<Scratch> s) {
        std::lock_guard lock(scratchMutex_);
        spare_.push_back(std::move(s));
    }

    // On the writing thread, in order: the block's bits go after the ones before it.
    void join(std::span<const uint8_t> stream) {
        if (stream.size() < 14 + 10) compressionFailed(BZ_DATA_ERROR);
        const auto crc = static_cast<uint32_t>(bitsAt(stream, 80, 32));
        out_.putBlock(stream, blockEnd(stream, crc));
        combinedCrc_ = ((combinedCrc_ << 1) | (combinedCrc_ >> 31)) ^ crc;
        if (out_.bytes().size() >= kOutputChunk) flush();
    }

    void flush() {
        if (out_.bytes().empty()) return;
        to_.write(out_.bytes());
        out_.bytes().clear();
    }

    const bzip2::Symbols& s_;
    ByteSink& to_;
    const int level_;
    const CancellationToken cancellation_;
    BlockCutter cutter_;
    BitWriter out_;
    uint32_t combinedCrc_ = 0;
    std::vector<uint8_t> block_;
    std::mutex scratchMutex_;
    std::vector<std::unique_ptr<Scratch>> spare_;  // one a thread at most
    OrderedWork work_;  // last: its threads stop before the rest goes
};

}  // namespace

std::unique_ptr<ByteSink> BZip2::encoder(ByteSink& to, int blockSize100k, const CancellationToken& cancellation, int threads) {
    const bzip2::Symbols* s = bzip2::symbols();
    if (!s) throw ConversionError::unsupportedFormat();
    if (blockSize100k < 1 || blockSize100k > 9) compressionFailed(BZ_PARAM_ERROR);
    if (threads <= 0) threads = std::min(usableProcessors(), encoderThreadLimit);
    return std::make_unique<ParallelEncoder>(*s, to, blockSize100k, cancellation, threads);
}

}  // namespace calvoro
