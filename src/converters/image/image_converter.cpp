#include "converters/image/image_converter.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/conversion_error.h"
#include "core/file_writing.h"
#include "core/output_name_registry.h"
#include "core/picture_ending.h"
#include "core/text_util.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/jpeg_transcode.h"
#include "platform/imaging/png_to_jpeg.h"
#include "platform/imaging/raw_decoder.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro {

namespace types = imaging::types;

namespace {

const std::string category = "Image";

// Targets encoded straight from the source's first image keep its metadata.
constexpr std::array<const char*, 7> reencodeFromSourceSet = {types::jpeg, types::png, types::tiff, types::heic,
                                                              types::heif, types::avif, types::jpeg2000};

bool inReencodeSet(const std::string& id) {
    return std::find(reencodeFromSourceSet.begin(), reencodeFromSourceSet.end(), id) != reencodeFromSourceSet.end();
}

bool isAlphaTarget(SupportedFormat f) {
    switch (f) {
        case SupportedFormat::png: case SupportedFormat::tiff: case SupportedFormat::bmp: case SupportedFormat::gif:
        case SupportedFormat::webp: case SupportedFormat::avif: case SupportedFormat::svg: case SupportedFormat::psd:
        case SupportedFormat::tga: case SupportedFormat::jp2: case SupportedFormat::icns:
            return true;
        default:
            return false;
    }
}

// Metadata the written file keeps: all the source's for its own pixels, the descriptive part
// for re-drawn ones, none of GPS and XMP when stripped.
void setMetadata(imaging::EncodeOptions& options, const imaging::ImageMetadata& source, bool wholeMetadata, bool stripMetadata) {
    if (!stripMetadata && wholeMetadata) {
        options.metadata = source;
    } else if (!stripMetadata) {
        options.metadata.exif = source.exif;
        options.metadata.xmp = source.xmp;
        options.metadata.iptc = source.iptc;
    } else {
        options.excludeGPS = true;
        options.excludeXMP = true;
    }
}

// The output's name: the source's, with the target's extension, unique in outputDir.
std::filesystem::path reserveOutput(const std::filesystem::path& source, const std::filesystem::path& outputDir,
                                    SupportedFormat target) {
    return OutputNameRegistry::reserve(outputDir, deletingPathExtension(lastPathComponent(source)), target.fileExtension());
}

// The source, opened once its permissions let it be read.
imaging::ImageSource openReadable(const std::filesystem::path& source, const std::string& fileName) {
    auto& logger = ConversionLogger::shared();
    if (::access(source.c_str(), R_OK) != 0) {
        logger.error("File not readable: " + source.string(), category);
        throw ConversionError::fileAccessDenied(fileName);
    }
    auto imageSource = imaging::ImageSource::open(source);
    if (!imageSource) {
        logger.error("Could not read the image", category, fileName);
        throw ConversionError::failedToLoadFile();
    }
    return std::move(*imageSource);
}

// A failure to decode the first image in the program's words, keeping those that say more
// than that the data is bad. Called while e is being handled.
[[noreturn]] void rethrowDecodeFailure(const ConversionError& e, SupportedFormat target, const std::string& fileName) {
    ConversionLogger::shared().error("Failed to decode image at index 0", category, fileName);
    // A codec library that is not installed says so rather than blaming the file.
    if (e.kind() == ConversionError::Kind::converterNotAvailable) throw;
    // A valid picture of a kind the decoder does not take says so, naming the kind.
    if (e.kind() == ConversionError::Kind::unsupportedConversion)
        throw ConversionError::unsupportedConversion(e.payload(), target.displayName());
    // An image over the pixel limit says so; any other failure reads the same.
    if (e.kind() == ConversionError::Kind::corruptFile && e.payload().rfind("The image is too large", 0) == 0) throw;
    throw ConversionError::corruptFile("Could not decode image data");
}

// The image type a target is written as, when this system can write it.
std::string encodableType(SupportedFormat target) {
    auto& logger = ConversionLogger::shared();
    const auto type = ImageConverter::utTypeForFormat(target);
    if (!type) {
        logger.error("No image type to write " + target.displayName(), category);
        throw ConversionError::unsupportedConversion("Image", target.displayName());
    }
    logger.debug("Writing as " + *type, category);
    if (!imaging::canEncode(*type)) {
        logger.error("No encoder can write this image type", category);
        throw ConversionError::failedToCreateOutput();
    }
    return *type;
}

}  // namespace

