#pragma once

// Internal interface between the image source/destination and the per-format codecs.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/byte_order.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/row_progress.h"

namespace calvoro::imaging::detail {

using Bytes = std::vector<uint8_t>;

struct DecodeResult {
    std::vector<AnimationFrame> frames;
    ImageProperties props;
};

// Pages of a read-only file mapping handed back to the system once read past (they are read
// again from the file if touched), so that a file read once does not stay resident; does
// nothing for data that is not such a mapping.
class ReadPages {
public:
    ReadPages(const uint8_t* data, bool mappedFile) : data_(data), mapped_(mappedFile) {}
    // Everything before offset has been read.
    void readUpTo(size_t offset);

private:
    const uint8_t* data_;
    bool mapped_;
    size_t released_ = 0;
};

// Throws ConversionError::corruptFile with the text.
[[noreturn]] void fail(const std::string& what);
// For a valid file of a kind this reader does not take: throws
// ConversionError::unsupportedConversion from the kind named (e.g. "16-bit Lab TIFF"), with no
// target, which the caller names.
[[noreturn]] void refuseVariant(const std::string& kind);
// Refuses sizes that are empty or above maxPixelCount, before anything is allocated.
void checkDimensions(uint64_t width, uint64_t height);
// Refuses a header that declares more pixels than the data behind it could hold, as damaged,
// before a picture of that size is allocated: least is what the pixels take at the least, most
// what the data could give at the most (in one unit).
void checkDataHolds(uint64_t least, uint64_t most);

// Decoders: frame 0 only unless allFrames (GIF). They fill props.pixelWidth/Height.
void decodePNG(const uint8_t* data, size_t size, DecodeResult& out);
// Whether a PNG can be decoded row by row with all it carries known before the first row:
// not interlaced, its chunks whole up to an IEND that ends the file, no Exif or XMP after the pixels.
bool pngStreamable(const uint8_t* data, size_t size, bool mappedFile = false);
// Decodes a streamable PNG one row at a time: props are filled as decodePNG fills them, then
// started is asked; then, in order, each row is decoded into the width * 4 bytes rowAt(y)
// gives and rowDone(y) told. Rows are 8-bit RGBA (16-bit samples rounded as a whole picture's
// are), or RGB (three bytes a pixel) when the picture has no alpha. started returning false or
// rowAt nullptr stops the decode quietly. Metadata found after the pixels (never in a streamable file) is added at the end.
void decodePNGRows(const uint8_t* data, size_t size, ImageProperties& props, const std::function<bool()>& started,
                   const std::function<uint8_t*(int)>& rowAt, const std::function<void(int)>& rowDone, bool mappedFile = false);
// A streamable PNG decoded row by row, every row read but only every n-th pixel of every n-th
// row kept, so that the longest edge comes out at about edge. False when the file does not
// stream or fails to decode: the whole decode then tells how it fares.
bool decodePNGReduced(const uint8_t* data, size_t size, DecodeResult& out, int edge);
// A decode whose rows other threads read while it runs: the picture goes into image at its
// stored size (out.frames stays empty); started is called with the properties once image is
// allocated, its profile set, before any row; progress then advances as rows are done.
struct RowStream {
    RgbaImage& image;
    RowProgress& progress;
    std::function<void(const ImageProperties&)> started;
};
// With reduceToEdge, the JPEG is decoded at the smallest scale M/8 whose longest edge is
// still at least that many pixels (props keep the stored size).
// With mappedFile (data is a read-only mapping of a file), the pages already read are handed
// back as the decode moves on, so that the compressed file does not stay resident beside the picture.
void decodeJPEG(const uint8_t* data, size_t size, DecodeResult& out, int reduceToEdge = 0, const RowStream* stream = nullptr,
                bool mappedFile = false);
// Decodes a JPEG one row at a time, as decodePNGRows does a PNG: props are filled as decodeJPEG
// fills them (a gray profile is converted on the rows and left out), started is asked, then each
// 8-bit RGBA row goes into rowAt(y) and rowDone(y) is told. started returning false or rowAt
// nullptr stops the decode quietly.
void decodeJPEGRows(const uint8_t* data, size_t size, ImageProperties& props, const std::function<bool()>& started,
                    const std::function<uint8_t*(int)>& rowAt, const std::function<void(int)>& rowDone, bool mappedFile = false);
// The DCT scale numerator (of 8) decodeJPEG uses for that reduction: the smallest M with
// M/8 >= edge / longest, so that both sides stay at least as large as the resize rule asks.
int jpegScaleNumerator(int width, int height, int reduceToEdge);
void decodeTIFF(const uint8_t* data, size_t size, DecodeResult& out);
void decodeGIF(const uint8_t* data, size_t size, bool allFrames, DecodeResult& out);
// With reduceToEdge, a still picture is decoded on several threads and scaled down as it
// is decoded to about that longest edge (props keep the stored size).
void decodeWebP(const uint8_t* data, size_t size, DecodeResult& out, int reduceToEdge = 0);
void decodeHEIF(const uint8_t* data, size_t size, DecodeResult& out);
void decodeJPEG2000(const uint8_t* data, size_t size, DecodeResult& out);
void decodeJPEGXL(const uint8_t* data, size_t size, DecodeResult& out);
void decodeBMP(const uint8_t* data, size_t size, DecodeResult& out);
void decodeTGA(const uint8_t* data, size_t size, DecodeResult& out);
void decodePSD(const uint8_t* data, size_t size, DecodeResult& out);
void decodeICO(const uint8_t* data, size_t size, DecodeResult& out);
void decodeICNS(const uint8_t* data, size_t size, DecodeResult& out);
// A BMP DIB (as stored in ICO entries): header, pixels and, when withMask, the AND mask.
RgbaImage decodeDIB(const uint8_t* data, size_t size, bool iconMask);

// Encoders; the image's metadata in options is written where the format can hold it.
Bytes encodePNG(const RgbaImage& image, const EncodeOptions& options);
Bytes encodeJPEG(const RgbaImage& image, const EncodeOptions& options);
// The same bytes handed to sink as they are made; with progress, row y is read only once
// progress has passed it (throws when it fails first).
void encodeJPEG(const RgbaImage& image, const EncodeOptions& options, const ByteSink& sink, const RowProgress* progress);
// The same bytes from rows handed out one at a time: rowAt(y) is asked for y = 0, 1, ... and
// its row (RGBA, or RGB when rgb) must stay valid until the next ask; nullptr when no more
// rows will come (throws).
void encodeJPEG(int width, int height, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options,
                const ByteSink& sink, const std::function<const uint8_t*(int)>& rowAt, bool rgb = false);
// An encoder that needs the whole picture, filled a row at a time straight into its own
// buffer, so that the picture is held once, in the encoder's form. Rows are 8-bit RGBA, given
// in order; finish encodes once all are in, with the bytes the whole-picture call gives.
class PictureEncoder {
public:
    virtual ~PictureEncoder() = default;
    // Where row y goes (width * 4 bytes), valid until rowDone(y).
    virtual uint8_t* rowAt(int y) = 0;
    virtual void rowDone(int y) = 0;
    virtual Bytes finish() = 0;
};
// For an opaque picture in iccProfile; nothing for lossless (quality 1), which goes whole.
std::unique_ptr<PictureEncoder> webpPictureEncoder(int width, int height, const std::vector<uint8_t>& iccProfile,
                                                   const EncodeOptions& options);
std::unique_ptr<PictureEncoder> heifPictureEncoder(int width, int height, bool alpha, const std::vector<uint8_t>& iccProfile,
                                                   const EncodeOptions& options, bool av1);
Bytes encodeTIFF(const RgbaImage& image, const EncodeOptions& options);
Bytes encodeGIF(const std::vector<RgbaImage>& frames, const EncodeOptions& options);
Bytes encodeWebP(const RgbaImage& image, const EncodeOptions& options);
Bytes encodeHEIF(const RgbaImage& image, const EncodeOptions& options, bool av1);
Bytes encodeJPEG2000(const RgbaImage& image, const EncodeOptions& options);
Bytes encodeBMP(const RgbaImage& image, const EncodeOptions& options);
Bytes encodeTGA(const RgbaImage& image, const EncodeOptions& options);
Bytes encodePSD(const RgbaImage& image, const EncodeOptions& options);
Bytes encodeICO(const std::vector<RgbaImage>& images);
Bytes encodeICNS(const std::vector<RgbaImage>& images);
// Whether the lazily opened libraries are installed (opened by the first ask).
bool haveHEIFEncoder(bool av1);
bool haveOpenJpeg();

// Metadata helpers (exiv2).
// Exif and XMP of a file in memory, for the formats whose codec does not read them itself.
void readMetadata(const uint8_t* data, size_t size, ImageMetadata& metadata);
int exifOrientation(const Bytes& exif);
// The Exif block without the tags that lay out the file's own pixels (a RAW file's sensor
// data, its thumbnails and preview images).
Bytes descriptiveExif(const Bytes& exif);
bool exifHasGPS(const Bytes& exif);
// The Exif block as it is written: GPS removed when asked, orientation set to the one given
// (or removed when 1), and for re-drawn pixels the thumbnail dropped.
Bytes preparedExif(const Bytes& exif, bool excludeGPS, int orientation);
// Writes Exif, XMP and IPTC into an encoded file of a format exiv2 writes (TIFF).
Bytes injectMetadata(const Bytes& file, const Bytes& exif, const std::string& xmp, const Bytes& iptc = {});
// The IPTC datasets of a JPEG APP13 segment ("Photoshop 3.0" image resources); empty when none.
Bytes iptcFromPhotoshopSegment(const uint8_t* data, size_t size);
// An APP13 segment body that holds the IPTC datasets as resource 0x0404.
Bytes photoshopSegmentWithIptc(const Bytes& iptc);

// Byte order for own-code formats.
using byte_order::be16;
using byte_order::be32;
using byte_order::le16;
using byte_order::le32;
using byte_order::putBE16;
using byte_order::putBE32;
using byte_order::putLE16;
using byte_order::putLE32;

}  // namespace calvoro::imaging::detail
