#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/tiff_samples.h"

namespace calvoro::imaging::detail {

namespace {

// libtiff reads and writes through these callbacks on a memory buffer.
struct MemoryFile {
    Bytes bytes;
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    bool writable = false;
};

tsize_t readProc(thandle_t h, tdata_t buf, tsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t size = f->writable ? f->bytes.size() : f->size;
    const uint8_t* data = f->writable ? f->bytes.data() : f->data;
    if (f->pos >= size) return 0;
    size_t count = std::min(static_cast<size_t>(n), size - f->pos);
    std::memcpy(buf, data + f->pos, count);
    f->pos += count;
    return static_cast<tsize_t>(count);
}

tsize_t writeProc(thandle_t h, tdata_t buf, tsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (!f->writable) return 0;
    if (f->pos + static_cast<size_t>(n) > f->bytes.size()) f->bytes.resize(f->pos + static_cast<size_t>(n));
    std::memcpy(f->bytes.data() + f->pos, buf, static_cast<size_t>(n));
    f->pos += static_cast<size_t>(n);
    return n;
}

toff_t seekProc(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t size = f->writable ? f->bytes.size() : f->size;
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(f->pos) : static_cast<int64_t>(size);
    int64_t target = base + static_cast<int64_t>(off);
    if (target < 0) return static_cast<toff_t>(-1);
    f->pos = static_cast<size_t>(target);
    return static_cast<toff_t>(target);
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) {
    auto* f = static_cast<MemoryFile*>(h);
    return f->writable ? f->bytes.size() : f->size;
}
int mapProc(thandle_t, tdata_t*, toff_t*) { return 0; }
void unmapProc(thandle_t, tdata_t, toff_t) {}

void silentHandler(const char*, const char*, va_list) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

void quietLibTiff() {
    TIFFSetErrorHandler(silentHandler);
    TIFFSetWarningHandler(silentHandler);
}

struct RGBAImageEnder {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

// Any other layout through libtiff's RGBA reader, at 8 bits, in stored order. A layout it does
// not take is refused as such, named; only a missing tag or data that does not decode is damage.
void readRGBA(TIFF* tif, RgbaImage& image, uint16_t photometric, uint16_t orientation, uint16_t alphaKind, uint16_t samplesWithExtra) {
    char why[1024] = {0};
    if (!TIFFRGBAImageOK(tif, why)) {
        if (std::strncmp(why, "Missing", 7) == 0) fail("Could not decode TIFF data");
        refuseVariant(tiffVariantName(tif, photometric));
    }
    TIFFRGBAImage reader{};
    if (!TIFFRGBAImageBegin(&reader, tif, 0, why)) refuseVariant(tiffVariantName(tif, photometric));
    const std::unique_ptr<TIFFRGBAImage, RGBAImageEnder> end(&reader);
    // Asking for the file's own orientation keeps the pixels in stored order; the
    // orientation is applied (or kept) by the caller like any other format's.
    reader.req_orientation = orientation;
    if (reader.width != static_cast<uint32_t>(image.width) || reader.height != static_cast<uint32_t>(image.height) ||
        !TIFFRGBAImageGet(&reader, reinterpret_cast<uint32_t*>(image.pixels.data()), reader.width, reader.height))
        fail("Could not decode TIFF data");
    // The RGBA interface hands back premultiplied samples whenever it sees alpha: as stored for
    // associated alpha (and unspecified extra samples of RGBA), multiplied out for unassociated.
    const bool premultiplied = samplesWithExtra > 0 && (alphaKind == EXTRASAMPLE_ASSOCALPHA || alphaKind == EXTRASAMPLE_UNASSALPHA ||
                                                        (alphaKind == EXTRASAMPLE_UNSPECIFIED && samplesWithExtra > 3));
    if (!premultiplied) return;
    for (size_t i = 0; i < image.pixels.size(); i += 4) {
        unsigned a = image.pixels[i + 3];
        if (a == 0 || a == 255) continue;
        for (int c = 0; c < 3; ++c) image.pixels[i + c] = static_cast<uint8_t>(std::min(255u, (image.pixels[i + c] * 255u + a / 2) / a));
    }
}

// The most bytes a compression gives for each byte it reads (an LZW code of nine bits or more
// stands for at most 4096); none where no bound is known.
uint64_t mostInflation(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return 1032;
        case COMPRESSION_LZW: return 4096;
        default: return 0;
    }
}

// Strips or tiles too short for the declared size fail before the picture is allocated.
// Subsampled YCbCr stores fewer samples than pixels and is not judged.
void checkStoredSamples(TIFF* tif, uint32_t w, uint32_t h, size_t fileSize) {
    uint16_t compression = COMPRESSION_NONE, samples = 1, bits = 1, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const uint64_t inflation = photometric == PHOTOMETRIC_YCBCR ? 0 : mostInflation(compression);
    uint64_t* counts = nullptr;
    const bool tiled = TIFFIsTiled(tif);
    if (!inflation || !TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts) return;
    const uint32_t pieces = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t stored = 0;
    for (uint32_t i = 0; i < pieces && stored < fileSize; ++i) stored += std::min<uint64_t>(counts[i], fileSize);
    stored = std::min<uint64_t>(stored, fileSize);
    checkDataHolds((uint64_t(w) * samples * bits + 7) / 8 * h, stored * inflation);
}

}  // namespace

void decodeTIFF(const uint8_t* data, size_t size, DecodeResult& out) {
    quietLibTiff();
    MemoryFile file;
    file.data = data;
    file.size = size;
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpen("memory", "rm", &file, readProc, writeProc, seekProc, closeProc,
                                                         sizeProc, mapProc, unmapProc));
    if (!tif) fail("Could not decode TIFF data");
    uint32_t w = 0, h = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    checkDimensions(w, h);
    checkStoredSamples(tif.get(), w, h, size);
    uint16_t orientation = ORIENTATION_TOPLEFT, bits = 8, extra = 0, photometric = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
    auto& md = out.props.metadata;
    uint32_t iccLength = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && photometric != PHOTOMETRIC_SEPARATED)
        md.iccProfile.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + iccLength);
    uint32_t xmpLength = 0;
    void* xmp = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_XMLPACKET, &xmpLength, &xmp) && xmp)
        md.xmp.assign(static_cast<char*>(xmp), xmpLength);
    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres) && xres > 0 &&
        yres > 0 && unit != RESUNIT_NONE) {
        double f = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        md.dpiWidth = xres * f;
        md.dpiHeight = yres * f;
    }
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint16_t kind = extra > 0 && extraTypes ? extraTypes[0] : EXTRASAMPLE_UNSPECIFIED;
    RgbaImage image(static_cast<int>(w), static_cast<int>(h));
    if (!readWideSamples(tif.get(), image, photometric, kind)) readRGBA(tif.get(), image, photometric, orientation, kind, extra > 0 ? samples : 0);
    md.orientation = orientation;
    out.props.hasAlpha = extra > 0;
    out.props.bitsPerComponent = bits;
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.props.frameCount = std::max<int>(1, TIFFNumberOfDirectories(tif.get()));
    tif.reset();
    readMetadata(data, size, md);
    out.frames.push_back({std::move(image), 0});
}

