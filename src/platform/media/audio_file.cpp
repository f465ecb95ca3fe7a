#include "platform/media/audio_file.h"

#include <cmath>
#include <system_error>

#include "core/text_util.h"
#include "platform/media/audio_encoding.h"
#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"

namespace calvoro::media {

using namespace detail;

namespace {

AVSampleFormat sampleFormatOf(CommonFormat format, bool interleaved) {
    if (format == CommonFormat::int16) return interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    return interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
}

const char* muxerForExtension(const std::filesystem::path& path) {
    std::string ext = unicodeLowercased(pathExtension(path));
    if (ext == "m4a") return "ipod";
    if (ext == "aac") return "adts";
    if (ext == "wav") return "wav";
    if (ext == "aif" || ext == "aiff" || ext == "aifc") return "aiff";
    if (ext == "flac") return "flac";
    return nullptr;
}

int64_t framesFor(int64_t value, AVRational base, int rate) {
    return static_cast<int64_t>(std::llround(static_cast<double>(value) * av_q2d(base) * rate));
}

}  // namespace

PcmBuffer::PcmBuffer(AudioFormat format, uint32_t frameCapacity) : format_(format), capacity_(frameCapacity) {
    size_t sampleSize = format.commonFormat == CommonFormat::int16 ? 2 : 4;
    size_t perPlane = static_cast<size_t>(frameCapacity) * sampleSize * (format.interleaved ? format.channelCount : 1);
    planes_.assign(static_cast<size_t>(planeCount()), std::vector<uint8_t>(perPlane + 64, 0));
}

struct AudioFile::Impl {
    AudioFormat file;
    AudioFormat processing;
    AVSampleFormat processingFormat = AV_SAMPLE_FMT_NONE;
    int64_t length = 0;
    int64_t position = 0;

    // Reading.
    InputContext input;
    int stream = -1;
    CodecContext decoder;
    ResampleContext swr;
    AVSampleFormat swrInFormat = AV_SAMPLE_FMT_NONE;
    int swrInRate = 0;
    int swrInChannels = 0;
    AVChannelLayout layout{};
    AudioFifo fifo;
    Packet packet;
    Frame frame;
    bool demuxEnded = false;
    bool decoderEnded = false;

    // Writing.
    std::filesystem::path path;
    std::unique_ptr<OutputContext> output;
    CodecContext encoder;
    std::unique_ptr<AudioEncodePump> pump;
    bool closed = false;

    ~Impl() {
        if (const ff::Api* api = ff::loadedApi()) api->av_channel_layout_uninit(&layout);
    }

    void queueFrame(AVFrame* f) {
        bool direct = f->format == processingFormat && f->sample_rate == static_cast<int>(file.sampleRate) &&
                      f->ch_layout.nb_channels == static_cast<int>(file.channelCount);
        if (direct) {
            ff::api().av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(f->extended_data), f->nb_samples);
            return;
        }
        if (!swr || swrInFormat != f->format || swrInRate != f->sample_rate || swrInChannels != f->ch_layout.nb_channels) {
            AVChannelLayout in = normalizedLayout(f->ch_layout);
            SwrContext* raw = nullptr;
            int rc = ff::api().swr_alloc_set_opts2(&raw, &layout, processingFormat, static_cast<int>(file.sampleRate), &in,
                                                   static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
            ff::api().av_channel_layout_uninit(&in);
            if (rc < 0 || !raw) throwError("Cannot convert audio", rc < 0 ? rc : AVERROR(ENOMEM));
            swr.reset(raw);
            if ((rc = ff::api().swr_init(raw)) < 0) throwError("Cannot convert audio", rc);
            swrInFormat = static_cast<AVSampleFormat>(f->format);
            swrInRate = f->sample_rate;
            swrInChannels = f->ch_layout.nb_channels;
        }
        int capacity = ff::api().swr_get_out_samples(swr.get(), f->nb_samples);
        uint8_t** out = nullptr;
        if (ff::api().av_samples_alloc_array_and_samples(&out, nullptr, static_cast<int>(file.channelCount), capacity,
                                                          processingFormat, 0) < 0)
            throw std::bad_alloc();
        int got = ff::api().swr_convert(swr.get(), out, capacity, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        if (got > 0) ff::api().av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out), got);
        ff::api().av_freep(&out[0]);
        ff::api().av_freep(&out);
        if (got < 0) throwError("Cannot convert audio", got);
    }