std::optional<imaging::EncodeOptions> ImageConverter::streamedOptions(const imaging::ImageProperties& props,
                                                                     const std::string& targetType, double quality,
                                                                     std::optional<int> maxEdge, bool stripMetadata) {
    std::optional<imaging::EncodeOptions> options;
    if (maxEdge && *maxEdge < std::max(props.pixelWidth, props.pixelHeight)) return options;
    const int orientation = props.metadata.orientation;
    if (orientation != 1 && !imaging::carriesOrientation(targetType)) return options;
    options.emplace();
    options->quality = quality;
    // The sources that stream (PNG, JPEG) are all of the re-encode set.
    setMetadata(*options, props.metadata, inReencodeSet(targetType), stripMetadata);
    if (options->metadata.orientation != orientation) options.reset();
    return options;
}

std::optional<std::filesystem::path> ImageConverter::streamPNGToJPEG(const imaging::ImageSource& imageSource, SupportedFormat target,
                                                                     const std::filesystem::path& source,
                                                                     const std::filesystem::path& outputDir, double quality,
                                                                     std::optional<int> maxEdge, bool stripMetadata) {
    if (imageSource.typeIdentifier() != types::png || !imaging::canEncode(types::jpeg)) return std::nullopt;
    auto bytes = imaging::transcodePNGToJPEG(imageSource, [&](const imaging::ImageProperties& props) {
        return streamedOptions(props, types::jpeg, quality, maxEdge, stripMetadata);
    });
    if (!bytes) return std::nullopt;
    ConversionLogger::shared().debug("Streamed PNG rows into JPEG", category);
    const std::filesystem::path outputURL = reserveOutput(source, outputDir, target);
    if (!files::writeAtomically(outputURL, bytes->data(), bytes->size())) throw ConversionError::failedToCreateOutput();
    return outputURL;
}

std::optional<std::filesystem::path> ImageConverter::streamJPEGToPNG(const imaging::ImageSource& imageSource, SupportedFormat target,
                                                                     const std::filesystem::path& source,
                                                                     const std::filesystem::path& outputDir,
                                                                     std::optional<int> maxEdge, bool stripMetadata) {
    if (imageSource.typeIdentifier() != types::jpeg || !imaging::canEncode(types::png)) return std::nullopt;
    const std::string baseName = deletingPathExtension(lastPathComponent(source));
    // Written as it is made under a temporary name; the output's name is taken once it is whole.
    files::AtomicFile file(outputDir / (baseName + "." + target.fileExtension()));
    const bool streamed = imaging::transcodeJPEGToPNG(
        imageSource,
        [&](const imaging::ImageProperties& props) { return streamedOptions(props, types::png, 1.0, maxEdge, stripMetadata); },
        [&file](const uint8_t* data, size_t size) { file.write(data, size); });
    if (!streamed) return std::nullopt;
    ConversionLogger::shared().debug("Streamed JPEG rows into PNG", category);
    const std::filesystem::path outputURL = reserveOutput(source, outputDir, target);
    if (!file.commit(outputURL)) throw ConversionError::failedToCreateOutput();
    return outputURL;
}

std::optional<std::filesystem::path> ImageConverter::streamJPEGIntoEncoder(const imaging::ImageSource& imageSource,
                                                                          SupportedFormat target, const std::filesystem::path& source,
                                                                          const std::filesystem::path& outputDir, double quality,
                                                                          std::optional<int> maxEdge, bool stripMetadata) {
    const auto type = utTypeForFormat(target);
    if (imageSource.typeIdentifier() != types::jpeg || !type || !imaging::canEncode(*type)) return std::nullopt;
    if (target == SupportedFormat::heic || target == SupportedFormat::heif) quality = std::min(quality, 0.85);
    auto bytes = imaging::transcodeJPEGIntoEncoder(imageSource, *type, [&](const imaging::ImageProperties& props) {
        return streamedOptions(props, *type, quality, maxEdge, stripMetadata);
    });
    if (!bytes) return std::nullopt;
    ConversionLogger::shared().debug("Decoded JPEG rows straight into the " + *type + " encoder", category);
    const std::filesystem::path outputURL = reserveOutput(source, outputDir, target);
    if (!files::writeAtomically(outputURL, bytes->data(), bytes->size())) throw ConversionError::failedToCreateOutput();
    return outputURL;
}

