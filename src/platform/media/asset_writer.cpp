#include "platform/media/asset_writer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/media/audio_encoding.h"
#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"
#include "platform/media/sample_buffer_impl.h"

namespace calvoro::media {

using namespace detail;

namespace {
enum class InputKind { video, audio, passthrough, timedText };
constexpr AVRational millisecond{1, 1000};
constexpr AVRational videoTimeBase{1, 90000};

// QuickTime movies keep a track's language as one of the old Macintosh language numbers, whose
// table spells some languages in the bibliographic ISO 639-2 form and a few in the terminology
// form; a code spelt the other way would be lost.
std::string quickTimeSpelling(const std::string& code) {
    static const std::pair<const char*, const char*> synonyms[] = {
        {"fre", "fra"}, {"rum", "ron"}, {"cze", "ces"}, {"slo", "slk"}, {"deu", "ger"}, {"nld", "dut"},
        {"ell", "gre"}, {"isl", "ice"}, {"zho", "chi"}, {"sqi", "alb"}, {"mkd", "mac"}, {"hye", "arm"},
        {"kat", "geo"}, {"bod", "tib"}, {"mya", "bur"}, {"msa", "may"}, {"cym", "wel"}, {"eus", "baq"}};
    for (const auto& [from, to] : synonyms)
        if (code == from) return to;
    return code;
}
}  // namespace

struct AssetWriter::Impl {
    std::filesystem::path path;
    FileType fileType{""};
    std::unique_ptr<OutputContext> out;
    std::vector<std::shared_ptr<AssetWriterInput>> inputs;
    std::mutex mutex;
    std::atomic<Status> status{Status::unknown};
    std::optional<std::string> error;
    double sessionStart = 0;
    bool optimize = false;

    explicit Impl(FileType type) : fileType(std::move(type)) {}

    void fail(const std::string& message) {
        std::lock_guard lock(mutex);
        if (status == Status::cancelled || status == Status::completed) return;
        if (!error) error = message;
        status = Status::failed;
    }

    void writePacket(AVPacket* packet) {
        std::lock_guard lock(mutex);
        if (status != Status::writing) return;
        int rc = ff::api().av_interleaved_write_frame(out->get(), packet);
        if (rc < 0) {
            if (!error) error = "Cannot write " + path.filename().string() + ": " + errorText(rc);
            status = Status::failed;
        }
    }
};

struct AssetWriterInput::Impl {
    InputKind kind = InputKind::video;
    VideoSettings video;
    AudioSettings audio;
    std::optional<FormatDescription> format;
    int rotation = 0;
    struct Marks {
        std::string language;
        bool isDefault = false;
        bool isForced = false;
    };
    std::optional<Marks> marks;
    bool timesFromSourceStart = false;
    AssetWriter::Impl* writer = nullptr;
    AVStream* stream = nullptr;
    CodecContext encoder;
    ScaleContext sws;
    Packet packet = makePacket();
    std::unique_ptr<AudioEncodePump> pump;
    Packet held;
    int64_t lastDuration = 0;
    int64_t lastPts = AV_NOPTS_VALUE;
    int64_t lastDts = AV_NOPTS_VALUE;
    bool finished = false;

    CodecContext textDecoder;

    MediaType mediaType() const {
        if (kind == InputKind::passthrough || kind == InputKind::timedText) return format->mediaType();
        return kind == InputKind::video ? MediaType::video : MediaType::audio;
    }

    bool ready() const { return writer && writer->status == AssetWriter::Status::writing && !finished; }

    // Each packet is held until the next one gives its duration; without durations the
    // container would end the track at the last frame's start and lose that frame.
    void drainVideo() {
        for (;;) {
            int rc = ff::api().avcodec_receive_packet(encoder.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) throwError("Video encoding failed", rc);
            ff::api().av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (held) {
                if (held->duration <= 0 && packet->dts != AV_NOPTS_VALUE && held->dts != AV_NOPTS_VALUE)
                    held->duration = packet->dts - held->dts;
                if (held->duration > 0) lastDuration = held->duration;
                writer->writePacket(held.get());
            }
            held.reset(ff::api().av_packet_clone(packet.get()));
            ff::api().av_packet_unref(packet.get());
        }
    }

    void writeHeld() {
        if (!held) return;
        if (held->duration <= 0) {
            int64_t guess = ff::api().av_rescale_q(1, av_inv_q(encoder->framerate), stream->time_base);
            held->duration = lastDuration > 0 ? lastDuration : std::max<int64_t>(guess, 1);
        }
        writer->writePacket(held.get());
        held.reset();
    }

