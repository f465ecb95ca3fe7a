#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/imaging/image_properties.h"
#include "platform/imaging/rgba_image.h"
#include "platform/imaging/row_progress.h"

namespace calvoro::imaging {

// Decoders refuse images above this many pixels before allocating them.
#ifdef CALVORO_MAX_PIXEL_COUNT
inline constexpr uint64_t maxPixelCount = CALVORO_MAX_PIXEL_COUNT;  // the fuzz build's smaller limit
#else
inline constexpr uint64_t maxPixelCount = 500'000'000;
#endif

struct AnimationFrame {
    RgbaImage image;       // the whole canvas after this frame was drawn
    double delaySeconds = 0;
};

// An image file opened for decoding. Decoding failures throw ConversionError::corruptFile.
class ImageSource {
public:
    // Nothing when the file cannot be read or is not of a known image type.
    static std::optional<ImageSource> open(const std::filesystem::path& path);
    // From bytes in memory; the extension (without dot) helps only with RAW and TGA.
    static std::optional<ImageSource> fromData(std::vector<uint8_t> data, const std::string& extension = {});

    const std::string& typeIdentifier() const { return type_; }
    bool isCameraRaw() const;
    const std::filesystem::path& path() const { return path_; }
    std::span<const uint8_t> data() const;
    // Whether data() is a read-only mapping of the file (its pages can be handed back as read).
    bool isMappedFile() const;

    // The first image, pixels in stored order (orientation not applied).
    RgbaImage decodeFirstFrame() const;
    // The first image for a resize whose longest edge will be longestEdge: a JPEG is decoded
    // straight at the smallest of its 1/8 scales that keeps both sides at least as large as
    // the resize asks; other types come whole. Resample the result to the size figured from
    // properties(), which keep the stored size.
    RgbaImage decodeFirstFrameForResize(int longestEdge) const;
    // The first image decoded only to show that it decodes, as cheaply as its decoder allows:
    // every byte is still read, but a JPEG, a still WebP or a PNG that streams comes out at a
    // fraction of its size (the PNG without ever being held whole).
    RgbaImage decodeFirstFrameForCheck() const;
    // The first image decoded on this thread into image, for readers on other threads that take
    // its rows as they come: started gets the properties once image has its size and profile,
    // before any row; rows then advances as a JPEG's rows are decoded (other types arrive
    // whole). On failure rows fails before the error is thrown.
    void decodeFirstFrameRows(RgbaImage& image, RowProgress& rows,
                              const std::function<void(const ImageProperties&)>& started) const;
    // Every frame of an animated GIF with its delay; one frame for other types.
    std::vector<AnimationFrame> decodeAllFrames() const;
    // Size, frame count, metadata of the first image (decodes it when needed).
    const ImageProperties& properties() const;

private:
    ImageSource() = default;
    void decodeIfNeeded() const;

    std::filesystem::path path_;
    std::string extension_;
    std::string type_;
    struct Storage;
    std::shared_ptr<const Storage> data_;
    struct Cache;
    std::shared_ptr<Cache> cache_;
};

}  // namespace calvoro::imaging
