// Exif and XMP through exiv2: reading for formats without a native reader, editing the Exif
// block before it is written, and writing it into TIFF files.

#include <cstring>
#include <mutex>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

void initExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

bool decodeExif(const Bytes& exif, Exiv2::ExifData& data, Exiv2::ByteOrder& order) {
    if (exif.size() < 8) return false;
    try {
        order = Exiv2::ExifParser::decode(data, exif.data(), static_cast<uint32_t>(exif.size()));
        return true;
    } catch (...) {
        return false;
    }
}

// Exif entries that describe the picture rather than the layout of the file's own pixels
// (which the written file describes itself): Image-directory tags other than the descriptive
// ones, and thumbnails, go.
void dropStructureTags(Exiv2::ExifData& data) {
    for (auto it = data.begin(); it != data.end();) {
        const uint16_t t = it->tag();
        const bool descriptive = t == 0x0112 || (t >= 0x010E && t <= 0x0110) || t == 0x0131 || t == 0x0132 || t == 0x013B ||
                                 t == 0x8298;
        const std::string group = it->groupName();
        if ((group == "Image" && !descriptive) || group.rfind("Thumbnail", 0) == 0 || group.rfind("SubImage", 0) == 0 ||
            group.rfind("Image2", 0) == 0 || group.rfind("Image3", 0) == 0)
            it = data.erase(it);
        else
            ++it;
    }
}

// The Exif block decoded, changed by edit and encoded again in its byte order; empty when it
// cannot be read or nothing is left.
template <typename Edit>
Bytes editedExif(const Bytes& exif, Edit edit) {
    initExiv2();
    Exiv2::ExifData data;
    Exiv2::ByteOrder order = Exiv2::littleEndian;
    if (!decodeExif(exif, data, order)) return {};
    try {
        edit(data);
        if (data.empty()) return {};
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, data);
        return Bytes(blob.begin(), blob.end());
    } catch (...) {
        return {};
    }
}

}  // namespace

Bytes descriptiveExif(const Bytes& exif) { return editedExif(exif, dropStructureTags); }

void readMetadata(const uint8_t* data, size_t size, ImageMetadata& metadata) {
    initExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
        if (!image.get()) return;
        image->readMetadata();
        if (metadata.exif.empty() && !image->exifData().empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, image->byteOrder() == Exiv2::invalidByteOrder ? Exiv2::littleEndian : image->byteOrder(),
                                      image->exifData());
            metadata.exif.assign(blob.begin(), blob.end());
        }
        if (metadata.xmp.empty() && !image->xmpPacket().empty()) metadata.xmp = image->xmpPacket();
        if (metadata.iptc.empty() && !image->iptcData().empty()) {
            const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(image->iptcData());
            metadata.iptc.assign(iptc.pData_, iptc.pData_ + iptc.size_);
        }
    } catch (...) {
        // Metadata is optional: a file exiv2 cannot read still decodes.
    }
}

int exifOrientation(const Bytes& exif) {
    initExiv2();
    Exiv2::ExifData data;
    Exiv2::ByteOrder order;
    if (!decodeExif(exif, data, order)) return 1;
    auto it = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (it == data.end() || it->count() < 1) return 1;
    long v = it->toLong();
    return (v >= 1 && v <= 8) ? static_cast<int>(v) : 1;
}

bool exifHasGPS(const Bytes& exif) {
    initExiv2();
    Exiv2::ExifData data;
    Exiv2::ByteOrder order;
    if (!decodeExif(exif, data, order)) return false;
    for (const auto& d : data)
        if (d.groupName() == "GPSInfo") return true;
    return false;
}

Bytes preparedExif(const Bytes& exif, bool excludeGPS, int orientation) {
    return editedExif(exif, [&](Exiv2::ExifData& data) {
        if (excludeGPS) {
            for (auto it = data.begin(); it != data.end();) {
                if (it->groupName() == "GPSInfo" || it->key() == "Exif.Image.GPSTag")
                    it = data.erase(it);
                else
                    ++it;
            }
        }
        auto o = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (orientation == 1) {
            if (o != data.end()) data.erase(o);
        } else {
            data["Exif.Image.Orientation"] = static_cast<uint16_t>(orientation);
        }
        // The thumbnail shows the old pixels.
        Exiv2::ExifThumb(data).erase();
    });
}

