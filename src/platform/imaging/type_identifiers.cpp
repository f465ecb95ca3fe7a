#include "platform/imaging/type_identifiers.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/format_capabilities.h"
#include "core/text_util.h"
#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging {

namespace {

constexpr std::array<const char*, 24> rawExtensions = {"dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "orf", "rw2", "raf",
                                                       "pef", "srw", "3fr", "erf", "kdc", "dcr", "mrw", "x3f", "mos", "iiq", "rwl", "raw"};

bool isRawExtension(std::string_view extension) {
    const std::string lower = unicodeLowercased(extension);
    return std::find(rawExtensions.begin(), rawExtensions.end(), lower) != rawExtensions.end();
}

bool startsWith(const uint8_t* data, size_t size, const char* magic, size_t n, size_t at = 0) {
    return size >= at + n && std::memcmp(data + at, magic, n) == 0;
}

// The ISO base media brand of a HEIF family file: "heic", "heif" or "avif"; empty otherwise.
std::string heifFamily(const uint8_t* data, size_t size) {
    if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0) return {};
    const size_t boxSize = std::min<size_t>(detail::be32(data), size);
    std::vector<std::string> brands;
    brands.emplace_back(reinterpret_cast<const char*>(data + 8), 4);
    for (size_t p = 16; p + 4 <= boxSize; p += 4) brands.emplace_back(reinterpret_cast<const char*>(data + p), 4);
    auto has = [&](const char* b) { return std::find(brands.begin(), brands.end(), b) != brands.end(); };
    const std::string major = brands.front();
    if (major == "crx ") return "raw";
    if (major == "avif" || major == "avis") return "avif";
    if (major == "heic" || major == "heix" || major == "hevc" || major == "hevx" || major == "heim" || major == "heis") return "heic";
    if (has("avif") || has("avis")) return "avif";
    if (has("heic") || has("heix")) return "heic";
    if (major == "mif1" || major == "msf1" || has("mif1")) return "heif";
    return {};
}

}  // namespace

std::string identifyType(const uint8_t* data, size_t size, std::string_view extension) {
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static const uint8_t jp2[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    static const uint8_t jxl[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (size >= 8 && std::memcmp(data, png, 8) == 0) return types::png;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return types::jpeg;
    if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4) || startsWith(data, size, "II+\0", 4) ||
        startsWith(data, size, "MM\0+", 4))
        return isRawExtension(extension) ? types::cameraRaw : types::tiff;
    if (startsWith(data, size, "IIRO", 4) || startsWith(data, size, "IIU\0", 4) || startsWith(data, size, "FUJIFILMCCD-RAW", 15))
        return types::cameraRaw;
    if (startsWith(data, size, "GIF87a", 6) || startsWith(data, size, "GIF89a", 6)) return types::gif;
    if (startsWith(data, size, "BM", 2) && size >= 26) return types::bmp;
    if (startsWith(data, size, "RIFF", 4) && startsWith(data, size, "WEBP", 4, 8)) return types::webp;
    if (size >= 6 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || data[2] == 2) && data[3] == 0 && (data[4] | data[5]))
        return types::ico;
    if (startsWith(data, size, "8BPS", 4)) return types::psd;
    if (startsWith(data, size, "icns", 4)) return types::icns;
    if (size >= 12 && std::memcmp(data, jp2, 12) == 0) return types::jpeg2000;
    if (size >= 4 && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51) return types::jpeg2000;
    if ((size >= 2 && data[0] == 0xFF && data[1] == 0x0A) || (size >= 12 && std::memcmp(data, jxl, 12) == 0)) return types::jpegxl;
    const std::string family = heifFamily(data, size);
    if (family == "raw") return types::cameraRaw;
    if (family == "avif") return types::avif;
    if (family == "heic") return types::heic;
    if (family == "heif") return types::heif;
    // TGA has no signature: trust the name when the header is plausible.
    if (unicodeLowercased(extension) == "tga" && size >= 18) {
        const int type = data[2] & ~8;
        if ((type == 1 || type == 2 || type == 3) && data[1] <= 1) return types::tga;
    }
    if (isRawExtension(extension) && size > 0) return types::cameraRaw;
    return {};
}

namespace {

// Written with linked libraries or own code: always there.
constexpr std::array<const char*, 10> alwaysEncodable = {types::png, types::jpeg, types::tiff, types::bmp, types::gif,
                                                         types::webp, types::ico, types::psd, types::tga, types::icns};

}  // namespace

std::vector<std::string> encodableTypeIdentifiers() {
    std::vector<std::string> list(alwaysEncodable.begin(), alwaysEncodable.end());
    // Types whose library is opened on demand are offered only when it is installed.
    if (detail::haveOpenJpeg()) list.emplace_back(types::jpeg2000);
    if (detail::haveHEIFEncoder(false)) {
        list.emplace_back(types::heic);
        list.emplace_back(types::heif);
    }
    if (detail::haveHEIFEncoder(true)) list.emplace_back(types::avif);
    return list;
}

bool canEncode(std::string_view typeIdentifier) {
    // Only the library of the type asked about is opened.
    if (typeIdentifier == types::jpeg2000) return detail::haveOpenJpeg();
    if (typeIdentifier == types::heic || typeIdentifier == types::heif) return detail::haveHEIFEncoder(false);
    if (typeIdentifier == types::avif) return detail::haveHEIFEncoder(true);
    return std::find(alwaysEncodable.begin(), alwaysEncodable.end(), typeIdentifier) != alwaysEncodable.end();
}

bool carriesOrientation(std::string_view typeIdentifier) { return typeIdentifier == types::jpeg || typeIdentifier == types::tiff; }

void registerCapabilities() { FormatCapabilities::registerImageEncoderProvider([] { return encodableTypeIdentifiers(); }); }

}  // namespace calvoro::imaging
