#include "platform/imaging/codecs/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace calvoro::imaging::detail {

namespace {

void chunk(Bytes& out, const char* type, const uint8_t* data, size_t size) {
    putBE32(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(size + 4));
    putBE32(out, static_cast<uint32_t>(crc));
}

void chunk(Bytes& out, const char* type, const Bytes& data) { chunk(out, type, data.data(), data.size()); }

inline uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One filtered scanline (filter byte first), the filter chosen by the smallest sum of
// absolute values, as libpng's adaptive choice does.
void filterRow(const uint8_t* row, const uint8_t* prev, size_t length, int bpp, uint8_t* out, Bytes& scratch) {
    scratch.resize(length * 3);
    uint8_t* sub = scratch.data();
    uint8_t* up = sub + length;
    uint8_t* pa = up + length;
    unsigned long sumNone = 0, sumSub = 0, sumUp = 0, sumPaeth = 0;
    for (size_t i = 0; i < length; ++i) {
        const int a = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
        const int b = prev ? prev[i] : 0;
        const int c = (prev && i >= static_cast<size_t>(bpp)) ? prev[i - bpp] : 0;
        sub[i] = static_cast<uint8_t>(row[i] - a);
        up[i] = static_cast<uint8_t>(row[i] - b);
        pa[i] = static_cast<uint8_t>(row[i] - paeth(a, b, c));
        sumNone += row[i] < 128 ? row[i] : 256 - row[i];
        sumSub += sub[i] < 128 ? sub[i] : 256 - sub[i];
        sumUp += up[i] < 128 ? up[i] : 256 - up[i];
        sumPaeth += pa[i] < 128 ? pa[i] : 256 - pa[i];
    }
    const unsigned long best = std::min({sumNone, sumSub, sumUp, sumPaeth});
    if (best == sumPaeth) out[0] = 4, std::memcpy(out + 1, pa, length);
    else if (best == sumUp) out[0] = 2, std::memcpy(out + 1, up, length);
    else if (best == sumSub) out[0] = 1, std::memcpy(out + 1, sub, length);
    else out[0] = 0, std::memcpy(out + 1, row, length);
}

// Raw filtered scanlines per strip: enough for deflate to find its matches, small enough that a
// strip per thread and a few waiting to be written stay a few tens of megabytes.
constexpr size_t stripBytes = size_t(1) << 20;

struct Strip {
    int first = 0;       // the picture's row held first in packed
    int y0 = 0, y1 = 0;  // the rows this strip compresses
    Bytes packed;        // rows [first, y1) as the file stores them; released once compressed
    // Raw deflate, ending on a byte boundary (or final for the last); left uninitialised, so
    // that only the pages written count.
    std::unique_ptr<uint8_t[]> compressed;
    size_t compressedSize = 0;
    size_t rawSize = 0;
    uLong adler = 1;
    bool ok = false;
    bool done = false;  // guarded by the workers' mutex
};

// Filters and deflates a strip. The rows before y0 in packed give the dictionary: the last
// 32 KB of the stream before the strip, filtered again here.
void compressStrip(Strip& strip, size_t rowBytes, int bpp, bool last) {
    const uint8_t* packed = strip.packed.data();
    auto row = [&](int y) { return packed + rowBytes * static_cast<size_t>(y - strip.first); };
    // The first row held has no row before it to filter against unless it is the picture's first.
    auto previous = [&](int y) -> const uint8_t* { return y == 0 ? nullptr : row(y - 1); };
    Bytes filtered(rowBytes + 1), scratch, dictionary;
    for (int y = strip.first == 0 ? 0 : strip.first + 1; y < strip.y0; ++y) {
        filterRow(row(y), previous(y), rowBytes, bpp, filtered.data(), scratch);
        dictionary.insert(dictionary.end(), filtered.begin(), filtered.end());
    }
    z_stream z{};
    if (deflateInit2(&z, 2, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    const size_t dict = std::min<size_t>(32768, dictionary.size());
    if (dict) deflateSetDictionary(&z, dictionary.data() + dictionary.size() - dict, static_cast<uInt>(dict));
    strip.rawSize = (rowBytes + 1) * static_cast<size_t>(strip.y1 - strip.y0);
    const size_t bound = deflateBound(&z, static_cast<uLong>(strip.rawSize)) + 16;
    strip.compressed = std::make_unique_for_overwrite<uint8_t[]>(bound);
    z.next_out = strip.compressed.get();
    z.avail_out = static_cast<uInt>(bound);
    bool ok = true;
    for (int y = strip.y0; y < strip.y1 && ok; ++y) {
        filterRow(row(y), previous(y), rowBytes, bpp, filtered.data(), scratch);
        strip.adler = adler32(strip.adler, filtered.data(), static_cast<uInt>(filtered.size()));
        z.next_in = filtered.data();
        z.avail_in = static_cast<uInt>(filtered.size());
        const bool end = y + 1 == strip.y1;
        const int rc = deflate(&z, !end ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH);
        ok = end && last ? rc == Z_STREAM_END : rc == Z_OK && z.avail_in == 0;
    }
    strip.ok = ok;
    strip.compressedSize = bound - z.avail_out;
    deflateEnd(&z);
    strip.packed = Bytes();
}

// Threads that compress the strips handed to them, in any order; the writer takes them back in
// order. Stopped and joined when it goes, whatever is still queued.
class StripWorkers {
public:
    StripWorkers(int threads, size_t rowBytes, int bpp, int stripCount) : rowBytes_(rowBytes), bpp_(bpp), lastStrip_(stripCount - 1) {
        for (int t = 0; t < threads; ++t) threads_.emplace_back([this] { work(); });
    }
    ~StripWorkers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
    }  // the threads are joined as they go

    void submit(Strip& strip, int index) {
        if (threads_.empty()) return compress(strip, index);
        {
            std::lock_guard lock(mutex_);
            queue_.emplace_back(&strip, index);
        }
        wake_.notify_one();
    }
    bool isDone(const Strip& strip) {
        std::lock_guard lock(mutex_);
        return strip.done;
    }
    void waitFor(const Strip& strip) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [&] { return strip.done; });
    }

private:
    void compress(Strip& strip, int index) {
        try {
            compressStrip(strip, rowBytes_, bpp_, index == lastStrip_);
        } catch (...) {
            strip.ok = false;  // memory ran out: the write fails when the strip's turn comes
        }
        std::lock_guard lock(mutex_);
        strip.done = true;
    }
    void work() {
        for (;;) {
            std::pair<Strip*, int> next;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                next = queue_.front();
                queue_.pop_front();
            }
            compress(*next.first, next.second);
            finished_.notify_all();
        }
    }

    const size_t rowBytes_;
    const int bpp_;
    const int lastStrip_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<std::pair<Strip*, int>> queue_;
    bool stopping_ = false;
    std::vector<std::jthread> threads_;  // last: joined before the rest goes
};

