#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
#include <setjmp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/image_ops.h"

namespace calvoro::imaging::detail {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void silentMessage(j_common_ptr) {}

// Compressed data goes to a fixed buffer that is handed to the sink when full, instead of a
// buffer that the library doubles and copies as it grows.
struct Destination {
    jpeg_destination_mgr base;
    const ByteSink* sink;
    Bytes buffer;
    std::exception_ptr failure;  // a sink's exception, carried over the library's frames
};

void initDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<Destination*>(cinfo->dest);
    d->base.next_output_byte = d->buffer.data();
    d->base.free_in_buffer = d->buffer.size();
}

void deliver(j_compress_ptr cinfo, size_t size) {
    auto* d = reinterpret_cast<Destination*>(cinfo->dest);
    try {
        (*d->sink)(d->buffer.data(), size);
        return;
    } catch (...) {
        d->failure = std::current_exception();
    }
    ERREXIT(cinfo, JERR_FILE_WRITE);
}

boolean emptyOutput(j_compress_ptr cinfo) {
    deliver(cinfo, reinterpret_cast<Destination*>(cinfo->dest)->buffer.size());
    initDestination(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<Destination*>(cinfo->dest);
    deliver(cinfo, static_cast<size_t>(d->base.next_output_byte - d->buffer.data()));
}

// The library's state, released on every way out, the error jump included (destroying one
// never created is safe).
struct JpegReader {
    jpeg_decompress_struct cinfo{};
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};
struct JpegWriter {
    jpeg_compress_struct cinfo{};
    ~JpegWriter() { jpeg_destroy_compress(&cinfo); }
};

// Compressed data read from memory a window at a time; with a file mapping, the windows
// already read are handed back to the system (they are read again from the file if touched).
struct WindowSource {
    jpeg_source_mgr base;
    const uint8_t* data;
    size_t size;
    size_t offset = 0;
    ReadPages pages;
};

constexpr size_t sourceWindow = size_t(1) << 20;

void initSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    static const JOCTET endOfImage[2] = {0xFF, JPEG_EOI};
    auto* s = reinterpret_cast<WindowSource*>(cinfo->src);
    if (s->offset >= s->size) {
        // As the library's memory source does: a file cut short ends as if complete.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        s->base.next_input_byte = endOfImage;
        s->base.bytes_in_buffer = 2;
        return TRUE;
    }
    s->pages.readUpTo(s->offset);
    const size_t n = std::min(sourceWindow, s->size - s->offset);
    s->base.next_input_byte = s->data + s->offset;
    s->base.bytes_in_buffer = n;
    s->offset += n;
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
    auto* s = reinterpret_cast<WindowSource*>(cinfo->src);
    if (count <= 0) return;
    auto left = static_cast<size_t>(count);
    while (left > s->base.bytes_in_buffer) {
        left -= s->base.bytes_in_buffer;
        fillInput(cinfo);
    }
    s->base.next_input_byte += left;
    s->base.bytes_in_buffer -= left;
}

void termSource(j_decompress_ptr) {}

const char exifSignature[] = "Exif\0\0";
const char xmpSignature[] = "http://ns.adobe.com/xap/1.0/";

}  // namespace

int jpegScaleNumerator(int width, int height, int reduceToEdge) {
    const int longest = std::max(width, height);
    if (reduceToEdge <= 0 || longest <= 0 || reduceToEdge >= longest) return 8;
    // Integer form of ceil(8 * edge / longest).
    const int64_t m = (int64_t{8} * reduceToEdge + longest - 1) / longest;
    return static_cast<int>(std::clamp<int64_t>(m, 1, 8));
}

