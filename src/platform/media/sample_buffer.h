#pragma once

#include <cstdint>
#include <memory>

#include "platform/media/asset.h"

namespace calvoro::media {

// One unit of media from an asset reader: decoded pictures or samples, or a compressed packet
// (passthrough outputs). It is handed to an asset writer input unchanged.
class SampleBuffer {
public:
    struct Impl;
    explicit SampleBuffer(std::unique_ptr<Impl> impl);
    ~SampleBuffer();
    SampleBuffer(SampleBuffer&&) noexcept;
    SampleBuffer& operator=(SampleBuffer&&) noexcept;

    MediaType mediaType() const;
    // Seconds on the asset's timeline; NaN when the unit carries no time.
    double presentationTimeSeconds() const;
    // Decoded audio: sample frames. Decoded video: 1. Compressed: 0.
    int64_t frameCount() const;
    // Compressed: the packet's bytes. Decoded: 0.
    int64_t byteSize() const;
    // Compressed: whether decoding can start at this packet (a key frame).
    bool isKeyFrame() const;
    // Decoded video: picture size.
    int width() const;
    int height() const;

    Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// The compressed format of a track, which a passthrough writer input copies.
class FormatDescription {
public:
    struct Impl;
    explicit FormatDescription(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
    MediaType mediaType() const;
    const Impl& impl() const { return *impl_; }

private:
    std::shared_ptr<const Impl> impl_;
};

// A BGRA picture with 32 bits per pixel (blue first in memory), as an asset writer takes it.
class PixelBuffer {
public:
    PixelBuffer(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerRow() const { return width_ * 4; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    void fill(uint8_t blue, uint8_t green, uint8_t red, uint8_t alpha);

private:
    int width_;
    int height_;
    std::unique_ptr<uint8_t[]> data_;
};

}  // namespace calvoro::media