// The colour space: the chunks a profile was made from, else the profile, else sRGB.
void writeColourChunks(Bytes& out, const std::vector<uint8_t>& iccProfile, const std::optional<PngGamma>& gammaChunks) {
    if (!iccProfile.empty() && gammaChunks) {
        if (gammaChunks->chromaticities) {
            Bytes chrm;
            for (uint32_t v : *gammaChunks->chromaticities) putBE32(chrm, v);
            chunk(out, "cHRM", chrm);
        }
        Bytes gama;
        putBE32(gama, gammaChunks->gamma);
        chunk(out, "gAMA", gama);
    } else if (!iccProfile.empty()) {
        Bytes iccp = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
        uLongf length = compressBound(static_cast<uLong>(iccProfile.size()));
        Bytes packed(length);
        if (compress2(packed.data(), &length, iccProfile.data(), static_cast<uLong>(iccProfile.size()), 9) == Z_OK) {
            iccp.insert(iccp.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
            chunk(out, "iCCP", iccp);
        }
    } else {
        const uint8_t intent = 0;
        chunk(out, "sRGB", &intent, 1);
    }
}

// Resolution, Exif and XMP.
void writeMetadataChunks(Bytes& out, const EncodeOptions& options) {
    const auto& md = options.metadata;
    if (md.dpiWidth && md.dpiHeight && *md.dpiWidth > 0 && *md.dpiHeight > 0) {
        Bytes phys;
        putBE32(phys, static_cast<uint32_t>(*md.dpiWidth / 0.0254 + 0.5));
        putBE32(phys, static_cast<uint32_t>(*md.dpiHeight / 0.0254 + 0.5));
        phys.push_back(1);
        chunk(out, "pHYs", phys);
    }
    if (!md.exif.empty()) {
        Bytes exif = preparedExif(md.exif, options.excludeGPS, md.orientation);
        if (!exif.empty()) chunk(out, "eXIf", exif);
    }
    if (!options.excludeXMP && !md.xmp.empty()) {
        const char key[] = "XML:com.adobe.xmp";
        Bytes itxt(key, key + sizeof(key));
        itxt.insert(itxt.end(), {0, 0, 0, 0});  // uncompressed, no language, no translated keyword
        itxt.insert(itxt.end(), md.xmp.begin(), md.xmp.end());
        chunk(out, "iTXt", itxt);
    }
}

// The signature and every chunk before the image data.
Bytes pngHeader(const PngRows& rows, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options,
                const std::optional<PngGamma>& gammaChunks) {
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    putBE32(ihdr, static_cast<uint32_t>(rows.width));
    putBE32(ihdr, static_cast<uint32_t>(rows.height));
    ihdr.insert(ihdr.end(), {static_cast<uint8_t>(rows.sixteen ? 16 : 8), static_cast<uint8_t>(rows.alpha ? 6 : 2), 0, 0, 0});
    chunk(out, "IHDR", ihdr);
    writeColourChunks(out, iccProfile, gammaChunks);
    writeMetadataChunks(out, options);
    return out;
}

// The zlib stream goes out in IDAT chunks of 1 MB as the strips come back, in order.
class IdatWriter {
public:
    explicit IdatWriter(const ByteSink& sink) : sink_(sink) {}

    void emit(const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t take = std::min(size, (size_t(1) << 20) - pending_.size());
            pending_.insert(pending_.end(), data, data + take);
            data += take;
            size -= take;
            if (pending_.size() == size_t(1) << 20) {
                chunk(out_, "IDAT", pending_);
                sink_(out_.data(), out_.size());
                out_.clear();
                pending_.clear();
            }
        }
    }
    // The last IDAT and the end chunk.
    void finish() {
        if (!pending_.empty()) chunk(out_, "IDAT", pending_);
        chunk(out_, "IEND", nullptr, 0);
        sink_(out_.data(), out_.size());
    }

private:
    const ByteSink& sink_;
    Bytes out_;
    Bytes pending_ = {0x78, 0x9C};
};