    // Decodes until the queue holds samples again; false at the end of the stream.
    bool decodeMore() {
        while (!decoderEnded) {
            int rc = ff::api().avcodec_receive_frame(decoder.get(), frame.get());
            if (rc == 0) {
                queueFrame(frame.get());
                ff::api().av_frame_unref(frame.get());
                return true;
            }
            if (rc == AVERROR_EOF) {
                decoderEnded = true;
                break;
            }
            if (rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) throwError("Cannot decode audio", rc);
            if (rc == AVERROR_INVALIDDATA) continue;
            if (demuxEnded) {
                decoderEnded = true;
                break;
            }
            rc = ff::api().av_read_frame(input.get(), packet.get());
            if (rc == AVERROR_EOF) {
                demuxEnded = true;
                ff::api().avcodec_send_packet(decoder.get(), nullptr);
                continue;
            }
            if (rc < 0) throwError("Cannot read audio", rc);
            if (packet->stream_index == stream) {
                rc = ff::api().avcodec_send_packet(decoder.get(), packet.get());
                // A damaged packet is left out, as players do; the rest of the stream still plays.
                if (rc < 0 && rc != AVERROR_INVALIDDATA && rc != AVERROR(EAGAIN)) {
                    ff::api().av_packet_unref(packet.get());
                    throwError("Cannot decode audio", rc);
                }
            }
            ff::api().av_packet_unref(packet.get());
        }
        // What the resampler still holds.
        if (swr && ff::api().swr_get_delay(swr.get(), static_cast<int>(file.sampleRate)) > 0) {
            int capacity = ff::api().swr_get_out_samples(swr.get(), 0);
            uint8_t** out = nullptr;
            if (capacity > 0 &&
                ff::api().av_samples_alloc_array_and_samples(&out, nullptr, static_cast<int>(file.channelCount), capacity,
                                                             processingFormat, 0) >= 0) {
                int got = ff::api().swr_convert(swr.get(), out, capacity, nullptr, 0);
                if (got > 0) ff::api().av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out), got);
                ff::api().av_freep(&out[0]);
                ff::api().av_freep(&out);
                return got > 0;
            }
        }
        return false;
    }
};

AudioFile::AudioFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AudioFile::~AudioFile() {
    if (impl_ && impl_->pump && !impl_->closed) {
        try {
            close();
        } catch (...) {
        }
    }
}

std::unique_ptr<AudioFile> AudioFile::openForReading(const std::filesystem::path& path, CommonFormat format, bool interleaved) {
    auto impl = std::make_unique<Impl>();
    impl->input = openInput(path);
    AVFormatContext* ctx = impl->input.get();
    int index = ff::api().av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) throw MediaError("No audio in " + path.filename().string());
    impl->stream = index;
    AVStream* st = ctx->streams[index];
    impl->decoder = openDecoder(st);
    int channels = impl->decoder->ch_layout.nb_channels > 0 ? impl->decoder->ch_layout.nb_channels : st->codecpar->ch_layout.nb_channels;
    int rate = impl->decoder->sample_rate > 0 ? impl->decoder->sample_rate : st->codecpar->sample_rate;
    if (channels <= 0 || rate <= 0) throw MediaError("The audio format of " + path.filename().string() + " is not known");
    AVChannelLayout source = impl->decoder->ch_layout.nb_channels > 0 ? impl->decoder->ch_layout : st->codecpar->ch_layout;
    impl->layout = normalizedLayout(source);
    impl->file = AudioFormat{static_cast<double>(rate), static_cast<uint32_t>(channels), CommonFormat::int16, true};
    impl->processing = AudioFormat{static_cast<double>(rate), static_cast<uint32_t>(channels), format, interleaved};
    impl->processingFormat = sampleFormatOf(format, interleaved);
    impl->fifo.reset(ff::api().av_audio_fifo_alloc(impl->processingFormat, channels, 16384));
    if (!impl->fifo) throw std::bad_alloc();
    impl->packet = makePacket();
    impl->frame = makeFrame();

    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
        impl->length = framesFor(st->duration, st->time_base, rate);
    } else if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0) {
        impl->length = framesFor(ctx->duration, AVRational{1, AV_TIME_BASE}, rate);
    } else {
        // No duration in the file: count the packets' own durations once.
        auto scan = openInput(path);
        Packet p = makePacket();
        int64_t total = 0;
        while (ff::api().av_read_frame(scan.get(), p.get()) >= 0) {
            if (p->stream_index == index && p->duration > 0) total += p->duration;
            ff::api().av_packet_unref(p.get());
        }
        impl->length = framesFor(total, scan->streams[index]->time_base, rate);
    }
    return std::unique_ptr<AudioFile>(new AudioFile(std::move(impl)));
}

