#include "platform/media/asset_reader.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"
#include "platform/media/sample_buffer_impl.h"

namespace calvoro::media {

using namespace detail;

namespace {
enum class OutputKind { video, audio, passthrough };
}

struct AssetReader::Impl {
    Asset asset;
    InputContext input;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<AssetReaderTrackOutput>> outputs;
    std::atomic<Status> status{Status::unknown};
    std::optional<std::string> error;
    bool demuxEnded = false;
    double startOffset = 0;
    int endedOutputs = 0;

    explicit Impl(const Asset& a) : asset(a) {}

    void fail(const std::string& message) {
        std::lock_guard lock(mutex);
        if (!error) error = message;
        status = Status::failed;
    }
    void outputEnded() {
        std::lock_guard lock(mutex);
        if (++endedOutputs >= static_cast<int>(outputs.size()) && status == Status::reading) status = Status::completed;
    }
};

struct AssetReaderTrackOutput::Impl {
    AssetReader::Impl* reader = nullptr;
    AssetTrack track;
    OutputKind kind = OutputKind::video;
    VideoOutputSettings video;
    AudioOutputSettings audio;
    AVStream* stream = nullptr;
    std::deque<Packet> queue;  // guarded by the reader's mutex
    CodecContext decoder;
    ScaleContext sws;
    ResampleContext swr;
    AVChannelLayout swrLayout{};
    int swrFormat = -1, swrRate = 0, swrChannels = 0;
    bool flushed = false;
    bool ended = false;

    ~Impl() {
        if (const ff::Api* api = ff::loadedApi()) api->av_channel_layout_uninit(&swrLayout);
    }

    // The next packet of this output's stream, reading the file ahead for the others.
    Packet nextPacket() {
        auto& r = *reader;
        std::lock_guard lock(r.mutex);
        while (queue.empty()) {
            if (r.demuxEnded || r.status != AssetReader::Status::reading) return nullptr;
            Packet p = makePacket();
            int rc = ff::api().av_read_frame(r.input.get(), p.get());
            if (rc == AVERROR_EOF) {
                r.demuxEnded = true;
                return nullptr;
            }
            if (rc < 0) {
                r.demuxEnded = true;
                if (!r.error) r.error = "Cannot read " + r.asset.url().filename().string() + ": " + errorText(rc);
                r.status = AssetReader::Status::failed;
                return nullptr;
            }
            for (auto& o : r.outputs) {
                if (o->impl_->stream && o->impl_->stream->index == p->stream_index && !o->impl_->ended) {
                    o->impl_->queue.push_back(std::move(p));
                    break;
                }
            }
        }
        Packet p = std::move(queue.front());
        queue.pop_front();
        return p;
    }

    std::optional<SampleBuffer> finish() {
        if (!ended) {
            ended = true;
            {
                std::lock_guard lock(reader->mutex);
                queue.clear();
            }
            reader->outputEnded();
        }
        return std::nullopt;
    }

    std::unique_ptr<SampleBuffer::Impl> wrap() {
        auto s = std::make_unique<SampleBuffer::Impl>();
        s->mediaType = track.mediaType;
        s->timeBase = stream->time_base;
        s->startOffset = reader->startOffset;
        return s;
    }

    Frame convertVideo(Frame frame) {
        AVPixelFormat wanted = AV_PIX_FMT_NONE;
        switch (video.pixelFormat) {
            case PixelFormat::native: return frame;
            case PixelFormat::yuv420BiPlanarVideoRange: wanted = AV_PIX_FMT_NV12; break;
            case PixelFormat::yuv420Planar: wanted = AV_PIX_FMT_YUV420P; break;
            case PixelFormat::bgra32: wanted = AV_PIX_FMT_BGRA; break;
        }
        if (frame->format == wanted) return frame;
        sws.reset(ff::api().sws_getCachedContext(sws.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                                 frame->width, frame->height, wanted, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!sws) throw MediaError("Cannot convert pictures of this format");
        Frame out = makeFrame();
        out->format = wanted;
        out->width = frame->width;
        out->height = frame->height;
        if (ff::api().av_frame_get_buffer(out.get(), 0) < 0) throw std::bad_alloc();
        ff::api().sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, out->data, out->linesize);
        ff::api().av_frame_copy_props(out.get(), frame.get());
        return out;
    }