namespace {

// What the decode does with its rows: started is asked once the properties are known (at the
// size decoded, which a reduction makes smaller than the stored one), before the first row;
// false stops the decode quietly. Each row then goes into the width * 4 bytes rowAt(y) gives
// (nullptr stops quietly) and rowDone(y) is told.
struct RowTarget {
    int reduceToEdge = 0;
    // A gray profile (scans) is converted to sRGB row by row and dropped from the properties,
    // rather than left to the whole picture.
    bool convertGray = false;
    std::function<bool(int width, int height)> started;
    std::function<uint8_t*(int)> rowAt;
    std::function<void(int)> rowDone;
};

// The metadata the header's markers carry. libjpeg may jump out of here to the decoder's
// setjmp, so nothing here needs destroying.
void readJpegMetadata(jpeg_decompress_struct& cinfo, ImageMetadata& md) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 13 && md.iptc.empty()) md.iptc = iptcFromPhotoshopSegment(m->data, m->data_length);
        if (m->marker != JPEG_APP0 + 1) continue;
        if (m->data_length > 6 && std::memcmp(m->data, exifSignature, 6) == 0 && md.exif.empty())
            md.exif.assign(m->data + 6, m->data + m->data_length);
        else if (m->data_length > sizeof(xmpSignature) && std::memcmp(m->data, xmpSignature, sizeof(xmpSignature)) == 0 &&
                 md.xmp.empty())
            md.xmp.assign(reinterpret_cast<const char*>(m->data) + sizeof(xmpSignature), m->data_length - sizeof(xmpSignature));
    }
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&cinfo, &icc, &iccLength) && icc) {
        md.iccProfile.assign(icc, icc + iccLength);
        std::free(icc);
    }
    if (cinfo.saw_JFIF_marker && cinfo.X_density > 0 && cinfo.Y_density > 0) {
        if (cinfo.density_unit == 1) {
            md.dpiWidth = cinfo.X_density;
            md.dpiHeight = cinfo.Y_density;
        } else if (cinfo.density_unit == 2) {
            md.dpiWidth = cinfo.X_density * 2.54;
            md.dpiHeight = cinfo.Y_density * 2.54;
        }
    }
    if (!md.exif.empty()) md.orientation = exifOrientation(md.exif);
}

// Decodes the rows into the target's rows; false when the target wants no more. As above,
// libjpeg may jump out of here.
bool readScanlines(jpeg_decompress_struct& cinfo, const RowTarget& target, bool cmyk, std::vector<uint8_t>& cmykRow,
                   std::optional<GrayToSRGB>& gray) {
    const int width = static_cast<int>(cinfo.output_width);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        uint8_t* out = target.rowAt(y);
        if (!out) return false;
        JSAMPROW row = cmyk ? cmykRow.data() : out;
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (cmyk) {
            // Adobe writes CMYK inverted.
            uint8_t* d = out;
            const uint8_t* s = cmykRow.data();
            for (int x = 0; x < width; ++x, s += 4, d += 4) {
                d[0] = static_cast<uint8_t>(s[0] * s[3] / 255);
                d[1] = static_cast<uint8_t>(s[1] * s[3] / 255);
                d[2] = static_cast<uint8_t>(s[2] * s[3] / 255);
                d[3] = 255;
            }
        }
        if (gray) gray->apply(out, static_cast<size_t>(width));
        target.rowDone(y);
    }
    return true;
}

// Huffman coding spends at least one bit on every block of every component (its DC difference);
// arithmetic coding may spend less and is not judged.
void checkCodedData(const jpeg_decompress_struct& cinfo, size_t size) {
    if (cinfo.arith_code) return;
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += uint64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
    checkDataHolds(blocks, uint64_t(size) * 8);
}

