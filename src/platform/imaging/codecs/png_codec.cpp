#include <png.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/conversion_error.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/png_writer.h"
#include "platform/imaging/image_ops.h"

namespace calvoro::imaging::detail {

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos;
    ReadPages pages;
};

void readCallback(png_structp png, png_bytep out, png_size_t count) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    r->pages.readUpTo(r->pos);
    if (r->size - r->pos < count) png_error(png, "Read past the end of the data");
    std::memcpy(out, r->data + r->pos, count);
    r->pos += count;
}

void errorCallback(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    if (text) *text = message;
    png_longjmp(png, 1);
}

void warningCallback(png_structp, png_const_charp) {}

void readHeaderMetadata(png_structp png, png_infop info, ImageMetadata& metadata) {
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    png_charp profileName = nullptr;
    int compression = 0;
    if (png_get_iCCP(png, info, &profileName, &compression, &profile, &profileLength) && profile)
        metadata.iccProfile.assign(profile, profile + profileLength);
    // Without a profile or an sRGB chunk, gAMA and cHRM say what the samples are: they travel
    // as a profile made from them, as the profile of a file that has one does.
    png_fixed_point gamma = 0;
    if (metadata.iccProfile.empty() && !png_get_valid(png, info, PNG_INFO_sRGB) && png_get_gAMA_fixed(png, info, &gamma) &&
        gamma > 0) {
        PngGamma chunks;
        chunks.gamma = static_cast<uint32_t>(gamma);
        png_fixed_point c[8] = {};
        if (png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) &&
            std::all_of(c, c + 8, [](png_fixed_point v) { return v >= 0; }) && c[1] > 0 && c[3] > 0 && c[5] > 0 && c[7] > 0) {
            chunks.chromaticities.emplace();
            for (int i = 0; i < 8; ++i) (*chunks.chromaticities)[static_cast<size_t>(i)] = static_cast<uint32_t>(c[i]);
        }
        metadata.iccProfile = profileFromPNGGamma(chunks);
        if (!metadata.iccProfile.empty()) metadata.pngGamma = chunks;
    }
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER && resX && resY) {
        metadata.dpiWidth = resX * 0.0254;
        metadata.dpiHeight = resY * 0.0254;
    }
}

// Exif and XMP, which may come before or after the image data.
void readTrailingMetadata(png_structp png, png_infop info, ImageMetadata& metadata) {
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) && exif && exifLength > 0) metadata.exif.assign(exif, exif + exifLength);
    png_textp texts = nullptr;
    int textCount = 0;
    if (png_get_text(png, info, &texts, &textCount) > 0)
        for (int i = 0; i < textCount; ++i)
            if (texts[i].key && std::strcmp(texts[i].key, "XML:com.adobe.xmp") == 0 && texts[i].text)
                metadata.xmp.assign(texts[i].text, texts[i].itxt_length ? texts[i].itxt_length : texts[i].text_length);
    if (!metadata.exif.empty()) metadata.orientation = exifOrientation(metadata.exif);
}

// A decoder over data in memory, freed on every way out unless already freed: the size checks
// and the pixel buffers throw past libpng.
struct ReadState {
    std::string message;  // libpng's last error
    png_structp png = nullptr;
    png_infop info = nullptr;
    Reader reader;

    ReadState(const uint8_t* data, size_t size, bool mappedFile = false) : reader{data, size, 0, ReadPages(data, mappedFile)} {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, errorCallback, warningCallback);
        if (!png) fail("Could not decode image data");
        info = png_create_info_struct(png);
    }
    ReadState(const ReadState&) = delete;
    ReadState& operator=(const ReadState&) = delete;
    ~ReadState() {
        if (png) png_destroy_read_struct(&png, &info, nullptr);
    }
};

// The bytes of compressed pixel data the file holds: its IDAT chunks, the last one as far as it
// goes. The pages of a file mapping are handed back as the walk passes them, as the decode does.
uint64_t storedPixelData(const Reader& reader) {
    const uint8_t* data = reader.data;
    const size_t size = reader.size;
    ReadPages pages = reader.pages;
    uint64_t total = 0;
    for (size_t pos = 8; size >= pos + 8; pages.readUpTo(pos)) {
        const uint32_t length = be32(data + pos);
        const uint8_t* type = data + pos + 4;
        const size_t available = size - pos - 8;
        if (std::memcmp(type, "IDAT", 4) == 0) total += std::min<uint64_t>(length, available);
        if (std::memcmp(type, "IEND", 4) == 0 || available < uint64_t(length) + 4) break;
        pos += 12 + size_t(length);
    }
    return total;
}

