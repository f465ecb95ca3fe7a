#include "platform/media/gif_image_source.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "core/source_file.h"

namespace calvoro::media {

namespace {
// Larger canvases are refused rather than allocated (1 GiB of RGBA at 16384 x 16384).
constexpr int64_t maxCanvasPixels = int64_t(1) << 26;

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};
}  // namespace

struct GifImageSource::Impl {
    GifFileType* gif = nullptr;
    int width = 0;
    int height = 0;
    size_t count = 0;
    bool lastIsDamaged = false;
    imaging::RgbaImage canvas;
    imaging::RgbaImage saved;
    long composed = -1;  // index of the last frame drawn onto the canvas
    int pendingDisposal = DISPOSAL_UNSPECIFIED;
    Rect pendingRect;

    ~Impl() {
        int err = 0;
        if (gif) DGifCloseFile(gif, &err);
    }

    Rect clip(const GifImageDesc& desc) const {
        Rect r;
        r.x = std::clamp(desc.Left, 0, width);
        r.y = std::clamp(desc.Top, 0, height);
        r.w = std::clamp(desc.Left + desc.Width, 0, width) - r.x;
        r.h = std::clamp(desc.Top + desc.Height, 0, height) - r.y;
        return r;
    }

    void clearRect(const Rect& r) {
        for (int y = r.y; y < r.y + r.h; ++y) std::memset(canvas.row(y) + r.x * 4, 0, static_cast<size_t>(r.w) * 4);
    }

    // Draws frame k; false when it cannot be decoded.
    bool draw(size_t k) {
        if (lastIsDamaged && k + 1 == count) return false;
        const SavedImage& image = gif->SavedImages[k];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        if (!map || !image.RasterBits) return false;
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, static_cast<int>(k), &gcb);
        Rect r = clip(image.ImageDesc);
        int stride = image.ImageDesc.Width;
        for (int y = 0; y < r.h; ++y) {
            const GifByteType* src = image.RasterBits + static_cast<size_t>(y + r.y - image.ImageDesc.Top) * static_cast<size_t>(stride) +
                                     static_cast<size_t>(r.x - image.ImageDesc.Left);
            uint8_t* dst = canvas.row(r.y + y) + r.x * 4;
            for (int x = 0; x < r.w; ++x, dst += 4) {
                int index = src[x];
                if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
                const GifColorType& c = map->Colors[index];
                dst[0] = c.Red;
                dst[1] = c.Green;
                dst[2] = c.Blue;
                dst[3] = 255;
            }
        }
        return true;
    }

    std::optional<imaging::RgbaImage> compose(size_t index) {
        if (static_cast<long>(index) <= composed) {
            canvas = imaging::RgbaImage(width, height);
            composed = -1;
            pendingDisposal = DISPOSAL_UNSPECIFIED;
        }
        bool drawn = false;
        for (size_t k = static_cast<size_t>(composed + 1); k <= index; ++k) {
            if (pendingDisposal == DISPOSE_BACKGROUND) clearRect(pendingRect);
            if (pendingDisposal == DISPOSE_PREVIOUS && !saved.empty()) canvas = saved;
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
            DGifSavedExtensionToGCB(gif, static_cast<int>(k), &gcb);
            if (gcb.DisposalMode == DISPOSE_PREVIOUS) saved = canvas;
            drawn = draw(k);
            pendingDisposal = gcb.DisposalMode;
            pendingRect = clip(gif->SavedImages[k].ImageDesc);
            composed = static_cast<long>(k);
        }
        if (!drawn) return std::nullopt;
        return canvas;
    }
};

std::unique_ptr<GifImageSource> GifImageSource::open(const std::filesystem::path& path) {
    int err = 0;
    // Only a regular file, opened without waiting; the decoder closes it.
    int fd = -1;
    try {
        fd = SourceFile(path).release();
    } catch (const std::exception&) {
        return nullptr;
    }
    GifFileType* gif = DGifOpenFileHandle(fd, &err);
    if (!gif) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->gif = gif;
    bool complete = DGifSlurp(gif) == GIF_OK;
    if (!complete && gif->ImageCount <= 0) return nullptr;
    impl->count = gif->ImageCount > 0 ? static_cast<size_t>(gif->ImageCount) : 0;
    impl->lastIsDamaged = !complete;
    impl->width = gif->SWidth;
    impl->height = gif->SHeight;
    if ((impl->width <= 0 || impl->height <= 0) && impl->count > 0) {
        impl->width = gif->SavedImages[0].ImageDesc.Width;
        impl->height = gif->SavedImages[0].ImageDesc.Height;
    }
    std::unique_ptr<GifImageSource> source(new GifImageSource());
    source->impl_ = std::move(impl);
    return source;
}

GifImageSource::~GifImageSource() = default;

size_t GifImageSource::count() const { return impl_->count; }
int GifImageSource::canvasWidth() const { return impl_->width; }

std::optional<imaging::RgbaImage> GifImageSource::createImage(size_t index) {
    auto& d = *impl_;
    if (index >= d.count || d.width <= 0 || d.height <= 0) return std::nullopt;
    if (static_cast<int64_t>(d.width) * d.height > maxCanvasPixels) return std::nullopt;
    if (d.canvas.empty()) d.canvas = imaging::RgbaImage(d.width, d.height);
    return d.compose(index);
}

std::optional<GifImageSource::FrameProperties> GifImageSource::properties(size_t index) const {
    if (index >= impl_->count) return std::nullopt;
    GraphicsControlBlock gcb{};
    if (DGifSavedExtensionToGCB(impl_->gif, static_cast<int>(index), &gcb) != GIF_OK) return std::nullopt;
    // Only a frame with a graphic control block carries a delay.
    const SavedImage& image = impl_->gif->SavedImages[index];
    bool hasBlock = false;
    for (int i = 0; i < image.ExtensionBlockCount; ++i)
        hasBlock = hasBlock || image.ExtensionBlocks[i].Function == GRAPHICS_EXT_FUNC_CODE;
    if (!hasBlock) return std::nullopt;
    FrameProperties p;
    p.unclampedDelayTime = gcb.DelayTime / 100.0;
    p.delayTime = *p.unclampedDelayTime <= 0.01 ? 0.1 : *p.unclampedDelayTime;
    return p;
}

}  // namespace calvoro::media