void decodeJPEGInto(const uint8_t* data, size_t size, ImageProperties& props, const RowTarget& target, bool mappedFile) {
    JpegReader reader;
    jpeg_decompress_struct& cinfo = reader.cinfo;
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.output_message = silentMessage;
    std::vector<uint8_t> cmykRow;
    std::optional<GrayToSRGB> gray;
    if (setjmp(err.jump)) fail(std::string("Could not decode JPEG data: ") + err.message);
    jpeg_create_decompress(&cinfo);
    WindowSource source{{}, data, size, 0, ReadPages(data, mappedFile)};
    source.base.init_source = initSource;
    source.base.fill_input_buffer = fillInput;
    source.base.skip_input_data = skipInput;
    source.base.resync_to_restart = jpeg_resync_to_restart;
    source.base.term_source = termSource;
    cinfo.src = &source.base;
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 13, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    checkDimensions(cinfo.image_width, cinfo.image_height);
    checkCodedData(cinfo, size);

    auto& md = props.metadata;
    readJpegMetadata(cinfo, md);
    props.pixelWidth = static_cast<int>(cinfo.image_width);
    props.pixelHeight = static_cast<int>(cinfo.image_height);
    props.hasAlpha = false;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // Colour management of CMYK is left out: its profile would not describe RGB pixels.
    if (cmyk) md.iccProfile.clear();
    if (target.convertGray && !md.iccProfile.empty() && !describesRGB(md.iccProfile)) {
        gray.emplace(md.iccProfile);
        md.iccProfile.clear();
    }
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    // Shrink-on-load: the inverse DCT at a reduced size costs a fraction of a full decode.
    cinfo.scale_num = static_cast<unsigned>(jpegScaleNumerator(props.pixelWidth, props.pixelHeight, target.reduceToEdge));
    cinfo.scale_denom = 8;
    jpeg_calc_output_dimensions(&cinfo);
    const int width = static_cast<int>(cinfo.output_width);
    if (!target.started(width, static_cast<int>(cinfo.output_height))) return;
    jpeg_start_decompress(&cinfo);
    if (cmyk) cmykRow.resize(static_cast<size_t>(width) * 4);
    if (readScanlines(cinfo, target, cmyk, cmykRow, gray)) jpeg_finish_decompress(&cinfo);
}

}  // namespace

void decodeJPEG(const uint8_t* data, size_t size, DecodeResult& out, int reduceToEdge, const RowStream* stream, bool mappedFile) {
    RgbaImage whole;
    RgbaImage& image = stream ? stream->image : whole;
    RowTarget target;
    target.rowAt = [&](int y) { return image.row(y); };
    if (stream) {
        // At full size, the readers have the picture and the properties before the first row.
        target.convertGray = true;
        target.started = [&](int width, int height) {
            image = RgbaImage(width, height);
            image.iccProfile = out.props.metadata.iccProfile;
            stream->started(out.props);
            return true;
        };
        // Readers are woken a band of rows at a time.
        target.rowDone = [&](int y) {
            if ((y + 1) % 16 == 0) stream->progress.advance(y + 1);
        };
    } else {
        target.reduceToEdge = reduceToEdge;
        target.started = [&](int width, int height) {
            image = RgbaImage(width, height);
            return true;
        };
        target.rowDone = [](int) {};
    }
    decodeJPEGInto(data, size, out.props, target, mappedFile);
    if (stream) stream->progress.advance(image.height);
    else out.frames.push_back({std::move(whole), 0});
}

void decodeJPEGRows(const uint8_t* data, size_t size, ImageProperties& props, const std::function<bool()>& started,
                    const std::function<uint8_t*(int)>& rowAt, const std::function<void(int)>& rowDone, bool mappedFile) {
    RowTarget target;
    target.convertGray = true;
    target.started = [&](int, int) { return started(); };
    target.rowAt = rowAt;
    target.rowDone = rowDone;
    decodeJPEGInto(data, size, props, target, mappedFile);
}

void encodeJPEG(const RgbaImage& image, const EncodeOptions& options, const ByteSink& sink, const RowProgress* progress) {
    int available = progress ? 0 : image.height;
    encodeJPEG(image.width, image.height, image.iccProfile, options, sink, [&](int y) -> const uint8_t* {
        if (y >= available && (available = progress->waitFor(y + 1)) < 0) return nullptr;
        return image.row(y);
    });
}