    bool encodePicture(const uint8_t* const* data, const int* linesize, int width, int height, AVPixelFormat format, int64_t pts) {
        if (width <= 0 || height <= 0) return false;
        if (lastPts != AV_NOPTS_VALUE && pts <= lastPts) return false;
        sws.reset(ff::api().sws_getCachedContext(sws.release(), width, height, format, encoder->width, encoder->height, encoder->pix_fmt,
                                                 SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!sws) throw MediaError("Cannot convert pictures for the video encoder");
        Frame frame = makeFrame();
        frame->format = encoder->pix_fmt;
        frame->width = encoder->width;
        frame->height = encoder->height;
        if (ff::api().av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
        ff::api().sws_scale(sws.get(), data, linesize, 0, height, frame->data, frame->linesize);
        frame->pts = pts;
        lastPts = pts;
        int rc = ff::api().avcodec_send_frame(encoder.get(), frame.get());
        if (rc < 0) throwError("Video encoding failed", rc);
        drainVideo();
        return true;
    }

    void open(AVFormatContext* ctx) {
        stream = ff::api().avformat_new_stream(ctx, nullptr);
        if (!stream) throw std::bad_alloc();
        openStream(ctx);
        if (!marks) return;
        const std::string language = writer->fileType == FileType::quickTimeMovie ? quickTimeSpelling(marks->language) : marks->language;
        if (!language.empty()) ff::api().av_dict_set(&stream->metadata, "language", language.c_str(), 0);
        stream->disposition = (marks->isDefault ? AV_DISPOSITION_DEFAULT : 0) | (marks->isForced ? AV_DISPOSITION_FORCED : 0);
    }

    void openTimedText() {
        const auto& d = format->impl();
        const AVCodec* decoder = ff::api().avcodec_find_decoder(d.parameters->codec_id);
        const AVCodec* codec = ff::api().avcodec_find_encoder_by_name("mov_text");
        if (!decoder || !codec) throw MediaError("Cannot turn these subtitles into timed text");
        textDecoder.reset(ff::api().avcodec_alloc_context3(decoder));
        encoder.reset(ff::api().avcodec_alloc_context3(codec));
        if (!textDecoder || !encoder) throw std::bad_alloc();
        int rc = ff::api().avcodec_parameters_to_context(textDecoder.get(), d.parameters.get());
        if (rc < 0) throwError("Cannot configure the subtitle decoder", rc);
        textDecoder->pkt_timebase = d.timeBase;
        if ((rc = ff::api().avcodec_open2(textDecoder.get(), decoder, nullptr)) < 0) throwError("Cannot open the subtitle decoder", rc);
        // The encoder reads the cues' styles from the header the decoder made.
        if (textDecoder->subtitle_header_size > 0) {
            encoder->subtitle_header = static_cast<uint8_t*>(ff::api().av_mallocz(static_cast<size_t>(textDecoder->subtitle_header_size) + 1));
            if (!encoder->subtitle_header) throw std::bad_alloc();
            std::memcpy(encoder->subtitle_header, textDecoder->subtitle_header, static_cast<size_t>(textDecoder->subtitle_header_size));
            encoder->subtitle_header_size = textDecoder->subtitle_header_size;
        }
        encoder->time_base = millisecond;
        if ((rc = ff::api().avcodec_open2(encoder.get(), codec, nullptr)) < 0) throwError("Cannot open the timed text encoder", rc);
        if ((rc = ff::api().avcodec_parameters_from_context(stream->codecpar, encoder.get())) < 0)
            throwError("Cannot configure the subtitle track", rc);
        stream->time_base = millisecond;
    }

    // One cue: decoded from its own format, encoded as timed text, timed in milliseconds.
    bool appendCue(const SampleBuffer::Impl& s) {
        if (!s.packet) return false;
        AVSubtitle cue{};
        int got = 0;
        Packet in(ff::api().av_packet_clone(s.packet.get()));
        if (!in) throw std::bad_alloc();
        if (ff::api().avcodec_decode_subtitle2(textDecoder.get(), &cue, &got, in.get()) < 0 || !got) return false;
        struct Release {
            AVSubtitle* cue;
            ~Release() { ff::api().avsubtitle_free(cue); }
        } release{&cue};
        if (cue.pts == AV_NOPTS_VALUE || cue.end_display_time <= cue.start_display_time) return false;
        int64_t start = ff::api().av_rescale_q(cue.pts, AV_TIME_BASE_Q, millisecond) + cue.start_display_time;
        if (timesFromSourceStart) start -= std::llround(s.startOffset * 1000);
        std::vector<uint8_t> text(65536);
        const int size = ff::api().avcodec_encode_subtitle(encoder.get(), text.data(), static_cast<int>(text.size()), &cue);
        if (size <= 0) return false;
        if (lastDts != AV_NOPTS_VALUE && start <= lastDts) return false;
        Packet out = makePacket();
        if (ff::api().av_new_packet(out.get(), size) < 0) throw std::bad_alloc();
        std::memcpy(out->data, text.data(), static_cast<size_t>(size));
        out->pts = out->dts = lastDts = start;
        out->duration = cue.end_display_time - cue.start_display_time;
        out->stream_index = stream->index;
        writer->writePacket(out.get());
        return writer->status == AssetWriter::Status::writing;
    }

    void openStream(AVFormatContext* ctx) {
        if (kind == InputKind::timedText) return openTimedText();
        if (kind == InputKind::passthrough) {
            const auto& d = format->impl();
            int rc = ff::api().avcodec_parameters_copy(stream->codecpar, d.parameters.get());
            if (rc < 0) throwError("Cannot copy the track's format", rc);
            // The source container's tag may mean nothing in this one; the muxer picks its own.
            stream->codecpar->codec_tag = 0;
            stream->time_base = d.timeBase;
            setStreamRotation(stream, rotation);
            return;
        }
        if (kind == InputKind::audio) {
            encoder = openAudioEncoder(audio, ctx->oformat);
            int rc = ff::api().avcodec_parameters_from_context(stream->codecpar, encoder.get());
            if (rc < 0) throwError("Cannot configure the audio track", rc);
            stream->time_base = encoder->time_base;
            AVCodecContext* enc = encoder.get();
            AVStream* st = stream;
            AssetWriter::Impl* w = writer;
            pump = std::make_unique<AudioEncodePump>(enc, [enc, st, w](AVPacket* p) {
                ff::api().av_packet_rescale_ts(p, enc->time_base, st->time_base);
                p->stream_index = st->index;
                w->writePacket(p);
            });
            return;
        }
        const AVCodec* codec = ff::api().avcodec_find_encoder_by_name("libx264");
        if (!codec) throw MediaError("No H.264 encoder");
        if (video.width < 2 || video.height < 2 || video.width % 2 || video.height % 2)
            throw MediaError("Invalid video size " + std::to_string(video.width) + " x " + std::to_string(video.height));
        encoder.reset(ff::api().avcodec_alloc_context3(codec));
        if (!encoder) throw std::bad_alloc();
        encoder->width = video.width;
        encoder->height = video.height;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = videoTimeBase;
        encoder->sample_aspect_ratio = AVRational{1, 1};
        double fps = video.expectedSourceFrameRate.value_or(30.0);
        if (!(fps > 0) || !std::isfinite(fps)) fps = 30.0;
        encoder->framerate = ff::api().av_d2q(fps, 100000);
        encoder->thread_count = video.threads.value_or(0);
        if (ctx->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ff::api().av_opt_set(encoder->priv_data, "preset", video.encoderSpeed.c_str(), 0);
        if (video.lookaheadThreads)
            ff::api().av_opt_set(encoder->priv_data, "x264-params",
                                 ("lookahead-threads=" + std::to_string(std::max(1, *video.lookaheadThreads))).c_str(), 0);
        if (video.averageBitRate && *video.averageBitRate > 0) {
            encoder->bit_rate = *video.averageBitRate;
        } else {
            ff::api().av_opt_set_double(encoder->priv_data, "crf", video.constantQuality.value_or(23), 0);
        }
        int rc = ff::api().avcodec_open2(encoder.get(), codec, nullptr);
        if (rc < 0) throwError("Cannot open the H.264 encoder", rc);
        rc = ff::api().avcodec_parameters_from_context(stream->codecpar, encoder.get());
        if (rc < 0) throwError("Cannot configure the video track", rc);
        stream->time_base = encoder->time_base;
        setStreamRotation(stream, rotation);
    }

    void finish() {
        if (finished) return;
        finished = true;
        if (!encoder || !writer || writer->status != AssetWriter::Status::writing) return;
        if (kind == InputKind::video) {
            ff::api().avcodec_send_frame(encoder.get(), nullptr);
            drainVideo();
            writeHeld();
        } else if (pump) {
            pump->finish();
        }
    }
};

AssetWriterInput::AssetWriterInput(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AssetWriterInput::~AssetWriterInput() = default;

std::shared_ptr<AssetWriterInput> AssetWriterInput::video(VideoSettings settings) {
    auto impl = std::make_unique<Impl>();
    impl->kind = InputKind::video;
    impl->video = std::move(settings);
    return std::shared_ptr<AssetWriterInput>(new AssetWriterInput(std::move(impl)));
}

std::shared_ptr<AssetWriterInput> AssetWriterInput::audio(AudioSettings settings) {
    auto impl = std::make_unique<Impl>();
    impl->kind = InputKind::audio;
    impl->audio = settings;
    return std::shared_ptr<AssetWriterInput>(new AssetWriterInput(std::move(impl)));
}

std::shared_ptr<AssetWriterInput> AssetWriterInput::timedText(const FormatDescription& format) {
    auto impl = std::make_unique<Impl>();
    impl->kind = InputKind::timedText;
    impl->format = format;
    return std::shared_ptr<AssetWriterInput>(new AssetWriterInput(std::move(impl)));
}

std::shared_ptr<AssetWriterInput> AssetWriterInput::passthrough(const FormatDescription& format) {
    auto impl = std::make_unique<Impl>();
    impl->kind = InputKind::passthrough;
    impl->format = format;
    impl->rotation = format.impl().rotation;
    return std::shared_ptr<AssetWriterInput>(new AssetWriterInput(std::move(impl)));
}

MediaType AssetWriterInput::mediaType() const { return impl_->mediaType(); }
void AssetWriterInput::setExpectsMediaDataInRealTime(bool) {}
void AssetWriterInput::setTransform(int clockwiseDegrees) { impl_->rotation = clockwiseDegrees; }
void AssetWriterInput::setTrackMarks(const std::string& languageCode, bool isDefault, bool isForced) {
    impl_->marks = Impl::Marks{languageCode, isDefault, isForced};
}
void AssetWriterInput::setTimesFromSourceStart(bool value) { impl_->timesFromSourceStart = value; }
bool AssetWriterInput::isReadyForMoreMediaData() const { return impl_->ready(); }

bool AssetWriterInput::append(const SampleBuffer& sample) {
    auto& d = *impl_;
    if (!d.ready() || sample.mediaType() != d.mediaType()) return false;
    const auto& s = sample.impl();
    try {
        if (d.kind == InputKind::timedText) return d.appendCue(s);
        if (d.kind == InputKind::passthrough) {
            if (!s.packet) return false;
            Packet p(ff::api().av_packet_clone(s.packet.get()));
            if (!p) throw std::bad_alloc();
            if (d.timesFromSourceStart && s.startOffset != 0) {
                const int64_t shift = std::llround(s.startOffset / av_q2d(s.timeBase));
                if (p->pts != AV_NOPTS_VALUE) p->pts -= shift;
                if (p->dts != AV_NOPTS_VALUE) p->dts -= shift;
            }
            ff::api().av_packet_rescale_ts(p.get(), s.timeBase, d.stream->time_base);
            // Muxers need strictly rising decoding times; a repeated one is dropped.
            if (p->dts != AV_NOPTS_VALUE) {
                if (d.lastDts != AV_NOPTS_VALUE && p->dts <= d.lastDts) return false;
                d.lastDts = p->dts;
            }
            p->stream_index = d.stream->index;
            p->pos = -1;
            d.writer->writePacket(p.get());
            return d.writer->status == AssetWriter::Status::writing;
        }
        if (!s.frame) return false;
        double t = sample.presentationTimeSeconds() - d.writer->sessionStart;
        if (std::isnan(t)) return false;
        if (d.kind == InputKind::video) {
            const AVFrame* f = s.frame.get();
            return d.encodePicture(f->data, f->linesize, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                   std::llround(t * videoTimeBase.den));
        }
        if (!d.pump->started()) d.pump->setNextPts(std::max<int64_t>(0, std::llround(t * d.encoder->sample_rate)));
        const AVFrame* f = s.frame.get();
        d.pump->push(f->extended_data, f->nb_samples, static_cast<AVSampleFormat>(f->format), f->ch_layout, f->sample_rate);
        return d.writer->status == AssetWriter::Status::writing;
    } catch (const std::exception& e) {
        d.writer->fail(e.what());
        return false;
    }
}

bool AssetWriterInput::appendPixelBuffer(const PixelBuffer& buffer, double presentationTimeSeconds) {
    auto& d = *impl_;
    if (!d.ready() || d.kind != InputKind::video || std::isnan(presentationTimeSeconds)) return false;
    try {
        const uint8_t* planes[4] = {buffer.data(), nullptr, nullptr, nullptr};
        int lines[4] = {buffer.bytesPerRow(), 0, 0, 0};
        double t = presentationTimeSeconds - d.writer->sessionStart;
        return d.encodePicture(planes, lines, buffer.width(), buffer.height(), AV_PIX_FMT_BGRA, std::llround(t * videoTimeBase.den));
    } catch (const std::exception& e) {
        d.writer->fail(e.what());
        return false;
    }
}

void AssetWriterInput::markAsFinished() {
    try {
        impl_->finish();
    } catch (const std::exception& e) {
        if (impl_->writer) impl_->writer->fail(e.what());
    }
}

std::unique_ptr<AssetWriter> AssetWriter::create(const std::filesystem::path& outputURL, const FileType& fileType) {
    auto muxer = fileType.muxerName();
    if (!muxer) throw MediaError("Cannot write files of type " + fileType.rawValue());
    std::unique_ptr<AssetWriter> writer(new AssetWriter());
    writer->impl_ = std::make_shared<Impl>(fileType);
    writer->impl_->path = outputURL;
    writer->impl_->out = std::make_unique<OutputContext>(outputURL, muxer->c_str());
    return writer;
}

AssetWriter::~AssetWriter() {
    if (!impl_) return;
    // Release the inputs' hold on this writer before it goes.
    for (auto& input : impl_->inputs) input->impl().writer = nullptr;
}

const std::filesystem::path& AssetWriter::outputURL() const { return impl_->path; }

bool AssetWriter::canAddInput(const AssetWriterInput& input) const {
    if (impl_->status != Status::unknown) return false;
    const auto& d = input.impl();
    if (d.writer) return false;
    const AVOutputFormat* of = impl_->out->get()->oformat;
    if (d.kind == InputKind::passthrough) {
        return ff::api().avformat_query_codec(of, d.format->impl().parameters->codec_id, FF_COMPLIANCE_NORMAL) == 1;
    }
    if (d.kind == InputKind::timedText) return ff::api().avformat_query_codec(of, AV_CODEC_ID_MOV_TEXT, FF_COMPLIANCE_NORMAL) == 1;
    if (d.kind == InputKind::video) return ff::api().avformat_query_codec(of, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 1;
    return impl_->fileType.isMovieFamily() || d.audio.formatID == audioFormatLinearPCM || d.audio.formatID == audioFormatFLAC;
}

void AssetWriter::addInput(std::shared_ptr<AssetWriterInput> input) {
    if (!input || impl_->status != Status::unknown || input->impl().writer) throw MediaError("The input cannot be added");
    input->impl().writer = impl_.get();
    impl_->inputs.push_back(std::move(input));
}

void AssetWriter::setShouldOptimizeForNetworkUse(bool value) { impl_->optimize = value; }

bool AssetWriter::startWriting() {
    auto& d = *impl_;
    if (d.status != Status::unknown) return false;
    try {
        AVFormatContext* ctx = d.out->get();
        for (auto& input : d.inputs) input->impl().open(ctx);
        AVDictionary* options = nullptr;
        if (d.optimize && d.fileType.isMovieFamily()) ff::api().av_dict_set(&options, "movflags", "+faststart", 0);
        int rc = ff::api().avformat_write_header(ctx, &options);
        ff::api().av_dict_free(&options);
        if (rc < 0) throwError("Cannot write " + d.path.filename().string(), rc);
        d.status = Status::writing;
        return true;
    } catch (const std::exception& e) {
        d.fail(e.what());
        return false;
    }
}

void AssetWriter::startSession(double sourceTimeSeconds) { impl_->sessionStart = std::isfinite(sourceTimeSeconds) ? sourceTimeSeconds : 0; }

void AssetWriter::finishWriting() {
    auto& d = *impl_;
    if (d.status != Status::writing) return;
    for (auto& input : d.inputs) input->markAsFinished();
    std::lock_guard lock(d.mutex);
    if (d.status != Status::writing) {
        d.out->closeFile();
        return;
    }
    int rc = ff::api().av_write_trailer(d.out->get());
    int closeRc = d.out->closeFile();
    if (rc < 0 || closeRc < 0) {
        if (!d.error) d.error = "Cannot finish " + d.path.filename().string() + ": " + errorText(rc < 0 ? rc : closeRc);
        d.status = Status::failed;
        return;
    }
    d.status = Status::completed;
}

void AssetWriter::cancelWriting() {
    auto& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (d.status == Status::completed || d.status == Status::cancelled) return;
        d.status = Status::cancelled;
        d.out->closeFile();
    }
    std::error_code ec;
    std::filesystem::remove(d.path, ec);
}

AssetWriter::Status AssetWriter::status() const { return impl_->status; }

std::optional<std::string> AssetWriter::error() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->error;
}

}  // namespace calvoro::media