std::optional<std::string> ImageConverter::utTypeForFormat(SupportedFormat format) {
    switch (format) {
        case SupportedFormat::png: return std::string(types::png);
        case SupportedFormat::jpeg: case SupportedFormat::jpg: return std::string(types::jpeg);
        case SupportedFormat::tiff: return std::string(types::tiff);
        case SupportedFormat::bmp: return std::string(types::bmp);
        case SupportedFormat::gif: return std::string(types::gif);
        case SupportedFormat::heic: return std::string(types::heic);
        case SupportedFormat::heif: return std::string(types::heif);
        case SupportedFormat::webp: return std::string(types::webp);
        case SupportedFormat::ico: return std::string(types::ico);
        // Only a real AVIF encoder writes AVIF: PNG bytes under an .avif name would be a lie.
        case SupportedFormat::avif:
            return imaging::canEncode(types::avif) ? std::optional<std::string>(types::avif) : std::nullopt;
        case SupportedFormat::psd: return std::string(types::psd);
        case SupportedFormat::tga: return std::string(types::tga);
        case SupportedFormat::jp2: return std::string(types::jpeg2000);
        case SupportedFormat::icns: return std::string(types::icns);
        default: return std::nullopt;
    }
}

bool ImageConverter::sourceIndexIsCompatible(const imaging::ImageSource& imageSource, SupportedFormat target) {
    const std::string& sourceType = imageSource.typeIdentifier();
    if (sourceType.empty()) return false;
    const auto targetType = utTypeForFormat(target);
    if (!targetType) return false;
    if (sourceType == *targetType) return true;
    return inReencodeSet(sourceType) && inReencodeSet(*targetType);
}

std::optional<imaging::RgbaImage> ImageConverter::decodeRAW(const std::filesystem::path& source,
                                                            const imaging::ImageSource& imageSource) {
    if (!imageSource.isCameraRaw()) return std::nullopt;
    return imaging::decodeCameraRaw(source);
}

std::optional<std::filesystem::path> ImageConverter::streamWithoutWholePicture(const imaging::ImageSource& imageSource,
                                                                              SupportedFormat target,
                                                                              const std::filesystem::path& source,
                                                                              const std::filesystem::path& outputDir, double quality,
                                                                              std::optional<int> maxEdge, bool stripMetadata) {
    if (target == SupportedFormat::jpeg || target == SupportedFormat::jpg)
        return streamPNGToJPEG(imageSource, target, source, outputDir, quality, maxEdge, stripMetadata);
    if (target == SupportedFormat::png) return streamJPEGToPNG(imageSource, target, source, outputDir, maxEdge, stripMetadata);
    if (target == SupportedFormat::webp || target == SupportedFormat::heic || target == SupportedFormat::heif ||
        target == SupportedFormat::avif)
        return streamJPEGIntoEncoder(imageSource, target, source, outputDir, quality, maxEdge, stripMetadata);
    return std::nullopt;
}

ImageConverter::Picture ImageConverter::decodePicture(const std::filesystem::path& source, const imaging::ImageSource& imageSource,
                                                      SupportedFormat target, std::optional<int> maxEdge) {
    auto& logger = ConversionLogger::shared();
    const std::string fileName = lastPathComponent(source);
    Picture picture;
    if (auto raw = decodeRAW(source, imageSource)) {
        picture.image = std::move(*raw);
        picture.pixelsChanged = true;
        logger.debug("Developed the camera RAW image (" + std::to_string(picture.image.width) + "×" +
                         std::to_string(picture.image.height) + ")",
                     category);
    } else {
        try {
            // A resize lets a JPEG decode at a reduced scale (never below the size asked).
            picture.image = maxEdge ? imageSource.decodeFirstFrameForResize(*maxEdge) : imageSource.decodeFirstFrame();
        } catch (const ConversionError& e) {
            rethrowDecodeFailure(e, target, fileName);
        }
        if (auto issue = pictureTruncation(source)) {
            logger.error("Source image is truncated", category, fileName);
            throw ConversionError::corruptFile(*issue);
        }
    }
    // RAW development and the HEIF decoder turn the pixels upright themselves. A developed RAW
    // (the only changed pixels so far) has its metadata read without a second development.
    picture.metadata = picture.pixelsChanged ? imaging::cameraRawMetadata(imageSource.data().data(), imageSource.data().size())
                                             : imageSource.properties().metadata;
    picture.orientation = picture.pixelsChanged ? 1 : picture.metadata.orientation;
    return picture;
}

