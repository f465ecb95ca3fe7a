#include <gif_lib.h>

#include <algorithm>
#include <array>
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

// The minimum code size of the frame whose descriptor starts at descriptorAt (after its ','),
// once the descriptor, its colour table and that byte have been read up to end; -1 when they
// were not all read or the size is above 11.
int wideCodeSize(const uint8_t* data, size_t size, size_t descriptorAt, size_t end) {
    if (descriptorAt + 9 > size) return -1;
    const uint8_t flags = data[descriptorAt + 8];
    const size_t at = descriptorAt + 9 + (flags & 0x80 ? 3u * (2u << (flags & 7)) : 0u);
    if (at + 1 != end || at >= size || data[at] > 11) return -1;
    return data[at];
}

// The LZW decoder of one frame's data, ours so that minimum code sizes up to 11 are read.
// Indices then go up to 11 bits; those past the palette are black.
class LzwDecoder {
public:
    LzwDecoder(const std::vector<uint8_t>& data, int minimumCodeSize) : data_(data), minimum_(minimumCodeSize) { reset(); }

    // Decodes the next indices into out until it is full, the end code comes or the data runs
    // out (or is damaged); returns how many were written.
    size_t decode(uint16_t* out, size_t count) {
        const int clear = 1 << minimum_, end = clear + 1;
        size_t written = 0;
        while (written < count) {
            // Flush what the last code left unwritten first.
            while (!pending_.empty() && written < count) {
                out[written++] = pending_.back();
                pending_.pop_back();
            }
            if (written == count || ended_) break;
            while (bitCount_ < codeSize_ && bytePos_ < data_.size()) {
                bits_ |= static_cast<uint32_t>(data_[bytePos_++]) << bitCount_;
                bitCount_ += 8;
            }
            if (bitCount_ < codeSize_) break;
            const int code = static_cast<int>(bits_ & ((1u << codeSize_) - 1));
            bits_ >>= codeSize_;
            bitCount_ -= codeSize_;
            if (code == clear) {
                reset();
                continue;
            }
            if (code == end) {
                ended_ = true;
                break;
            }
            if (previous_ < 0) {
                if (code >= clear) {
                    ended_ = true;
                    break;
                }
                pending_.push_back(static_cast<uint16_t>(code));
                previous_ = code;
                continue;
            }
            int walk = code;
            if (code < next_) {
                pending_.clear();
            } else if (code == next_ && next_ < maxCodes) {
                // The code being defined: the previous string and its own first index.
                pending_.assign(1, firstOf(previous_));
                walk = previous_;
            } else {
                ended_ = true;
                break;
            }
            for (; walk >= clear; walk = prefix_[static_cast<size_t>(walk)]) pending_.push_back(suffix_[static_cast<size_t>(walk)]);
            pending_.push_back(static_cast<uint16_t>(walk));
            // A full table takes no more codes until the encoder clears it.
            if (next_ < maxCodes) {
                prefix_[static_cast<size_t>(next_)] = static_cast<int16_t>(previous_);
                suffix_[static_cast<size_t>(next_)] = pending_.back();
                ++next_;
                if (next_ == (1 << codeSize_) && codeSize_ < 12) ++codeSize_;
            }
            previous_ = code;
        }
        return written;
    }

private:
    static constexpr int maxCodes = 4096;

    void reset() {
        codeSize_ = minimum_ + 1;
        next_ = (1 << minimum_) + 2;
        previous_ = -1;
    }
    uint16_t firstOf(int code) const {
        while (code >= (1 << minimum_)) code = prefix_[static_cast<size_t>(code)];
        return static_cast<uint16_t>(code);
    }

    const std::vector<uint8_t>& data_;
    size_t bytePos_ = 0;
    uint32_t bits_ = 0;  // read from the data, not yet taken as codes, lowest first
    int bitCount_ = 0;
    bool ended_ = false;
    int minimum_;
    int codeSize_ = 0;
    int next_ = 0;
    int previous_ = -1;
    std::array<int16_t, maxCodes> prefix_{};
    std::array<uint16_t, maxCodes> suffix_{};
    std::vector<uint16_t> pending_;  // the current string, last index first
};