Bytes encodeTIFF(const RgbaImage& image, const EncodeOptions& options) {
    quietLibTiff();
    MemoryFile file;
    file.writable = true;
    {
        std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpen("memory", "w", &file, readProc, writeProc, seekProc, closeProc,
                                                             sizeProc, mapProc, unmapProc));
        if (!tif) fail("Could not encode TIFF");
        const bool alpha = image.hasTransparency();
        const int channels = alpha ? 4 : 3;
        // A picture that came with 16-bit samples keeps them.
        const bool sixteen = image.hasDeep();
        const int sampleBytes = sixteen ? 2 : 1;
        TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
        TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
        TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, channels);
        TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, sixteen ? 16 : 8);
        TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif.get(), TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        if (alpha) {
            uint16_t type = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif.get(), TIFFTAG_EXTRASAMPLES, 1, &type);
        }
        const auto& md = options.metadata;
        TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, static_cast<uint16_t>(md.orientation >= 1 && md.orientation <= 8 ? md.orientation : 1));
        if (md.dpiWidth && md.dpiHeight && *md.dpiWidth > 0 && *md.dpiHeight > 0) {
            TIFFSetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
            TIFFSetField(tif.get(), TIFFTAG_XRESOLUTION, static_cast<float>(*md.dpiWidth));
            TIFFSetField(tif.get(), TIFFTAG_YRESOLUTION, static_cast<float>(*md.dpiHeight));
        }
        if (!image.iccProfile.empty())
            TIFFSetField(tif.get(), TIFFTAG_ICCPROFILE, static_cast<uint32_t>(image.iccProfile.size()), image.iccProfile.data());
        const uint32_t rowsPerStrip =
            std::max<uint32_t>(1, static_cast<uint32_t>(65536 / (image.width * channels * sampleBytes + 1)));
        TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        std::vector<uint8_t> row(static_cast<size_t>(image.width) * channels);
        std::vector<uint16_t> deepRow(sixteen ? row.size() : 0);
        for (int y = 0; y < image.height; ++y) {
            if (sixteen) {
                const uint16_t* s = image.deep.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width) * 4;
                uint16_t* d = deepRow.data();
                for (int x = 0; x < image.width; ++x, s += 4)
                    for (int c = 0; c < channels; ++c) *d++ = s[c];
                if (TIFFWriteScanline(tif.get(), deepRow.data(), static_cast<uint32_t>(y), 0) < 0) fail("Could not encode TIFF");
                continue;
            }
            const uint8_t* s = image.row(y);
            if (alpha) {
                std::memcpy(row.data(), s, row.size());
            } else {
                uint8_t* d = row.data();
                for (int x = 0; x < image.width; ++x, s += 4, d += 3) {
                    d[0] = s[0];
                    d[1] = s[1];
                    d[2] = s[2];
                }
            }
            if (TIFFWriteScanline(tif.get(), row.data(), static_cast<uint32_t>(y), 0) < 0) fail("Could not encode TIFF");
        }
        if (!TIFFWriteDirectory(tif.get())) fail("Could not encode TIFF");
    }
    const auto& md = options.metadata;
    Bytes exif = md.exif.empty() ? Bytes() : preparedExif(md.exif, options.excludeGPS, md.orientation);
    return injectMetadata(file.bytes, exif, options.excludeXMP ? std::string() : md.xmp, md.iptc);
}

}  // namespace calvoro::imaging::detail
