#pragma once

// Internal to the media layer: what a sample buffer and a format description hold.

#include "platform/media/ffmpeg_util.h"
#include "platform/media/sample_buffer.h"

namespace calvoro::media {

struct FormatDescription::Impl {
    MediaType mediaType = MediaType::video;
    detail::Parameters parameters;
    AVRational timeBase{1, 1};
    int rotation = 0;
};

struct SampleBuffer::Impl {
    MediaType mediaType = MediaType::video;
    detail::Frame frame;    // decoded
    detail::Packet packet;  // compressed
    AVRational timeBase{1, 1};
    double startOffset = 0;  // seconds the asset's timeline starts at in the file
};

}  // namespace calvoro::media