void encodeJPEG(int width, int height, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options,
                const ByteSink& sink, const std::function<const uint8_t*(int)>& rowAt, bool rgb) {
    JpegWriter writer;
    jpeg_compress_struct& cinfo = writer.cinfo;
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.output_message = silentMessage;
    Destination destination{{}, &sink, Bytes(1 << 18), nullptr};
    destination.base.init_destination = initDestination;
    destination.base.empty_output_buffer = emptyOutput;
    destination.base.term_destination = termDestination;
    std::vector<uint8_t> flattened(static_cast<size_t>(width) * 4);
    if (setjmp(err.jump)) {
        if (destination.failure) std::rethrow_exception(destination.failure);
        fail(std::string("Could not encode JPEG: ") + err.message);
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &destination.base;
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    // The RGBA rows go to the encoder as they are (the fourth byte is skipped).
    // (RGB rows give the same bytes: the colour conversion is the same for both layouts.)
    cinfo.input_components = rgb ? 3 : 4;
    cinfo.in_color_space = rgb ? JCS_RGB : JCS_EXT_RGBX;
    jpeg_set_defaults(&cinfo);
    int q = static_cast<int>(std::lround(std::clamp(options.quality, 0.0, 1.0) * 100.0));
    jpeg_set_quality(&cinfo, std::max(1, q), TRUE);
    const auto& md = options.metadata;
    if (md.dpiWidth && md.dpiHeight && *md.dpiWidth > 0 && *md.dpiHeight > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = static_cast<UINT16>(std::min(65535.0, std::round(*md.dpiWidth)));
        cinfo.Y_density = static_cast<UINT16>(std::min(65535.0, std::round(*md.dpiHeight)));
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (!md.exif.empty()) {
        Bytes exif = preparedExif(md.exif, options.excludeGPS, md.orientation);
        if (!exif.empty() && exif.size() + 6 <= 65533) {
            Bytes app1(exifSignature, exifSignature + 6);
            app1.insert(app1.end(), exif.begin(), exif.end());
            jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
        }
    }
    if (!options.excludeXMP && !md.xmp.empty() && md.xmp.size() + sizeof(xmpSignature) <= 65533) {
        Bytes app1(xmpSignature, xmpSignature + sizeof(xmpSignature));
        app1.insert(app1.end(), md.xmp.begin(), md.xmp.end());
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
    }
    if (!md.iptc.empty() && md.iptc.size() + 32 <= 65533) {
        const Bytes app13 = photoshopSegmentWithIptc(md.iptc);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 13, app13.data(), static_cast<unsigned>(app13.size()));
    }
    if (!iccProfile.empty()) jpeg_write_icc_profile(&cinfo, iccProfile.data(), static_cast<unsigned>(iccProfile.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* s = rowAt(static_cast<int>(cinfo.next_scanline));
        if (!s) fail("Could not encode JPEG: the picture is incomplete");
        JSAMPROW row = const_cast<uint8_t*>(s);
        const uint8_t* alphaEnd = rgb ? s : s + static_cast<size_t>(width) * 4;
        bool opaque = true;
        for (const uint8_t* a = s + 3; a < alphaEnd; a += 4)
            if (*a != 255) {
                opaque = false;
                break;
            }
        if (!opaque) {
            // JPEG has no alpha: transparent areas are put on white.
            uint8_t* d = flattened.data();
            for (int x = 0; x < width; ++x, s += 4, d += 4) {
                const unsigned a = s[3];
                for (int c = 0; c < 3; ++c)
                    d[c] = a == 255 ? s[c] : static_cast<uint8_t>((s[c] * a + 255 * (255 - a) + 127) / 255);
            }
            row = flattened.data();
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
}

Bytes encodeJPEG(const RgbaImage& image, const EncodeOptions& options) {
    Bytes result;
    // A photo at usual qualities takes one to two bits a pixel; reserving touches no memory.
    result.reserve(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) / 4 + 65536);
    encodeJPEG(image, options, [&result](const uint8_t* p, size_t n) { result.insert(result.end(), p, p + n); }, nullptr);
    return result;
}

}  // namespace calvoro::imaging::detail