// The frame's compressed data, its sub-blocks joined; false when the file ends inside them.
bool readFrameData(GifFileType* gif, std::vector<uint8_t>& data) {
    GifByteType* block = nullptr;
    data.clear();
    int codeSize = 0;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
    while (block) {
        data.insert(data.end(), block + 1, block + 1 + block[0]);
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
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

// Reads an extension, keeping a graphic control block's settings for the next frame; false
// when the file ends or fails inside it.
bool readExtension(GifFileType* gif, GraphicsControlBlock& gcb) {
    int code = 0;
    GifByteType* ext = nullptr;
    if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) DGifExtensionToGCB(ext[0], ext + 1, &gcb);
    while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return false;
    return true;
}

// The canvas row of each of the frame's lines in the order they are stored.
std::vector<int> storedRowOrder(const GifImageDesc& desc) {
    std::vector<int> rows(static_cast<size_t>(desc.Height));
    if (desc.Interlace) {
        int i = 0;
        const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = starts[pass]; y < desc.Height; y += steps[pass]) rows[static_cast<size_t>(i++)] = y;
    } else {
        for (int y = 0; y < desc.Height; ++y) rows[static_cast<size_t>(y)] = y;
    }
    return rows;
}

// One line of indices onto canvas row y, leaving transparent ones and what lies outside.
void drawLine(RgbaImage& canvas, int y, const GifImageDesc& desc, const ColorMapObject* map, int transparent,
              const std::vector<uint16_t>& line) {
    uint8_t* d = canvas.row(y);
    for (int x = 0; x < desc.Width; ++x) {
        const int cx = desc.Left + x;
        if (cx < 0 || cx >= canvas.width) continue;
        const int index = line[static_cast<size_t>(x)];
        if (index == transparent) continue;
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

// Draws the frame's lines as they decode; returns whether any did. A frame that ends early
// keeps the lines that arrived and sets cut: the rest of the file is missing or damaged.
bool drawFrame(LzwDecoder& lzw, const GifImageDesc& desc, const ColorMapObject* map, int transparent, RgbaImage& canvas,
               bool& cut) {
    std::vector<uint16_t> line(static_cast<size_t>(desc.Width), 0);
    const std::vector<int> rows = storedRowOrder(desc);
    bool drewAny = false;
    for (int i = 0; i < desc.Height; ++i) {
        if (lzw.decode(line.data(), line.size()) < line.size()) {
            cut = true;
            break;
        }
        drewAny = true;
        const int y = desc.Top + rows[static_cast<size_t>(i)];
        if (y >= 0 && y < canvas.height) drawLine(canvas, y, desc, map, transparent, line);
    }
    return drewAny;
}

// Disposes of the frame for the next one.
void dispose(RgbaImage& canvas, const GifImageDesc& desc, int disposalMode, RgbaImage& before) {
    if (disposalMode == DISPOSE_BACKGROUND) {
        for (int y = std::max(0, desc.Top); y < std::min(canvas.height, desc.Top + desc.Height); ++y)
            for (int x = std::max(0, desc.Left); x < std::min(canvas.width, desc.Left + desc.Width); ++x)
                std::memset(canvas.row(y) + static_cast<size_t>(x) * 4, 0, 4);
    } else if (disposalMode == DISPOSE_PREVIOUS && !before.empty()) {
        canvas = std::move(before);
    }
}

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
    std::vector<uint8_t> compressed;
    bool cut = false;
    int frameCount = 0;
    std::vector<double> delays;
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    while (!cut) {
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) break;
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            if (!readExtension(gif.get(), gcb)) break;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        const size_t descriptorAt = reader.pos;
        const bool described = DGifGetImageDesc(gif.get()) != GIF_ERROR;
        // giflib reads the minimum code size last, straight through the reader, and refuses one
        // above 8 though the format allows up to 11 (codes 12 bits wide from the start), which
        // other readers take: the decoder below reads the frame whatever giflib made of it.
        const int minimumCodeSize = wideCodeSize(data, size, descriptorAt, reader.pos);
        if (!described && minimumCodeSize <= 8) break;
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (desc.Width <= 0 || desc.Height <= 0 || static_cast<uint64_t>(desc.Width) * desc.Height > maxPixelCount) break;
        RgbaImage before;
        if (gcb.DisposalMode == DISPOSE_PREVIOUS) before = canvas;
        if (minimumCodeSize < 0) break;
        if (!readFrameData(gif.get(), compressed)) cut = true;
        LzwDecoder lzw(compressed, minimumCodeSize);
        if (!drawFrame(lzw, desc, map, gcb.TransparentColor, canvas, cut) && frameCount == 0) break;
        ++frameCount;
        delays.push_back(gcb.DelayTime / 100.0);
        if (allFrames || frameCount == 1) out.frames.push_back({canvas, gcb.DelayTime / 100.0});
        if (!allFrames && out.frames.size() == 1) {
            // Count the frames without decoding them.
            continue;
        }
        dispose(canvas, desc, gcb.DisposalMode, before);
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
