#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int readFunc(GifFileType* gif, GifByteType* buf, int n) {
    auto* r = static_cast<Reader*>(gif->UserData);
    size_t count = std::min(static_cast<size_t>(std::max(n, 0)), r->size - r->pos);
    std::memcpy(buf, r->data + r->pos, count);
    r->pos += count;
    return static_cast<int>(count);
}

int writeFunc(GifFileType* gif, const GifByteType* buf, int n) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), buf, buf + n);
    return n;
}

struct DecoderCloser {
    void operator()(GifFileType* g) const {
        int err = 0;
        DGifCloseFile(g, &err);
    }
};

struct EncoderCloser {
    void operator()(GifFileType* g) const {
        int err = 0;
        EGifCloseFile(g, &err);
    }
};

}  // namespace

void decodeGIF(const uint8_t* data, size_t size, bool allFrames, DecodeResult& out) {
    Reader reader{data, size, 0};
    int error = 0;
    std::unique_ptr<GifFileType, DecoderCloser> gif(DGifOpen(&reader, readFunc, &error));
    if (!gif) fail("Could not decode GIF data");
    const int sw = gif->SWidth, sh = gif->SHeight;
    checkDimensions(static_cast<uint64_t>(std::max(sw, 1)), static_cast<uint64_t>(std::max(sh, 1)));
    RgbaImage canvas(std::max(sw, 1), std::max(sh, 1));
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    std::vector<GifPixelType> line;
    bool cut = false;
    int frameCount = 0;
    std::vector<double> delays;
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    while (!cut) {
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) break;
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) break;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) DGifExtensionToGCB(ext[0], ext + 1, &gcb);
            while (ext) {
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) {
                    cut = true;
                    break;
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) break;
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (desc.Width <= 0 || desc.Height <= 0 || static_cast<uint64_t>(desc.Width) * desc.Height > maxPixelCount) break;
        RgbaImage before;
        if (gcb.DisposalMode == DISPOSE_PREVIOUS) before = canvas;
        line.assign(static_cast<size_t>(desc.Width), 0);
        std::vector<int> rows(static_cast<size_t>(desc.Height));
        if (desc.Interlace) {
            int i = 0;
            const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = starts[pass]; y < desc.Height; y += steps[pass]) rows[static_cast<size_t>(i++)] = y;
        } else {
            for (int y = 0; y < desc.Height; ++y) rows[static_cast<size_t>(y)] = y;
        }
        bool drewAny = false;
        for (int i = 0; i < desc.Height; ++i) {
            if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) {
                // Keep the lines that arrived; the rest of the file is missing.
                cut = true;
                break;
            }
            drewAny = true;
            const int y = desc.Top + rows[static_cast<size_t>(i)];
            if (y < 0 || y >= canvas.height) continue;
            uint8_t* d = canvas.row(y);
            for (int x = 0; x < desc.Width; ++x) {
                const int cx = desc.Left + x;
                if (cx < 0 || cx >= canvas.width) continue;
                const int index = line[static_cast<size_t>(x)];
                if (index == gcb.TransparentColor) continue;
                uint8_t* p = d + static_cast<size_t>(cx) * 4;
                if (map && index < map->ColorCount) {
                    p[0] = map->Colors[index].Red;
                    p[1] = map->Colors[index].Green;
                    p[2] = map->Colors[index].Blue;
                } else {
                    p[0] = p[1] = p[2] = 0;
                }
                p[3] = 255;
            }
        }
        if (!drewAny && frameCount == 0) break;
        ++frameCount;
        delays.push_back(gcb.DelayTime / 100.0);
        if (allFrames || frameCount == 1) out.frames.push_back({canvas, gcb.DelayTime / 100.0});
        if (!allFrames && out.frames.size() == 1) {
            // Count the frames without decoding them.
            continue;
        }
        // Dispose for the next frame.
        if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            for (int y = std::max(0, desc.Top); y < std::min(canvas.height, desc.Top + desc.Height); ++y)
                for (int x = std::max(0, desc.Left); x < std::min(canvas.width, desc.Left + desc.Width); ++x)
                    std::memset(canvas.row(y) + static_cast<size_t>(x) * 4, 0, 4);
        } else if (gcb.DisposalMode == DISPOSE_PREVIOUS && !before.empty()) {
            canvas = std::move(before);
        }
        gcb = GraphicsControlBlock{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    }
    if (out.frames.empty()) fail("Could not decode GIF data");
    out.props.pixelWidth = canvas.width;
    out.props.pixelHeight = canvas.height;
    out.props.hasAlpha = true;
    out.props.frameCount = frameCount;
    out.props.frameDelays = delays;
}

Bytes encodeGIF(const std::vector<RgbaImage>& frames, const EncodeOptions& options) {
    if (frames.empty()) fail("Could not encode GIF");
    Bytes result;
    int error = 0;
    std::unique_ptr<GifFileType, EncoderCloser> gif(EGifOpen(&result, writeFunc, &error));
    if (!gif) fail("Could not encode GIF");
    const int w = frames[0].width, h = frames[0].height;
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), w, h, 8, 0, nullptr) == GIF_ERROR) fail("Could not encode GIF");
    if (frames.size() > 1) {
        // Loop forever, as animated images are expected to.
        const char netscape[] = "NETSCAPE2.0";
        const uint8_t loop[] = {1, 0, 0};
        EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif.get(), 11, netscape);
        EGifPutExtensionBlock(gif.get(), 3, loop);
        EGifPutExtensionTrailer(gif.get());
    }
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<GifByteType> r(n), g(n), b(n), indices(n);
    for (size_t f = 0; f < frames.size(); ++f) {
        const RgbaImage& frame = frames[f];
        if (frame.width != w || frame.height != h) fail("Could not encode GIF");
        bool transparent = false;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = frame.pixels.data() + i * 4;
            r[i] = p[0];
            g[i] = p[1];
            b[i] = p[2];
            if (p[3] < 128) transparent = true;
        }
        int colours = transparent ? 255 : 256;
        std::vector<GifColorType> palette(256);
        if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &colours, r.data(), g.data(), b.data(),
                              indices.data(), palette.data()) == GIF_ERROR)
            fail("Could not encode GIF");
        GraphicsControlBlock gcb{DISPOSE_BACKGROUND, false, 0, NO_TRANSPARENT_COLOR};
        if (transparent) {
            gcb.TransparentColor = 255;
            for (size_t i = 0; i < n; ++i)
                if (frame.pixels[i * 4 + 3] < 128) indices[i] = 255;
        }
        if (f < options.frameDelays.size()) gcb.DelayTime = static_cast<int>(std::lround(options.frameDelays[f] * 100));
        if (frames.size() > 1 || transparent) {
            GifByteType ext[4];
            size_t len = EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext);
        }
        std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)> map(GifMakeMapObject(256, palette.data()), GifFreeMapObject);
        if (!map) fail("Could not encode GIF");
        if (EGifPutImageDesc(gif.get(), 0, 0, w, h, false, map.get()) == GIF_ERROR) fail("Could not encode GIF");
        for (int y = 0; y < h; ++y)
            if (EGifPutLine(gif.get(), indices.data() + static_cast<size_t>(y) * w, w) == GIF_ERROR) fail("Could not encode GIF");
    }
    gif.reset();
    return result;
}

}  // namespace calvoro::imaging::detail