// Deflate gives at most 1032 bytes for each byte it reads (a copy of 258 bytes in two bits).
void checkStoredData(const Reader& reader, png_uint_32 w, png_uint_32 h, int depth, int colour, int interlace) {
    const int channels = colour == PNG_COLOR_TYPE_RGB ? 3 : colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                         : colour == PNG_COLOR_TYPE_GRAY_ALPHA                                  ? 2
                                                                                                : 1;
    // Every row but an interlaced picture's starts with its filter byte.
    const uint64_t least = uint64_t(w) * h * uint64_t(depth * channels) / 8 + (interlace == PNG_INTERLACE_NONE ? h : 0);
    checkDataHolds(least, (storedPixelData(reader) + 1) * 1032);
}

// Reads up to the pixels, fills the size and what the header says, and sets the decoder to
// give RGBA rows, 16-bit ones as they are, in native byte order; returns whether they are
// 16-bit. With eightBit, 16-bit samples are rounded to 8 bits as a whole 16-bit picture's are
// (libpng's scaling rounds v * 255 / 65535 to the nearest, the same for every v) and an
// opaque picture gives RGB rows. libpng's errors jump to the caller's setjmp.
bool readHeader(png_structp png, png_infop info, Reader& reader, ImageProperties& props, int& passes, bool eightBit = false) {
    png_set_read_fn(png, &reader, readCallback);
    png_set_user_limits(png, 1u << 30, 1u << 30);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    checkDimensions(w, h);
    checkStoredData(reader, w, h, depth, colour, interlace);
    props.bitsPerComponent = depth;
    props.hasAlpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // 16-bit samples are kept as they are, for the writers that hold them.
    const bool sixteen = depth == 16 && !eightBit;
    png_set_expand(png);
    if (sixteen) png_set_swap(png);
    else if (depth == 16) png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!eightBit || props.hasAlpha) png_set_add_alpha(png, sixteen ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    readHeaderMetadata(png, info, props.metadata);
    props.pixelWidth = static_cast<int>(w);
    props.pixelHeight = static_cast<int>(h);
    return sixteen;
}

}  // namespace

void decodePNG(const uint8_t* data, size_t size, DecodeResult& out) {
    ReadState state(data, size);
    std::string& message = state.message;
    png_structp& png = state.png;
    png_infop& info = state.info;
    Reader& reader = state.reader;
    RgbaImage image;
    int rowsDone = 0;
    volatile bool headerRead = false;
    // Volatile: these are read after a longjmp.
    volatile bool partial = false;
    volatile bool sixteen = false;
    if (setjmp(png_jmpbuf(png))) {
        // A stream cut short keeps the rows decoded so far, as other decoders do.
        if (!headerRead || image.empty()) {
            png_destroy_read_struct(&png, &info, nullptr);
            fail("Could not decode PNG data" + (message.empty() ? std::string() : ": " + message));
        }
        partial = true;
    }
    if (!partial) {
        int passes = 1;
        sixteen = readHeader(png, info, reader, out.props, passes);
        const auto h = static_cast<png_uint_32>(out.props.pixelHeight);
        image = RgbaImage(out.props.pixelWidth, out.props.pixelHeight);
        if (sixteen) allocateLarge(image.deep, image.pixels.size());
        headerRead = true;
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < static_cast<int>(h); ++y) {
                png_bytep row = sixteen ? reinterpret_cast<png_bytep>(image.deep.data() + image.pixels.size() / h * size_t(y))
                                        : image.row(y);
                png_read_row(png, row, nullptr);
                if (pass == passes - 1) rowsDone = y + 1;
            }
        png_read_end(png, info);
    }
    // Metadata chunks may come after the image data.
    readTrailingMetadata(png, info, out.props.metadata);
    png_destroy_read_struct(&png, &info, nullptr);
    (void)rowsDone;
    if (sixteen) image.pixelsFromDeep();
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

