#include "platform/media/audio_encoding.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/media/media_error.h"

namespace calvoro::media::detail {

namespace {

bool oneOf(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

struct Choice {
    const char* encoder = nullptr;
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int rawBits = 0;
};

Choice choose(const AudioSettings& s, const std::string& muxer) {
    Choice c;
    int hint = s.encoderBitDepthHint.value_or(s.linearPCMBitDepth.value_or(16));
    switch (s.formatID) {
        case audioFormatAAC:
            if (!oneOf(muxer, {"ipod", "mp4", "mov", "adts"})) break;
            c.encoder = "aac";
            c.format = AV_SAMPLE_FMT_FLTP;
            break;
        case audioFormatALAC:
            if (!oneOf(muxer, {"ipod", "mp4", "mov"})) break;
            c.encoder = "alac";
            c.format = hint > 16 ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S16P;
            c.rawBits = hint > 16 ? 24 : 16;
            break;
        case audioFormatFLAC:
            if (muxer != "flac") break;
            c.encoder = "flac";
            c.format = hint > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
            c.rawBits = hint > 16 ? 24 : 16;
            break;
        case audioFormatLinearPCM: {
            bool big = muxer == "aiff";
            if (!big && muxer != "wav" && muxer != "mov") break;
            int depth = s.linearPCMBitDepth.value_or(16);
            bool isFloat = s.linearPCMIsFloat.value_or(false);
            if (isFloat) {
                c.encoder = big ? "pcm_f32be" : "pcm_f32le";
                c.format = AV_SAMPLE_FMT_FLT;
            } else if (depth == 16) {
                c.encoder = big ? "pcm_s16be" : "pcm_s16le";
                c.format = AV_SAMPLE_FMT_S16;
            } else if (depth == 24) {
                c.encoder = big ? "pcm_s24be" : "pcm_s24le";
                c.format = AV_SAMPLE_FMT_S32;
                c.rawBits = 24;
            } else if (depth == 32) {
                c.encoder = big ? "pcm_s32be" : "pcm_s32le";
                c.format = AV_SAMPLE_FMT_S32;
            }
            break;
        }
        default:
            break;
    }
    return c;
}

// The rate nearest to `rate` that the encoder takes (the first listed of two as near, the
// higher), as FFmpeg's own tools choose it; `rate` itself where the encoder takes any.
int nearestRate(const AVCodec* codec, int rate) {
    if (!codec->supported_samplerates) return rate;
    int best = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r)
        if (!best || std::abs(*r - rate) < std::abs(best - rate)) best = *r;
    return best ? best : rate;
}

// "AAC", "FLAC", "PCM": the encoder as people name it.
std::string displayName(const char* encoder) {
    std::string name(encoder, std::strcspn(encoder, "_"));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace

CodecContext openAudioEncoder(const AudioSettings& settings, const AVOutputFormat* muxer) {
    std::string muxerName = muxer ? muxer->name : "";
    Choice choice = choose(settings, muxerName);
    if (!choice.encoder) throw MediaError("The audio format cannot be written in a " + muxerName + " file");
    const AVCodec* codec = ff::api().avcodec_find_encoder_by_name(choice.encoder);
    if (!codec) throw MediaError(std::string("No encoder ") + choice.encoder);
    const int given = static_cast<int>(std::lround(settings.sampleRate));
    if (given <= 0 || settings.channelCount < 1 || settings.channelCount > 64)
        throw MediaError("Invalid audio format: " + std::to_string(given) + " Hz, " + std::to_string(settings.channelCount) + " channels");
    // The pump resamples what it is given to the rate chosen here.
    const int rate = nearestRate(codec, given);
    CodecContext enc(ff::api().avcodec_alloc_context3(codec));
    if (!enc) throw std::bad_alloc();
    enc->sample_rate = rate;
    enc->sample_fmt = choice.format;
    enc->time_base = AVRational{1, rate};
    AVChannelLayout layout = channelLayoutFor(codec, static_cast<int>(settings.channelCount));
    ff::api().av_channel_layout_copy(&enc->ch_layout, &layout);
    ff::api().av_channel_layout_uninit(&layout);
    if (choice.rawBits) enc->bits_per_raw_sample = choice.rawBits;
    if (settings.formatID == audioFormatAAC && settings.encoderBitRate && *settings.encoderBitRate > 0)
        enc->bit_rate = *settings.encoderBitRate;
    if (muxer && (muxer->flags & AVFMT_GLOBALHEADER)) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (ff::api().avcodec_open2(enc.get(), codec, nullptr) < 0) {
        const uint32_t channels = settings.channelCount;
        throw EncoderRefused("The " + displayName(choice.encoder) + " encoder cannot take sound of " + std::to_string(channels) +
                             (channels == 1 ? " channel" : " channels") + " at " + std::to_string(rate) + " Hz.");
    }
    return enc;
}

AudioEncodePump::AudioEncodePump(AVCodecContext* encoder, PacketSink sink)
    : enc_(encoder), sink_(std::move(sink)), frame_(makeFrame()), packet_(makePacket()) {
    bool variable = enc_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    frameSize_ = (enc_->frame_size > 0 && !variable) ? enc_->frame_size : 4096;
    fifo_.reset(ff::api().av_audio_fifo_alloc(enc_->sample_fmt, enc_->ch_layout.nb_channels, frameSize_ * 2));
    if (!fifo_) throw std::bad_alloc();
}

void AudioEncodePump::ensureResampler(AVSampleFormat format, const AVChannelLayout& layout, int sampleRate) {
    bool same = format == inFormat_ && sampleRate == inRate_ && ff::api().av_channel_layout_compare(&layout, &inLayout_) == 0;
    if (same && (swr_ || (format == enc_->sample_fmt && sampleRate == enc_->sample_rate &&
                           layout.nb_channels == enc_->ch_layout.nb_channels)))
        return;
    inFormat_ = format;
    inRate_ = sampleRate;
    ff::api().av_channel_layout_uninit(&inLayout_);
    ff::api().av_channel_layout_copy(&inLayout_, &layout);
    swr_.reset();
    // Same format, rate and channel count: the samples go straight into the queue.
    if (format == enc_->sample_fmt && sampleRate == enc_->sample_rate && layout.nb_channels == enc_->ch_layout.nb_channels)
        return;
    SwrContext* raw = nullptr;
    int rc = ff::api().swr_alloc_set_opts2(&raw, &enc_->ch_layout, enc_->sample_fmt, enc_->sample_rate,
                                           const_cast<AVChannelLayout*>(&layout), format, sampleRate, 0, nullptr);
    if (rc < 0 || !raw) throwError("Cannot set up audio conversion", rc < 0 ? rc : AVERROR(ENOMEM));
    swr_.reset(raw);
    rc = ff::api().swr_init(raw);
    if (rc < 0) throwError("Cannot set up audio conversion", rc);
}

void AudioEncodePump::push(const uint8_t* const* data, int frames, AVSampleFormat format, const AVChannelLayout& layout,
                           int sampleRate) {
    if (finished_ || frames <= 0) return;
    started_ = true;
    ensureResampler(format, layout, sampleRate);
    if (!swr_) {
        if (ff::api().av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(const_cast<uint8_t**>(data)), frames) < frames)
            throw std::bad_alloc();
    } else {
        // A slice at a time, the resampler keeping the input it has not given out yet: a source
        // far slower than the encoder's rate (a damaged header's 1 Hz) would otherwise need
        // buffers as many times larger than its own as the rates differ.
        constexpr int slice = 1 << 16;
        uint8_t** raw = nullptr;
        if (ff::api().av_samples_alloc_array_and_samples(&raw, nullptr, enc_->ch_layout.nb_channels, slice, enc_->sample_fmt, 0) < 0)
            throw std::bad_alloc();
        const auto release = [](uint8_t** planes) {
            ff::api().av_freep(&planes[0]);
            ff::api().av_freep(&planes);
        };
        std::unique_ptr<uint8_t*, decltype(release)> out(raw, release);
        const auto in = const_cast<const uint8_t**>(data);
        int got = ff::api().swr_convert(swr_.get(), out.get(), slice, in, frames);
        while (got > 0) {
            ff::api().av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out.get()), got);
            encodeAvailable(false);
            if (got < slice) break;
            got = ff::api().swr_convert(swr_.get(), out.get(), slice, in, 0);
        }
        if (got < 0) throwError("Audio conversion failed", got);
    }
    encodeAvailable(false);
}

