#pragma once

// Internal to the media layer: RAII holders and small helpers over the FFmpeg C API (see ffmpeg_api.h).

#include "platform/media/ffmpeg_api.h"

#include <filesystem>
#include <memory>
#include <string>

namespace calvoro::media {
class Asset;
}

namespace calvoro::media::detail {

std::string errorText(int code);
[[noreturn]] void throwError(const std::string& context, int code);

// The deleters release through loadedApi(): an object of FFmpeg exists only once it is loaded.
struct InputDeleter {
    void operator()(AVFormatContext* c) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->avformat_close_input(&c);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->avcodec_free_context(&c);
    }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->av_frame_free(&f);
    }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->av_packet_free(&p);
    }
};
struct SwsDeleter {
    void operator()(SwsContext* c) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->sws_freeContext(c);
    }
};
struct SwrDeleter {
    void operator()(SwrContext* c) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->swr_free(&c);
    }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->av_audio_fifo_free(f);
    }
};
struct ParametersDeleter {
    void operator()(AVCodecParameters* p) const noexcept {
        if (const ff::Api* api = ff::loadedApi()) api->avcodec_parameters_free(&p);
    }
};

using InputContext = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using ScaleContext = std::unique_ptr<SwsContext, SwsDeleter>;
using ResampleContext = std::unique_ptr<SwrContext, SwrDeleter>;
using AudioFifo = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using Parameters = std::unique_ptr<AVCodecParameters, ParametersDeleter>;

Frame makeFrame();
Packet makePacket();

// An output file with its muxer; the trailer is the owner's business, closing is ours.
class OutputContext {
public:
    // Throws MediaError when the muxer is unknown or the file cannot be created.
    OutputContext(const std::filesystem::path& path, const char* muxer);
    ~OutputContext();
    OutputContext(const OutputContext&) = delete;
    OutputContext& operator=(const OutputContext&) = delete;
    AVFormatContext* get() const { return ctx_; }
    AVFormatContext* operator->() const { return ctx_; }
    // Closes the file; returns the error code of the close (0 when fine).
    int closeFile();

private:
    AVFormatContext* ctx_ = nullptr;
};

// Opens a file for demuxing and reads its stream information.
InputContext openInput(const std::filesystem::path& path);
// Opens a file for demuxing and reads its header only; readStreamInfo completes it as openInput does.
InputContext openInputHeader(const std::filesystem::path& path);
void readStreamInfo(AVFormatContext* ctx, const std::filesystem::path& path);
// The asset's file as its full probe left it open, given once (to its first reader); empty when
// taken before, not yet probed or probed from the header alone.
InputContext takeProbedInput(const Asset& asset);
// A decoder for a stream, opened, threads left to FFmpeg.
CodecContext openDecoder(const AVStream* stream);

// A layout of the given channel count that the encoder accepts (its own list when it has one).
AVChannelLayout channelLayoutFor(const AVCodec* codec, int channels);
// The same channel count in a usable layout (an unspecified order becomes the default one).
AVChannelLayout normalizedLayout(const AVChannelLayout& layout);

// Clockwise rotation in degrees (0, 90, 180, 270) that shows the stream upright.
int streamRotation(const AVStream* stream);
void setStreamRotation(AVStream* stream, int clockwiseDegrees);

}  // namespace calvoro::media::detail