namespace {
// Text chunks start with their keyword; only the XMP one is metadata that a copy carries
// (comments and dates that writers put after the pixels are not).
bool isXmpText(const uint8_t* type, const uint8_t* body, size_t length) {
    static const char key[] = "XML:com.adobe.xmp";
    if (std::memcmp(type, "tEXt", 4) != 0 && std::memcmp(type, "zTXt", 4) != 0 && std::memcmp(type, "iTXt", 4) != 0) return false;
    return length >= sizeof key - 1 && std::memcmp(body, key, sizeof key - 1) == 0;
}
}  // namespace

bool pngStreamable(const uint8_t* data, size_t size, bool mappedFile) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0 || std::memcmp(data + 12, "IHDR", 4) != 0) return false;
    if (data[28] != 0) return false;  // interlaced
    bool pixelsSeen = false;
    ReadPages pages(data, mappedFile);
    for (size_t pos = 8; size - pos >= 12; pages.readUpTo(pos)) {
        const uint32_t length = be32(data + pos);
        const uint8_t* type = data + pos + 4;
        if (length > size - pos - 12) return false;
        const size_t next = pos + 12 + length;
        // As the truncation check reads the ending: an empty IEND closes the file.
        if (std::memcmp(type, "IEND", 4) == 0) return length == 0 && next == size;
        if (std::memcmp(type, "IDAT", 4) == 0) pixelsSeen = true;
        else if (pixelsSeen && (std::memcmp(type, "eXIf", 4) == 0 || isXmpText(type, data + pos + 8, length)))
            return false;
        pos = next;
    }
    return false;
}

void decodePNGRows(const uint8_t* data, size_t size, ImageProperties& props, const std::function<bool()>& started,
                   const std::function<uint8_t*(int)>& rowAt, const std::function<void(int)>& rowDone, bool mappedFile) {
    ReadState state(data, size, mappedFile);
    std::string& message = state.message;
    png_structp& png = state.png;
    png_infop& info = state.info;
    Reader& reader = state.reader;
    if (setjmp(png_jmpbuf(png))) fail("Could not decode PNG data" + (message.empty() ? std::string() : ": " + message));
    int passes = 1;
    readHeader(png, info, reader, props, passes, true);
    if (passes != 1) fail("Could not decode PNG data: interlaced");
    // The file holds no metadata after its pixels: what follows the header is all there is.
    readTrailingMetadata(png, info, props.metadata);
    if (!started()) return;
    for (int y = 0; y < props.pixelHeight; ++y) {
        uint8_t* row = rowAt(y);
        if (!row) return;
        png_read_row(png, row, nullptr);
        rowDone(y);
    }
    png_read_end(png, info);
    readTrailingMetadata(png, info, props.metadata);
}

bool decodePNGReduced(const uint8_t* data, size_t size, DecodeResult& out, int edge) {
    if (!pngStreamable(data, size)) return false;
    RgbaImage image;
    std::vector<uint8_t> row;
    int step = 1;
    bool rgb = false;
    try {
        decodePNGRows(
            data, size, out.props,
            [&] {
                const int longest = std::max(out.props.pixelWidth, out.props.pixelHeight);
                step = std::max(1, (longest + edge - 1) / std::max(1, edge));
                image = RgbaImage((out.props.pixelWidth + step - 1) / step, (out.props.pixelHeight + step - 1) / step);
                row.resize(static_cast<size_t>(out.props.pixelWidth) * 4);
                rgb = !out.props.hasAlpha;
                return true;
            },
            [&](int) { return row.data(); },
            [&](int y) {
                if (y % step != 0) return;
                const size_t bpp = rgb ? 3 : 4;
                uint8_t* d = image.row(y / step);
                for (int x = 0; x < image.width; ++x, d += 4) {
                    const uint8_t* p = row.data() + static_cast<size_t>(x) * step * bpp;
                    d[0] = p[0], d[1] = p[1], d[2] = p[2], d[3] = rgb ? 255 : p[3];
                }
            });
    } catch (const ConversionError&) {
        return false;
    }
    out.frames.push_back({std::move(image), 0});
    return true;
}

Bytes encodePNG(const RgbaImage& image, const EncodeOptions& options) { return writePNGFile(image, options); }

}  // namespace calvoro::imaging::detail