std::unique_ptr<AudioFile> AudioFile::openForWriting(const std::filesystem::path& path, const AudioSettings& settings,
                                                     CommonFormat format, bool interleaved) {
    const char* muxer = muxerForExtension(path);
    if (!muxer) throw MediaError("No audio file type for the extension of " + path.filename().string());
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->processingFormat = sampleFormatOf(format, interleaved);
    try {
        impl->output = std::make_unique<OutputContext>(path, muxer);
        AVFormatContext* ctx = impl->output->get();
        impl->encoder = openAudioEncoder(settings, ctx->oformat);
        AVStream* st = ff::api().avformat_new_stream(ctx, nullptr);
        if (!st) throw std::bad_alloc();
        int rc = ff::api().avcodec_parameters_from_context(st->codecpar, impl->encoder.get());
        if (rc < 0) throwError("Cannot configure the audio stream", rc);
        st->time_base = impl->encoder->time_base;
        rc = ff::api().avformat_write_header(ctx, nullptr);
        if (rc < 0) throwError("Cannot write " + path.filename().string(), rc);
        AVCodecContext* enc = impl->encoder.get();
        impl->pump = std::make_unique<AudioEncodePump>(enc, [ctx, st, enc](AVPacket* pkt) {
            ff::api().av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            int rc = ff::api().av_interleaved_write_frame(ctx, pkt);
            if (rc < 0) throwError("Cannot write audio", rc);
        });
    } catch (...) {
        impl->output.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
        throw;
    }
    // Samples are taken at the rate asked for and stored at the encoder's, which may differ.
    impl->file = AudioFormat{static_cast<double>(impl->encoder->sample_rate), settings.channelCount, CommonFormat::int16, true};
    impl->processing = AudioFormat{settings.sampleRate, settings.channelCount, format, interleaved};
    return std::unique_ptr<AudioFile>(new AudioFile(std::move(impl)));
}

AudioFormat AudioFile::fileFormat() const { return impl_->file; }
AudioFormat AudioFile::processingFormat() const { return impl_->processing; }
int64_t AudioFile::length() const { return impl_->length; }
int64_t AudioFile::framePosition() const { return impl_->position; }

void AudioFile::read(PcmBuffer& buffer) {
    auto& d = *impl_;
    if (!d.decoder) throw MediaError("The audio file is not open for reading");
    if (buffer.format().commonFormat != d.processing.commonFormat || buffer.format().interleaved != d.processing.interleaved ||
        buffer.format().channelCount != d.processing.channelCount)
        throw MediaError("The buffer's format differs from the file's processing format");
    int capacity = static_cast<int>(buffer.frameCapacity());
    while (ff::api().av_audio_fifo_size(d.fifo.get()) < capacity && d.decodeMore()) {
    }
    int n = std::min(capacity, ff::api().av_audio_fifo_size(d.fifo.get()));
    void* planes[64];
    for (int i = 0; i < buffer.planeCount() && i < 64; ++i) planes[i] = buffer.plane(i);
    if (n > 0) n = ff::api().av_audio_fifo_read(d.fifo.get(), planes, n);
    buffer.setFrameLength(static_cast<uint32_t>(std::max(n, 0)));
    d.position += std::max(n, 0);
}

void AudioFile::write(const PcmBuffer& buffer) {
    auto& d = *impl_;
    if (!d.pump || d.closed) throw MediaError("The audio file is not open for writing");
    const uint8_t* planes[64];
    for (int i = 0; i < buffer.planeCount() && i < 64; ++i) planes[i] = buffer.plane(i);
    AVChannelLayout layout{};
    ff::api().av_channel_layout_default(&layout, static_cast<int>(buffer.format().channelCount));
    d.pump->push(planes, static_cast<int>(buffer.frameLength()), sampleFormatOf(buffer.format().commonFormat, buffer.format().interleaved),
                 layout, static_cast<int>(std::lround(buffer.format().sampleRate)));
    d.position += buffer.frameLength();
}

void AudioFile::close() {
    auto& d = *impl_;
    if (!d.pump || d.closed) return;
    d.closed = true;
    d.pump->finish();
    int rc = ff::api().av_write_trailer(d.output->get());
    int closeRc = d.output->closeFile();
    if (rc < 0) throwError("Cannot finish " + d.path.filename().string(), rc);
    if (closeRc < 0) throwError("Cannot close " + d.path.filename().string(), closeRc);
}

}  // namespace calvoro::media
