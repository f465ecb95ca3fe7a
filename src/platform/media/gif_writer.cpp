#include "platform/media/gif_writer.h"
#include "platform/media/gif_palette.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace calvoro::media {

struct GifWriter::Impl {
    GifFileType* gif = nullptr;
    int width = 0;
    int height = 0;
    bool started = false;
    bool failed = false;

    ~Impl() { close(); }
    bool close() {
        if (!gif) return false;
        int err = 0;
        bool ok = EGifCloseFile(gif, &err) == GIF_OK;
        gif = nullptr;
        return ok;
    }
};

std::unique_ptr<GifWriter> GifWriter::create(const std::filesystem::path& path, size_t) {
    // Opened here rather than by the library, which makes its files 0600 whatever the umask says.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    int err = 0;
    GifFileType* gif = EGifOpenFileHandle(fd, &err);
    if (!gif) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<GifWriter> writer(new GifWriter());
    writer->impl_ = std::make_unique<Impl>();
    writer->impl_->gif = gif;
    return writer;
}

GifWriter::~GifWriter() = default;

bool GifWriter::addImage(const imaging::RgbaImage& image, double delaySeconds) {
    auto& d = *impl_;
    if (!d.gif || d.failed || image.empty() || image.width > 65535 || image.height > 65535) return false;
    if (!d.started) {
        d.width = image.width;
        d.height = image.height;
        EGifSetGifVersion(d.gif, true);
        bool ok = EGifPutScreenDesc(d.gif, d.width, d.height, 8, 0, nullptr) == GIF_OK;
        // The NETSCAPE2.0 block carries the loop count.
        unsigned char loop[3] = {1, static_cast<unsigned char>(loopCount_ & 0xFF), static_cast<unsigned char>((loopCount_ >> 8) & 0xFF)};
        ok = ok && EGifPutExtensionLeader(d.gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
             EGifPutExtensionBlock(d.gif, 11, "NETSCAPE2.0") == GIF_OK && EGifPutExtensionBlock(d.gif, 3, loop) == GIF_OK &&
             EGifPutExtensionTrailer(d.gif) == GIF_OK;
        d.started = true;
        if (!ok) {
            d.failed = true;
            return false;
        }
    }
    int w = std::min(image.width, d.width);
    int h = std::min(image.height, d.height);
    const IndexedPicture picture = quantizePicture(image, w, h);
    GifColorType colors[256] = {};
    for (size_t i = 0; i < picture.palette.size(); ++i)
        colors[i] = {picture.palette[i][0], picture.palette[i][1], picture.palette[i][2]};
    ColorMapObject* map = GifMakeMapObject(256, colors);
    if (!map) return false;
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSE_DO_NOT;
    gcb.UserInputFlag = false;
    // Hundredths of a second; 0 would mean "as fast as the viewer likes", so the least is 1.
    gcb.DelayTime = static_cast<int>(std::clamp(std::lround(delaySeconds * 100.0), 1L, 65535L));
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    size_t length = EGifGCBToExtension(&gcb, extension);
    bool ok = EGifPutExtension(d.gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK &&
              EGifPutImageDesc(d.gif, 0, 0, w, h, false, map) == GIF_OK;
    for (int y = 0; ok && y < h; ++y) ok = EGifPutLine(d.gif, const_cast<GifByteType*>(picture.indices.data()) + static_cast<size_t>(y) * static_cast<size_t>(w), w) == GIF_OK;
    GifFreeMapObject(map);
    if (!ok) {
        d.failed = true;
        return false;
    }
    ++written_;
    return true;
}

bool GifWriter::finalize() {
    auto& d = *impl_;
    bool wrote = written_ > 0 && !d.failed;
    bool closed = d.close();
    return wrote && closed;
}

}  // namespace calvoro::media
