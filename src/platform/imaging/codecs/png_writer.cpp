#include "platform/imaging/codecs/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
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

struct Strip {
    Bytes raw;  // filtered scanlines, released once compressed
    size_t rawSize = 0;
    // Raw deflate, ending on a byte boundary (or final for the last); left uninitialised, so
    // that only the pages written count.
    std::unique_ptr<uint8_t[]> compressed;
    size_t compressedSize = 0;
    uLong adler = 1;
    bool ok = false;
};

void compressStrip(Strip& strip, const uint8_t* dictionary, size_t dictionaryLength, bool last) {
    z_stream z{};
    if (deflateInit2(&z, 2, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    if (dictionaryLength) deflateSetDictionary(&z, dictionary, static_cast<uInt>(dictionaryLength));
    const size_t bound = deflateBound(&z, static_cast<uLong>(strip.raw.size())) + 16;
    strip.compressed = std::make_unique_for_overwrite<uint8_t[]>(bound);
    z.next_in = strip.raw.data();
    z.avail_in = static_cast<uInt>(strip.raw.size());
    z.next_out = strip.compressed.get();
    z.avail_out = static_cast<uInt>(bound);
    const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    strip.ok = last ? rc == Z_STREAM_END : (rc == Z_OK && z.avail_in == 0);
    strip.compressedSize = bound - z.avail_out;
    deflateEnd(&z);
    strip.adler = adler32(1L, strip.raw.data(), static_cast<uInt>(strip.raw.size()));
    strip.rawSize = strip.raw.size();
    strip.raw = Bytes();
}

}  // namespace

Bytes writePNGFile(const RgbaImage& image, const EncodeOptions& options) {
    // A picture that came with 16-bit samples keeps them.
    const bool sixteen = image.hasDeep();
    const bool alpha = image.hasTransparency();
    const int channels = alpha ? 4 : 3;
    const int bpp = channels * (sixteen ? 2 : 1);
    const size_t rowBytes = static_cast<size_t>(image.width) * bpp;
    if (rowBytes + 1 > 0x7FFFFFFF / 2) fail("The image is too large for PNG");

    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    putBE32(ihdr, static_cast<uint32_t>(image.width));
    putBE32(ihdr, static_cast<uint32_t>(image.height));
    ihdr.insert(ihdr.end(), {static_cast<uint8_t>(sixteen ? 16 : 8), static_cast<uint8_t>(alpha ? 6 : 2), 0, 0, 0});
    chunk(out, "IHDR", ihdr);
    if (!image.iccProfile.empty()) {
        Bytes iccp = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
        uLongf length = compressBound(static_cast<uLong>(image.iccProfile.size()));
        Bytes packed(length);
        if (compress2(packed.data(), &length, image.iccProfile.data(), static_cast<uLong>(image.iccProfile.size()), 9) == Z_OK) {
            iccp.insert(iccp.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
            chunk(out, "iCCP", iccp);
        }
    } else {
        const uint8_t intent = 0;
        chunk(out, "sRGB", &intent, 1);
    }
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

    // Strips of whole rows, filtered and compressed in parallel.
    const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
    const size_t totalRaw = (rowBytes + 1) * static_cast<size_t>(image.height);
    const int stripCount = std::clamp(static_cast<int>(totalRaw / (1 << 20)), 1, std::min(image.height, threads * 4));
    std::vector<Strip> strips(static_cast<size_t>(stripCount));
    auto rowsOf = [&](int s) { return std::pair<int, int>(image.height * s / stripCount, image.height * (s + 1) / stripCount); };
    // A strip's scanlines from row y0 to y1, filtered into `into`.
    auto filterRows = [&](int y0, int y1, uint8_t* into) {
        Bytes current(rowBytes), previous(rowBytes), scratch;
        auto pack = [&](int y, Bytes& into) {
            if (sixteen) {
                const uint16_t* src = image.deep.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width) * 4;
                uint8_t* d = into.data();
                for (int x = 0; x < image.width; ++x, src += 4)
                    for (int c = 0; c < channels; ++c) *d++ = static_cast<uint8_t>(src[c] >> 8), *d++ = static_cast<uint8_t>(src[c]);
                return;
            }
            const uint8_t* src = image.row(y);
            if (alpha) {
                std::memcpy(into.data(), src, rowBytes);
            } else {
                uint8_t* d = into.data();
                for (int x = 0; x < image.width; ++x, src += 4, d += 3) d[0] = src[0], d[1] = src[1], d[2] = src[2];
            }
        };
        if (y0 > 0) pack(y0 - 1, previous);
        for (int y = y0; y < y1; ++y) {
            pack(y, current);
            filterRow(current.data(), y > 0 ? previous.data() : nullptr, rowBytes, bpp,
                      into + (rowBytes + 1) * static_cast<size_t>(y - y0), scratch);
            std::swap(current, previous);
        }
    };
    auto parallel = [&](auto body) {
        std::vector<std::thread> pool;
        const int n = std::min(threads, stripCount);
        for (int t = 0; t < n; ++t)
            pool.emplace_back([&, t] {
                for (int s = t; s < stripCount; s += n) body(s);
            });
        for (auto& th : pool) th.join();
    };
    // Each strip is filtered and compressed by one worker and its scanlines let go at once, so
    // that only the strips in hand are held besides the picture. The dictionary, the last 32 KB
    // of the strip before, is filtered again from that strip's last rows.
    parallel([&](int s) {
        auto [y0, y1] = rowsOf(s);
        Strip& strip = strips[static_cast<size_t>(s)];
        allocateLarge(strip.raw, (rowBytes + 1) * static_cast<size_t>(y1 - y0));
        filterRows(y0, y1, strip.raw.data());
        Bytes dictionary;
        if (s > 0) {
            const int before = rowsOf(s - 1).first;
            const int rows = static_cast<int>(std::min<size_t>(static_cast<size_t>(y0 - before), 32768 / (rowBytes + 1) + 1));
            dictionary.resize((rowBytes + 1) * static_cast<size_t>(rows));
            filterRows(y0 - rows, y0, dictionary.data());
        }
        const size_t dict = std::min<size_t>(32768, dictionary.size());
        compressStrip(strip, dictionary.data() + dictionary.size() - dict, dict, s == stripCount - 1);
    });
    // The zlib stream goes out in IDAT chunks of 1 MB as the strips are joined, without a
    // second copy of the whole of it.
    uLong adler = 1;
    for (const Strip& strip : strips) {
        if (!strip.ok) fail("Could not encode PNG");
        adler = adler32_combine(adler, strip.adler, static_cast<z_off_t>(strip.rawSize));
    }
    Bytes pending = {0x78, 0x9C};
    auto emit = [&](const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t take = std::min(size, (size_t(1) << 20) - pending.size());
            pending.insert(pending.end(), data, data + take);
            data += take;
            size -= take;
            if (pending.size() == size_t(1) << 20) {
                chunk(out, "IDAT", pending);
                pending.clear();
            }
        }
    };
    for (Strip& strip : strips) {
        emit(strip.compressed.get(), strip.compressedSize);
        strip.compressed.reset();
    }
    Bytes trailer;
    putBE32(trailer, static_cast<uint32_t>(adler));
    emit(trailer.data(), trailer.size());
    if (!pending.empty()) chunk(out, "IDAT", pending);
    chunk(out, "IEND", nullptr, 0);
    return out;
}

}  // namespace calvoro::imaging::detail