void ImageConverter::reduceToMaxEdge(Picture& picture, const imaging::ImageSource& imageSource, int maxEdge) {
    imaging::RgbaImage& image = picture.image;
    // The stored size decides, not that of pixels already reduced on load.
    const bool reducedOnLoad = !picture.pixelsChanged && imageSource.typeIdentifier() == types::jpeg;
    const int storedWidth = reducedOnLoad ? imageSource.properties().pixelWidth : image.width;
    const int storedHeight = reducedOnLoad ? imageSource.properties().pixelHeight : image.height;
    if (maxEdge >= std::max(storedWidth, storedHeight)) return;
    auto resized = resizeImage(image, storedWidth, storedHeight, maxEdge);
    // A size the rule refuses keeps the whole picture, as without the reduction.
    if (!resized && (image.width != storedWidth || image.height != storedHeight)) image = imageSource.decodeFirstFrame();
    if (!resized) return;
    image = std::move(*resized);
    picture.pixelsChanged = true;
    ConversionLogger::shared().debug("Resized to " + std::to_string(image.width) + "×" + std::to_string(image.height) +
                                         " (longest edge " + std::to_string(maxEdge) + ")",
                                     category);
}

std::optional<std::filesystem::path> ImageConverter::writeUpright(const std::filesystem::path& source, Picture& picture,
                                                                  SupportedFormat target, const std::filesystem::path& outputURL) {
    auto upright = [&] { return imaging::applyOrientation(std::move(picture.image), picture.orientation); };
    switch (target) {
        // None of these carries an orientation: they get the upright picture.
        case SupportedFormat::ico: return writeMultiResolutionICO(upright(), outputURL);
        case SupportedFormat::pdf_image: return createPDFFromImage(upright(), outputURL, ConversionLogger::shared());
        case SupportedFormat::svg: return writeSVG(source, upright(), outputURL);
        case SupportedFormat::icns: return writeICNS(upright(), outputURL);
        default: return std::nullopt;
    }
}

void ImageConverter::writeEncoded(Picture& picture, const imaging::ImageSource& imageSource, SupportedFormat target,
                                  double quality, bool stripMetadata, const std::filesystem::path& outputURL) {
    const std::string type = encodableType(target);
    imaging::RgbaImage& image = picture.image;
    imaging::EncodeOptions options;
    options.quality = quality;
    if (target == SupportedFormat::heic || target == SupportedFormat::heif) options.quality = std::min(quality, 0.85);
    else if (!isAlphaTarget(target)) imaging::flattenOnto(image);  // opaque white behind transparent areas

    setMetadata(options, picture.metadata, !picture.pixelsChanged && sourceIndexIsCompatible(imageSource, target), stripMetadata);
    // Where the orientation is not written with the file, the pixels are turned instead.
    if (options.metadata.orientation != picture.orientation || !imaging::carriesOrientation(type)) {
        image = imaging::applyOrientation(std::move(image), picture.orientation);
        options.metadata.orientation = 1;
    }

    try {
        imaging::writeImageFile(outputURL, image, type, options);
    } catch (const ConversionError& e) {
        ConversionLogger::shared().error("Could not write the image", category, "Target: " + type);
        // A file that could not be written says so; an encoder that gave up is a failed conversion.
        if (e.kind() == ConversionError::Kind::failedToCreateOutput) throw;
        throw ConversionError::conversionFailed();
    }
}

std::filesystem::path ImageConverter::convert(const std::filesystem::path& source, SupportedFormat target,
                                              const std::filesystem::path& outputDir, double quality,
                                              std::optional<int> maxEdge, bool stripMetadata) {
    auto& logger = ConversionLogger::shared();
    const std::string fileName = lastPathComponent(source);
    logger.debug("Loading image: " + fileName, category);
    // No sandbox here: the source is readable as its permissions say, so no scoped access is opened.
    const imaging::ImageSource imageSource = openReadable(source, fileName);
    if (auto streamed = streamWithoutWholePicture(imageSource, target, source, outputDir, quality, maxEdge, stripMetadata))
        return *streamed;

    Picture picture = decodePicture(source, imageSource, target, maxEdge);
    if (maxEdge) reduceToMaxEdge(picture, imageSource, *maxEdge);
    logger.debug("Image: " + std::to_string(picture.image.width) + "×" + std::to_string(picture.image.height) +
                     ", 32 bits per pixel",
                 category);

    const std::filesystem::path outputURL = reserveOutput(source, outputDir, target);
    if (auto written = writeUpright(source, picture, target, outputURL)) return *written;
    writeEncoded(picture, imageSource, target, quality, stripMetadata, outputURL);
    return outputURL;
}

}  // namespace calvoro