void AudioEncodePump::encodeAvailable(bool flushAll) {
    while (ff::api().av_audio_fifo_size(fifo_.get()) >= frameSize_ || (flushAll && ff::api().av_audio_fifo_size(fifo_.get()) > 0)) {
        int n = std::min(frameSize_, ff::api().av_audio_fifo_size(fifo_.get()));
        Frame frame = makeFrame();
        frame->nb_samples = n;
        frame->format = enc_->sample_fmt;
        frame->sample_rate = enc_->sample_rate;
        ff::api().av_channel_layout_copy(&frame->ch_layout, &enc_->ch_layout);
        int rc = ff::api().av_frame_get_buffer(frame.get(), 0);
        if (rc < 0) throw std::bad_alloc();
        ff::api().av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), n);
        frame->pts = nextPts_;
        nextPts_ += n;
        send(frame.get());
    }
}

void AudioEncodePump::send(AVFrame* frame) {
    int rc = ff::api().avcodec_send_frame(enc_, frame);
    if (rc < 0 && rc != AVERROR_EOF) throwError("Audio encoding failed", rc);
    for (;;) {
        rc = ff::api().avcodec_receive_packet(enc_, packet_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) throwError("Audio encoding failed", rc);
        sink_(packet_.get());
        ff::api().av_packet_unref(packet_.get());
    }
}

void AudioEncodePump::finish() {
    if (finished_) return;
    finished_ = true;
    if (swr_) {
        int capacity = ff::api().swr_get_out_samples(swr_.get(), 0);
        if (capacity > 0) {
            uint8_t** out = nullptr;
            if (ff::api().av_samples_alloc_array_and_samples(&out, nullptr, enc_->ch_layout.nb_channels, capacity,
                                                             enc_->sample_fmt, 0) >= 0) {
                int got = ff::api().swr_convert(swr_.get(), out, capacity, nullptr, 0);
                if (got > 0) ff::api().av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out), got);
                ff::api().av_freep(&out[0]);
                ff::api().av_freep(&out);
            }
        }
    }
    encodeAvailable(true);
    send(nullptr);
    ff::api().av_channel_layout_uninit(&inLayout_);
}

}  // namespace calvoro::media::detail
