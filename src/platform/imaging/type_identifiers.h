#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::imaging {

// The type identifiers this layer uses as the keys of its formats.
namespace types {
inline constexpr const char* png = "public.png";
inline constexpr const char* jpeg = "public.jpeg";
inline constexpr const char* tiff = "public.tiff";
inline constexpr const char* bmp = "com.microsoft.bmp";
inline constexpr const char* gif = "com.compuserve.gif";
inline constexpr const char* heic = "public.heic";
inline constexpr const char* heif = "public.heif";
inline constexpr const char* avif = "public.avif";
inline constexpr const char* webp = "org.webmproject.webp";
inline constexpr const char* ico = "com.microsoft.ico";
inline constexpr const char* psd = "com.adobe.photoshop-image";
inline constexpr const char* tga = "com.truevision.tga-image";
inline constexpr const char* jpeg2000 = "public.jpeg-2000";
inline constexpr const char* jpegxl = "public.jpeg-xl";
inline constexpr const char* icns = "com.apple.icns";
inline constexpr const char* cameraRaw = "public.camera-raw-image";
}  // namespace types

// The type of image data, judged from its leading bytes; the file name's extension only
// settles camera RAW files (most are TIFF inside) and headerless TGA. Empty when unknown.
std::string identifyType(const uint8_t* data, size_t size, std::string_view extension);

// Every type identifier the encoder can write on this system (HEIC and AVIF only when
// libheif has an encoder for them).
std::vector<std::string> encodableTypeIdentifiers();
bool canEncode(std::string_view typeIdentifier);

// Whether a written file of this type keeps an orientation property that readers honour.
bool carriesOrientation(std::string_view typeIdentifier);

// Registers encodableTypeIdentifiers() as the image encoder list of FormatCapabilities.
void registerCapabilities();

}  // namespace calvoro::imaging