// Row y as the file stores it: 8 or 16 bits a sample, big-endian, the alpha only when kept.
void packRow(const PngRows& rows, int y, size_t rowBytes, uint8_t* into) {
    const void* row = rows.rowAt(y);
    if (!row) fail("Could not encode PNG: the picture is incomplete");
    const int channels = rows.alpha ? 4 : 3;
    if (rows.sixteen) {
        const auto* src = static_cast<const uint16_t*>(row);
        for (int x = 0; x < rows.width; ++x, src += 4)
            for (int c = 0; c < channels; ++c) *into++ = static_cast<uint8_t>(src[c] >> 8), *into++ = static_cast<uint8_t>(src[c]);
        return;
    }
    const auto* src = static_cast<const uint8_t*>(row);
    if (rows.alpha) {
        std::memcpy(into, src, rowBytes);
    } else {
        for (int x = 0; x < rows.width; ++x, src += 4, into += 3) into[0] = src[0], into[1] = src[1], into[2] = src[2];
    }
}

// Cuts the picture into strips, each holding the rows before it that prime its dictionary,
// has them compressed and writes them back in order, a bounded number ahead.
class StripWriter {
public:
    StripWriter(const PngRows& rows, size_t rowBytes, int bpp, IdatWriter& idat)
        : rows_(rows), rowBytes_(rowBytes), idat_(idat),
          stripRows_(static_cast<int>(std::clamp<size_t>(stripBytes / (rowBytes + 1), 1, static_cast<size_t>(rows.height)))),
          stripCount_((rows.height + stripRows_ - 1) / stripRows_),
          historyRows_(static_cast<int>(std::min<size_t>(32768 / (rowBytes + 1) + 2, static_cast<size_t>(rows.height)))),
          history_(rowBytes * static_cast<size_t>(historyRows_)), strips_(static_cast<size_t>(stripCount_)),
          threads_(std::min(std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8), stripCount_)),
          // With one thread to use, the strips are compressed on this one.
          workers_(threads_ > 1 ? threads_ : 0, rowBytes, bpp, stripCount_) {}

    // The image data's zlib stream, its Adler-32 last.
    void write() {
        // A strip for each thread and as many again made ready or waiting their turn to be written.
        const int window = 2 * threads_;
        for (int s = 0; s < stripCount_; ++s) {
            fill(strips_[static_cast<size_t>(s)], s);
            workers_.submit(strips_[static_cast<size_t>(s)], s);
            while (written_ < s + 1 && (s + 1 - written_ >= window || workers_.isDone(strips_[static_cast<size_t>(written_)])))
                writeNext();
        }
        while (written_ < stripCount_) writeNext();
        Bytes trailer;
        putBE32(trailer, static_cast<uint32_t>(adler_));
        idat_.emit(trailer.data(), trailer.size());
    }

