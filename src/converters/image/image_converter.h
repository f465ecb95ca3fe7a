#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/cancellation.h"
#include "core/conversion_logger.h"
#include "core/supported_format.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/rgba_image.h"

namespace calvoro {

// Raster images to raster formats, one-page PDFs, ICO/ICNS icons and SVG wrappers; PDF pages
// to images. Failures are thrown as ConversionError (the SVG writer's file errors as they are).
class ImageConverter {
public:
    ImageConverter() = delete;

    // Writes the converted image into outputDir and returns its path.
    static std::filesystem::path convert(const std::filesystem::path& source, SupportedFormat target,
                                         const std::filesystem::path& outputDir, double quality,
                                         std::optional<int> maxEdge, bool stripMetadata);

    // Renders every page of a PDF into a new folder of PNG (pdfPagePng) or JPEG files. A page
    // that cannot be rendered is left out; one that cannot be written fails the whole folder.
    // A cancelled token stops it between pages with CancellationError.
    static std::filesystem::path convertPDFPages(const std::filesystem::path& source, SupportedFormat target,
                                                 const std::filesystem::path& outputDir, double quality,
                                                 const CancellationToken& cancellation = {});

    // Scaled so that the longer side is longestEdge (halves rounded away from zero); nothing
    // when a side would come out below one pixel.
    static std::optional<imaging::RgbaImage> resizeImage(const imaging::RgbaImage& image, int longestEdge);
    // The same size rule figured from the stored size when the image was decoded already
    // reduced (shrink-on-load): the result has the size resizeImage gives the whole image.
    static std::optional<imaging::RgbaImage> resizeImage(const imaging::RgbaImage& image, int storedWidth, int storedHeight,
                                                         int longestEdge);

    // The options a conversion streamed row by row writes with: the file's own metadata, as the
    // whole-picture path gives a re-encode of unchanged pixels. Nothing when the pixels need the
    // whole picture: a resize, or a turn or mirror of the stored orientation that the target
    // does not carry (the rows would come in another order or another shape).
    static std::optional<imaging::EncodeOptions> streamedOptions(const imaging::ImageProperties& props, const std::string& targetType,
                                                                 double quality, std::optional<int> maxEdge, bool stripMetadata);

    // The type identifier a target is encoded as; nothing for targets without one.
    static std::optional<std::string> utTypeForFormat(SupportedFormat format);

private:
    // The first image decoded whole, with the metadata and orientation its file gives it.
    struct Picture {
        imaging::RgbaImage image;
        bool pixelsChanged = false;  // developed from RAW or resized: no longer the file's own pixels
        imaging::ImageMetadata metadata;
        int orientation = 1;
    };

    // The convert steps: a streamed fast path where one applies, else the picture decoded,
    // reduced, and written under the reserved name.
    static std::optional<std::filesystem::path> streamWithoutWholePicture(const imaging::ImageSource& imageSource,
                                                                          SupportedFormat target, const std::filesystem::path& source,
                                                                          const std::filesystem::path& outputDir, double quality,
                                                                          std::optional<int> maxEdge, bool stripMetadata);
    static Picture decodePicture(const std::filesystem::path& source, const imaging::ImageSource& imageSource,
                                 SupportedFormat target, std::optional<int> maxEdge);
    static void reduceToMaxEdge(Picture& picture, const imaging::ImageSource& imageSource, int maxEdge);
    // ICO, one-page PDF, SVG and ICNS; nothing for targets an encoder writes.
    static std::optional<std::filesystem::path> writeUpright(const std::filesystem::path& source, Picture& picture,
                                                             SupportedFormat target, const std::filesystem::path& outputURL);
    static void writeEncoded(Picture& picture, const imaging::ImageSource& imageSource, SupportedFormat target, double quality,
                             bool stripMetadata, const std::filesystem::path& outputURL);
    static std::optional<imaging::RgbaImage> decodeRAW(const std::filesystem::path& source, const imaging::ImageSource& imageSource);
    // A PNG to JPEG without the whole picture in memory, when nothing needs it; nothing when
    // the file goes the whole-picture way (which then reports any fault as it always has).
    static std::optional<std::filesystem::path> streamPNGToJPEG(const imaging::ImageSource& imageSource, SupportedFormat target,
                                                                const std::filesystem::path& source,
                                                                const std::filesystem::path& outputDir, double quality,
                                                                std::optional<int> maxEdge, bool stripMetadata);
    // A JPEG to PNG the same way, the file written as it is made.
    static std::optional<std::filesystem::path> streamJPEGToPNG(const imaging::ImageSource& imageSource, SupportedFormat target,
                                                                const std::filesystem::path& source,
                                                                const std::filesystem::path& outputDir, std::optional<int> maxEdge,
                                                                bool stripMetadata);
    // A JPEG to WebP or the HEIF family, decoded straight into the encoder's picture.
    static std::optional<std::filesystem::path> streamJPEGIntoEncoder(const imaging::ImageSource& imageSource, SupportedFormat target,
                                                                      const std::filesystem::path& source,
                                                                      const std::filesystem::path& outputDir, double quality,
                                                                      std::optional<int> maxEdge, bool stripMetadata);
    static bool sourceIndexIsCompatible(const imaging::ImageSource& imageSource, SupportedFormat target);

    static std::filesystem::path createPDFFromImage(const imaging::RgbaImage& image, const std::filesystem::path& outputURL,
                                                    ConversionLogger& logger);
    static std::filesystem::path writeMultiResolutionICO(const imaging::RgbaImage& image, const std::filesystem::path& outputURL);
    static std::filesystem::path writeICNS(const imaging::RgbaImage& image, const std::filesystem::path& outputURL);
    static std::filesystem::path writeSVG(const std::filesystem::path& source, const imaging::RgbaImage& image,
                                          const std::filesystem::path& outputURL);
    static std::filesystem::path writeIconSizes(const imaging::RgbaImage& image, const std::filesystem::path& outputURL,
                                                const int* sizes, int count, const char* type);
};

}  // namespace calvoro