    Frame convertAudio(Frame frame) {
        if (audio.native) return frame;
        AVSampleFormat wanted = audio.commonFormat == CommonFormat::int16 ? (audio.interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P)
                                                                          : (audio.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP);
        if (frame->format == wanted) return frame;
        if (!swr || swrFormat != frame->format || swrRate != frame->sample_rate || swrChannels != frame->ch_layout.nb_channels) {
            ff::api().av_channel_layout_uninit(&swrLayout);
            swrLayout = normalizedLayout(frame->ch_layout);
            SwrContext* raw = nullptr;
            int rc = ff::api().swr_alloc_set_opts2(&raw, &swrLayout, wanted, frame->sample_rate, &swrLayout,
                                                   static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
            if (rc < 0 || !raw) throwError("Cannot convert audio", rc < 0 ? rc : AVERROR(ENOMEM));
            swr.reset(raw);
            if ((rc = ff::api().swr_init(raw)) < 0) throwError("Cannot convert audio", rc);
            swrFormat = frame->format;
            swrRate = frame->sample_rate;
            swrChannels = frame->ch_layout.nb_channels;
        }
        Frame out = makeFrame();
        out->format = wanted;
        out->sample_rate = frame->sample_rate;
        ff::api().av_channel_layout_copy(&out->ch_layout, &swrLayout);
        out->nb_samples = frame->nb_samples;
        if (ff::api().av_frame_get_buffer(out.get(), 0) < 0) throw std::bad_alloc();
        int got = ff::api().swr_convert(swr.get(), out->extended_data, out->nb_samples, const_cast<const uint8_t**>(frame->extended_data),
                                        frame->nb_samples);
        if (got < 0) throwError("Cannot convert audio", got);
        out->nb_samples = got;
        out->pts = frame->pts;
        out->best_effort_timestamp = frame->best_effort_timestamp;
        return out;
    }

    std::optional<SampleBuffer> next() {
        if (ended) return std::nullopt;
        if (reader->status != AssetReader::Status::reading) return finish();
        if (kind == OutputKind::passthrough) {
            Packet p = nextPacket();
            if (!p) return finish();
            auto s = wrap();
            s->packet = std::move(p);
            return SampleBuffer(std::move(s));
        }
        Frame frame = makeFrame();
        for (;;) {
            int rc = ff::api().avcodec_receive_frame(decoder.get(), frame.get());
            if (rc == 0) {
                auto s = wrap();
                s->frame = kind == OutputKind::video ? convertVideo(std::move(frame)) : convertAudio(std::move(frame));
                return SampleBuffer(std::move(s));
            }
            if (rc == AVERROR_EOF) return finish();
            if (rc == AVERROR_INVALIDDATA) continue;
            if (rc != AVERROR(EAGAIN)) {
                reader->fail("Cannot decode " + track.codecName + ": " + errorText(rc));
                return finish();
            }
            if (flushed) return finish();
            Packet p = nextPacket();
            if (!p) {
                if (reader->status == AssetReader::Status::failed) return finish();
                flushed = true;
                ff::api().avcodec_send_packet(decoder.get(), nullptr);
                continue;
            }
            rc = ff::api().avcodec_send_packet(decoder.get(), p.get());
            // A damaged packet is left out; the decoder picks up at the next one.
            if (rc < 0 && rc != AVERROR_INVALIDDATA && rc != AVERROR(EAGAIN)) {
                reader->fail("Cannot decode " + track.codecName + ": " + errorText(rc));
                return finish();
            }
        }
    }
};

AssetReaderTrackOutput::AssetReaderTrackOutput(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AssetReaderTrackOutput::~AssetReaderTrackOutput() = default;
const AssetTrack& AssetReaderTrackOutput::track() const { return impl_->track; }

std::optional<SampleBuffer> AssetReaderTrackOutput::copyNextSampleBuffer() {
    try {
        return impl_->next();
    } catch (const std::exception& e) {
        impl_->reader->fail(e.what());
        return impl_->finish();
    }
}

bool AssetReaderTrackOutput::hasBufferedSample() const {
    std::lock_guard lock(impl_->reader->mutex);
    return impl_->kind == OutputKind::passthrough && !impl_->queue.empty();
}

FormatDescription AssetReaderTrackOutput::formatDescription() const {
    auto d = std::make_shared<FormatDescription::Impl>();
    d->mediaType = impl_->track.mediaType;
    d->parameters.reset(ff::api().avcodec_parameters_alloc());
    if (!d->parameters || ff::api().avcodec_parameters_copy(d->parameters.get(), impl_->stream->codecpar) < 0) throw std::bad_alloc();
    d->timeBase = impl_->stream->time_base;
    d->rotation = impl_->track.rotation;
    return FormatDescription(std::move(d));
}

AssetReader::AssetReader(const Asset& asset) : impl_(std::make_shared<Impl>(asset)) {
    impl_->input = takeProbedInput(asset);
    if (!impl_->input) impl_->input = openInput(asset.url());
    if (impl_->input->start_time != AV_NOPTS_VALUE) impl_->startOffset = static_cast<double>(impl_->input->start_time) / AV_TIME_BASE;
}

AssetReader::~AssetReader() = default;

bool AssetReader::canAddOutput(const AssetTrack& track) const {
    if (impl_->status != Status::unknown) return false;
    if (track.trackID < 0 || track.trackID >= static_cast<int>(impl_->input->nb_streams)) return false;
    for (auto& o : impl_->outputs)
        if (o->impl_->track.trackID == track.trackID) return false;
    return true;
}

namespace {
AssetReaderTrackOutput* addOutput(AssetReader::Impl& r, std::vector<std::unique_ptr<AssetReaderTrackOutput>>& outputs,
                                  std::unique_ptr<AssetReaderTrackOutput> output) {
    outputs.push_back(std::move(output));
    (void)r;
    return outputs.back().get();
}
}  // namespace

AssetReaderTrackOutput* AssetReader::addVideoOutput(const AssetTrack& track, VideoOutputSettings settings) {
    if (!canAddOutput(track) || track.mediaType != MediaType::video) throw MediaError("Cannot add a video output for this track");
    auto o = std::make_unique<AssetReaderTrackOutput::Impl>();
    o->reader = impl_.get();
    o->track = track;
    o->kind = OutputKind::video;
    o->video = settings;
    o->stream = impl_->input->streams[track.trackID];
    o->decoder = openDecoder(o->stream);
    return addOutput(*impl_, impl_->outputs, std::unique_ptr<AssetReaderTrackOutput>(new AssetReaderTrackOutput(std::move(o))));
}

AssetReaderTrackOutput* AssetReader::addAudioOutput(const AssetTrack& track, AudioOutputSettings settings) {
    if (!canAddOutput(track) || track.mediaType != MediaType::audio) throw MediaError("Cannot add an audio output for this track");
    auto o = std::make_unique<AssetReaderTrackOutput::Impl>();
    o->reader = impl_.get();
    o->track = track;
    o->kind = OutputKind::audio;
    o->audio = settings;
    o->stream = impl_->input->streams[track.trackID];
    o->decoder = openDecoder(o->stream);
    return addOutput(*impl_, impl_->outputs, std::unique_ptr<AssetReaderTrackOutput>(new AssetReaderTrackOutput(std::move(o))));
}

AssetReaderTrackOutput* AssetReader::addPassthroughOutput(const AssetTrack& track) {
    if (!canAddOutput(track)) throw MediaError("Cannot add an output for this track");
    auto o = std::make_unique<AssetReaderTrackOutput::Impl>();
    o->reader = impl_.get();
    o->track = track;
    o->kind = OutputKind::passthrough;
    o->stream = impl_->input->streams[track.trackID];
    return addOutput(*impl_, impl_->outputs, std::unique_ptr<AssetReaderTrackOutput>(new AssetReaderTrackOutput(std::move(o))));
}

bool AssetReader::startReading() {
    if (impl_->status != Status::unknown) return false;
    // Streams nobody reads are skipped by the demuxer.
    for (unsigned i = 0; i < impl_->input->nb_streams; ++i) impl_->input->streams[i]->discard = AVDISCARD_ALL;
    for (auto& o : impl_->outputs) o->impl_->stream->discard = AVDISCARD_DEFAULT;
    impl_->status = impl_->outputs.empty() ? Status::completed : Status::reading;
    return true;
}

void AssetReader::cancelReading() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->status == Status::reading || impl_->status == Status::unknown) impl_->status = Status::cancelled;
}

AssetReader::Status AssetReader::status() const { return impl_->status; }

std::optional<std::string> AssetReader::error() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->error;
}

}  // namespace calvoro::media