private:
    // The strip's rows packed, after the history rows before them; its last rows become the history.
    void fill(Strip& strip, int s) {
        strip.y0 = s * stripRows_;
        strip.y1 = std::min(rows_.height, strip.y0 + stripRows_);
        strip.first = std::max(0, strip.y0 - historyRows_);
        allocateLarge(strip.packed, rowBytes_ * static_cast<size_t>(strip.y1 - strip.first));
        uint8_t* into = strip.packed.data();
        for (int y = strip.first; y < strip.y0; ++y, into += rowBytes_) std::memcpy(into, historyRow(y), rowBytes_);
        for (int y = strip.y0; y < strip.y1; ++y, into += rowBytes_) {
            packRow(rows_, y, rowBytes_, into);
            if (y >= strip.y1 - historyRows_) std::memcpy(historyRow(y), into, rowBytes_);
        }
    }
    uint8_t* historyRow(int y) { return history_.data() + rowBytes_ * static_cast<size_t>(y % historyRows_); }
    void writeNext() {
        Strip& strip = strips_[static_cast<size_t>(written_++)];
        workers_.waitFor(strip);
        if (!strip.ok) fail("Could not encode PNG");
        adler_ = adler32_combine(adler_, strip.adler, static_cast<z_off_t>(strip.rawSize));
        idat_.emit(strip.compressed.get(), strip.compressedSize);
        strip.compressed.reset();
    }

    const PngRows& rows_;
    const size_t rowBytes_;
    IdatWriter& idat_;
    const int stripRows_;
    const int stripCount_;
    // The rows a strip's dictionary is filtered from, and the one before them.
    const int historyRows_;
    Bytes history_;  // row y at y % historyRows_
    std::vector<Strip> strips_;
    const int threads_;
    uLong adler_ = 1;
    int written_ = 0;
    StripWorkers workers_;  // last: stopped before the strips it may be working on go
};

}  // namespace

void writePNG(const PngRows& rows, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options, const ByteSink& sink,
              const std::optional<PngGamma>& gammaChunks) {
    const int bpp = (rows.alpha ? 4 : 3) * (rows.sixteen ? 2 : 1);
    const size_t rowBytes = static_cast<size_t>(rows.width) * bpp;
    if (rows.width <= 0 || rows.height <= 0 || rowBytes + 1 > 0x7FFFFFFF / 2) fail("The image is too large for PNG");
    const Bytes header = pngHeader(rows, iccProfile, options, gammaChunks);
    sink(header.data(), header.size());
    IdatWriter idat(sink);
    StripWriter(rows, rowBytes, bpp, idat).write();
    idat.finish();
}

Bytes writePNGFile(const RgbaImage& image, const EncodeOptions& options) {
    PngRows rows;
    rows.width = image.width;
    rows.height = image.height;
    // A picture that came with 16-bit samples keeps them.
    rows.sixteen = image.hasDeep();
    rows.alpha = image.hasTransparency();
    const size_t samplesPerRow = static_cast<size_t>(image.width) * 4;
    rows.rowAt = [&](int y) -> const void* {
        if (rows.sixteen) return image.deep.data() + samplesPerRow * static_cast<size_t>(y);
        return image.row(y);
    };
    Bytes out;
    writePNG(rows, image.iccProfile, options, [&out](const uint8_t* data, size_t size) { out.insert(out.end(), data, data + size); },
             image.pngGamma);
    return out;
}

}  // namespace calvoro::imaging::detail
