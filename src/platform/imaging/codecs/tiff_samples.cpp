#include "platform/imaging/codecs/tiff_samples.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

struct Layout {
    int bits = 0;
    bool floating = false;
    int samples = 0;        // a pixel's, extra samples included
    bool separate = false;  // one plane a sample rather than samples side by side
    int colours = 0;        // 1 grey, 3 RGB, 4 CMYK
    bool minIsWhite = false;
    bool alpha = false;
    bool premultiplied = false;
};

float halfToFloat(uint16_t h) {
    const int exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    float v = exponent == 0    ? std::ldexp(static_cast<float>(mantissa), -24)
              : exponent == 31 ? (mantissa ? NAN : INFINITY)
                               : std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
    return h & 0x8000 ? -v : v;
}

template <typename T>
T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Sample index of a row as libtiff hands rows over (whole bytes in host order, other depths
// packed from the high bit), scaled to 16 bits.
uint16_t sampleAt(const uint8_t* row, size_t index, const Layout& l) {
    if (l.floating) {
        const double v = l.bits == 16   ? halfToFloat(load<uint16_t>(row + index * 2))
                         : l.bits == 32 ? load<float>(row + index * 4)
                                        : load<double>(row + index * 8);
        if (!(v > 0)) return 0;  // NaN too
        return v >= 1 ? 0xFFFF : static_cast<uint16_t>(v * 65535 + 0.5);
    }
    uint64_t v = 0;
    if (l.bits == 16) {
        v = load<uint16_t>(row + index * 2);
    } else if (l.bits == 32) {
        v = load<uint32_t>(row + index * 4);
    } else if (l.bits == 24) {
        const uint8_t* p = row + index * 3;
        v = std::endian::native == std::endian::little ? (p[0] | p[1] << 8 | p[2] << 16) : (p[0] << 16 | p[1] << 8 | p[2]);
    } else {
        for (size_t bit = index * static_cast<size_t>(l.bits), end = bit + static_cast<size_t>(l.bits); bit < end; ++bit)
            v = v << 1 | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
    }
    const uint64_t most = (uint64_t(1) << l.bits) - 1;
    return static_cast<uint16_t>((v * 0xFFFF + most / 2) / most);
}

// count pixels into d (RGBA, 16 bits) from the rows of each plane (one row when contiguous),
// each sample read by sampleAt(row, index).
template <typename Sampler>
void putPixels(const Layout& l, const uint8_t* const* rows, int count, uint16_t* d, Sampler sampleAt) {
    uint16_t s[5] = {};
    const int wanted = l.colours + (l.alpha ? 1 : 0);
    // Sample c of pixel x is at index x * step + c * apart of row[c].
    const uint8_t* row[5];
    for (int c = 0; c < wanted; ++c) row[c] = rows[l.separate ? c : 0];
    const size_t step = l.separate ? 1 : static_cast<size_t>(l.samples), apart = l.separate ? 0 : 1;
    for (size_t x = 0, at = 0; x < static_cast<size_t>(count); ++x, at += step, d += 4) {
        for (int c = 0; c < wanted; ++c) s[c] = sampleAt(row[c], at + static_cast<size_t>(c) * apart);
        const uint32_t a = l.alpha ? s[l.colours] : 0xFFFF;
        for (int c = 0; c < 3; ++c) {
            uint32_t v = 0;
            if (l.colours == 4) {
                v = ((0xFFFFu - s[c]) * (0xFFFFu - s[3]) + 0x7FFF) / 0xFFFF;
            } else {
                v = s[l.colours == 3 ? c : 0];
                if (l.minIsWhite) v = 0xFFFF - v;
            }
            if (l.premultiplied && a > 0 && a < 0xFFFF) v = std::min<uint32_t>(0xFFFF, (v * 0xFFFF + a / 2) / a);
            d[c] = static_cast<uint16_t>(v);
        }
        d[3] = static_cast<uint16_t>(a);
    }
}

// Reads the pieces (strips or tiles) of one band of the picture for each plane used, the rest
// of a piece that decodes short left zero.
class PieceBuffers {
public:
    PieceBuffers(int planes, tmsize_t size) : buffers_(static_cast<size_t>(planes), std::vector<uint8_t>(static_cast<size_t>(size))) {}
    void read(TIFF* tif, bool tiled, uint32_t x, uint32_t y) {
        for (size_t p = 0; p < buffers_.size(); ++p) {
            auto& b = buffers_[p];
            const auto plane = static_cast<uint16_t>(p);
            const tmsize_t got =
                tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, plane), b.data(), static_cast<tmsize_t>(b.size()))
                      : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, plane), b.data(), static_cast<tmsize_t>(b.size()));
            if (got < 0) fail("Could not decode TIFF data");
            std::fill(b.begin() + std::min<ptrdiff_t>(got, static_cast<ptrdiff_t>(b.size())), b.end(), 0);
        }
    }
    // Row r of the piece, in each plane.
    const uint8_t* const* rows(size_t r, size_t rowBytes) {
        rows_.resize(buffers_.size());
        for (size_t p = 0; p < buffers_.size(); ++p) rows_[p] = buffers_[p].data() + r * rowBytes;
        return rows_.data();
    }

