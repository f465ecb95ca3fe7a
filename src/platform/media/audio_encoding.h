#pragma once

// Internal to the media layer: opening audio encoders and feeding them whole frames.

#include <functional>

#include "platform/media/audio_settings.h"
#include "platform/media/ffmpeg_util.h"

namespace calvoro::media::detail {

// The encoder for the settings in the given muxer; throws MediaError when they do not fit.
CodecContext openAudioEncoder(const AudioSettings& settings, const AVOutputFormat* muxer);

// Converts incoming samples to the encoder's format and hands it frames of its own size.
class AudioEncodePump {
public:
    using PacketSink = std::function<void(AVPacket*)>;
    AudioEncodePump(AVCodecContext* encoder, PacketSink sink);
    ~AudioEncodePump() {
        if (const ff::Api* api = ff::loadedApi()) api->av_channel_layout_uninit(&inLayout_);
    }
    AudioEncodePump(const AudioEncodePump&) = delete;
    AudioEncodePump& operator=(const AudioEncodePump&) = delete;
    // Samples in any layout of the encoder's channel count, at any rate (resampled when it differs).
    void push(const uint8_t* const* data, int frames, AVSampleFormat format, const AVChannelLayout& layout, int sampleRate);
    void setNextPts(int64_t pts) { nextPts_ = pts; }
    bool started() const { return started_; }
    // Encodes what is left and drains the encoder.
    void finish();

private:
    void ensureResampler(AVSampleFormat format, const AVChannelLayout& layout, int sampleRate);
    void encodeAvailable(bool flushAll);
    void send(AVFrame* frame);

    AVCodecContext* enc_;
    PacketSink sink_;
    ResampleContext swr_;
    AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
    AVChannelLayout inLayout_{};
    int inRate_ = 0;
    AudioFifo fifo_;
    Frame frame_;
    Packet packet_;
    int frameSize_ = 4096;
    int64_t nextPts_ = 0;
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace calvoro::media::detail