Bytes injectMetadata(const Bytes& file, const Bytes& exif, const std::string& xmp, const Bytes& iptc) {
    if (exif.empty() && xmp.empty() && iptc.empty()) return file;
    initExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(file.data(), static_cast<long>(file.size()));
        if (!image.get()) return file;
        image->readMetadata();
        if (!exif.empty()) {
            Exiv2::ExifData data;
            Exiv2::ByteOrder order;
            if (decodeExif(exif, data, order)) {
                // The file's own structure tags stay as the encoder wrote them.
                dropStructureTags(data);
                for (const auto& d : data) image->exifData()[d.key()] = d.value();
            }
        }
        if (!xmp.empty()) {
            image->setXmpPacket(xmp);
            image->writeXmpFromPacket(true);
        }
        if (!iptc.empty()) {
            Exiv2::IptcData data;
            if (Exiv2::IptcParser::decode(data, iptc.data(), static_cast<uint32_t>(iptc.size())) == 0) image->setIptcData(data);
        }
        image->writeMetadata();
        auto& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        Exiv2::DataBuf buf = io.read(static_cast<long>(io.size()));
        return Bytes(buf.pData_, buf.pData_ + buf.size_);
    } catch (...) {
        return file;
    }
}

namespace {

constexpr char photoshopSignature[] = "Photoshop 3.0";  // with its terminating zero: 14 bytes
constexpr uint16_t iptcResource = 0x0404;

}  // namespace

Bytes iptcFromPhotoshopSegment(const uint8_t* data, size_t size) {
    if (size < sizeof(photoshopSignature) || std::memcmp(data, photoshopSignature, sizeof(photoshopSignature)) != 0) return {};
    size_t at = sizeof(photoshopSignature);
    // Resources: "8BIM", id, an even-padded Pascal name, a length and the even-padded data.
    while (at + 12 <= size && std::memcmp(data + at, "8BIM", 4) == 0) {
        const uint16_t id = be16(data + at + 4);
        size_t p = at + 6;
        const size_t nameLength = data[p];
        p += (nameLength + 2) & ~size_t(1);
        if (p + 4 > size) break;
        const size_t length = be32(data + p);
        p += 4;
        if (length > size - p) break;
        if (id == iptcResource) return Bytes(data + p, data + p + length);
        at = p + ((length + 1) & ~size_t(1));
    }
    return {};
}

Bytes photoshopSegmentWithIptc(const Bytes& iptc) {
    Bytes out(photoshopSignature, photoshopSignature + sizeof(photoshopSignature));
    out.insert(out.end(), {'8', 'B', 'I', 'M'});
    putBE16(out, iptcResource);
    out.insert(out.end(), {0, 0});  // empty name, padded
    putBE32(out, static_cast<uint32_t>(iptc.size()));
    out.insert(out.end(), iptc.begin(), iptc.end());
    if (iptc.size() % 2) out.push_back(0);
    return out;
}

}  // namespace calvoro::imaging::detail

namespace calvoro::imaging {

std::vector<uint8_t> orientationOnlyExif(int orientation) {
    using detail::putLE16, detail::putLE32;
    std::vector<uint8_t> exif = {'I', 'I', 42, 0};
    putLE32(exif, 8);  // the first directory follows the header
    putLE16(exif, 1);  // one entry: Orientation, one SHORT
    putLE16(exif, 0x0112);
    putLE16(exif, 3);
    putLE32(exif, 1);
    putLE16(exif, static_cast<uint32_t>(orientation >= 1 && orientation <= 8 ? orientation : 1));
    putLE16(exif, 0);
    putLE32(exif, 0);  // no next directory
    return exif;
}

}  // namespace calvoro::imaging
#pragma GCC diagnostic pop