private:
    std::vector<std::vector<uint8_t>> buffers_;
    std::vector<const uint8_t*> rows_;
};

}  // namespace

bool readWideSamples(TIFF* tif, RgbaImage& image, uint16_t photometric, uint16_t alphaKind) {
    uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, inks = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
    Layout l;
    l.bits = bits;
    l.samples = samples;
    l.floating = format == SAMPLEFORMAT_IEEEFP;
    l.colours = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ? 1
                : photometric == PHOTOMETRIC_RGB                                                 ? 3
                : photometric == PHOTOMETRIC_SEPARATED && inks == INKSET_CMYK                    ? 4
                                                                                                 : 0;
    l.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    const bool integer = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID;
    // Eight bits and fewer (8-bit CMYK included) are the RGBA reader's; 16-bit CMYK is not.
    const bool wide = integer ? bits > 8 && bits <= 32 : l.floating && (bits == 16 || bits == 32 || bits == 64);
    if (l.colours == 0 || samples < l.colours || !wide) return false;
    l.alpha = samples > l.colours;
    l.premultiplied = l.alpha && alphaKind == EXTRASAMPLE_ASSOCALPHA;
    l.separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
    const int planes = l.separate ? l.colours + (l.alpha ? 1 : 0) : 1;
    const size_t perRow = static_cast<size_t>(l.separate ? 1 : samples) * bits;  // bits a pixel in a plane's row
    const auto w = static_cast<uint32_t>(image.width), h = static_cast<uint32_t>(image.height);
    const bool tiled = TIFFIsTiled(tif);
    uint32_t pieceWidth = w, pieceHeight = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &pieceWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &pieceHeight);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &pieceHeight);
    }
    pieceHeight = std::min(pieceHeight, h);
    const tmsize_t rowBytes = tiled ? TIFFTileRowSize(tif) : TIFFScanlineSize(tif);
    const tmsize_t pieceBytes = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (pieceWidth == 0 || pieceHeight == 0 || rowBytes <= 0 || pieceBytes < rowBytes * static_cast<tmsize_t>(pieceHeight) ||
        static_cast<uint64_t>(rowBytes) * 8 < uint64_t(pieceWidth) * perRow)
        fail("Could not decode TIFF data");
    PieceBuffers pieces(planes, pieceBytes);
    allocateLarge(image.deep, image.pixels.size());
    const auto readAll = [&](auto sampler) {
        for (uint32_t y = 0; y < h; y += pieceHeight)
            for (uint32_t x = 0; x < w; x += pieceWidth) {
                pieces.read(tif, tiled, x, y);
                const int count = static_cast<int>(std::min(pieceWidth, w - x));
                for (uint32_t r = 0; r < std::min(pieceHeight, h - y); ++r)
                    putPixels(l, pieces.rows(r, static_cast<size_t>(rowBytes)), count,
                              image.deep.data() + (static_cast<size_t>(y + r) * w + x) * 4, sampler);
            }
    };
    // 16-bit integers, the common case, need no scaling.
    if (!l.floating && bits == 16) readAll([](const uint8_t* row, size_t i) { return load<uint16_t>(row + i * 2); });
    else readAll([&l](const uint8_t* row, size_t i) { return sampleAt(row, i, l); });
    image.pixelsFromDeep();
    return true;
}

std::string tiffVariantName(TIFF* tif, uint16_t photometric) {
    uint16_t bits = 0, format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    std::string name = std::to_string(bits) + "-bit ";
    if (format == SAMPLEFORMAT_IEEEFP) name += "floating-point ";
    else if (format == SAMPLEFORMAT_INT) name += "signed ";
    else if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP) name += "complex ";
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK: name += "greyscale"; break;
        case PHOTOMETRIC_RGB: name += "RGB"; break;
        case PHOTOMETRIC_PALETTE: name += "colour-mapped"; break;
        case PHOTOMETRIC_MASK: name += "mask"; break;
        case PHOTOMETRIC_SEPARATED: name += "separated (CMYK)"; break;
        case PHOTOMETRIC_YCBCR: name += "YCbCr"; break;
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: name += "Lab"; break;
        case PHOTOMETRIC_LOGL: name += "LogL"; break;
        case PHOTOMETRIC_LOGLUV: name += "LogLuv"; break;
        case PHOTOMETRIC_CFA: name += "colour filter array"; break;
        default: name += "colour kind " + std::to_string(photometric); break;
    }
    return name + " TIFF";
}

}  // namespace calvoro::imaging::detail
