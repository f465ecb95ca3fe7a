#include "support/ffmpeg_in_process.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace calvoro::testing::media {

const FFmpegLibraries& FFmpegLibraries::get() {
    static const FFmpegLibraries libraries = [] {
        FFmpegLibraries l;
        l.av_log_set_level(AV_LOG_QUIET);
        return l;
    }();
    return libraries;
}

std::string FFmpegLibraries::error(int code) const {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

namespace {

// The command line split as the shell would, for the quoting the tests write; nothing when it
// asks more of the shell than words.
std::optional<std::vector<std::string>> shellWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(std::exchange(word, {}));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const size_t end = line.find('\'', i + 1);
            if (end == std::string::npos) return std::nullopt;
            word.append(line, i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '$' || line[i] == '`') return std::nullopt;
                if (line[i] == '\\' && i + 1 < line.size() && std::strchr("\"\\$`", line[i + 1])) ++i;
                word += line[i];
            }
            if (i >= line.size()) return std::nullopt;
        } else if (c == '\\') {
            if (++i >= line.size()) return std::nullopt;
            word += line[i];
        } else if (std::strchr("|&;<>()$`*?[]{}~#", c)) {
            return std::nullopt;
        } else {
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

using Options = std::vector<std::pair<std::string, std::string>>;

struct Output {
    std::string path;
    std::string format;
    std::string videoCodec, audioCodec;
    bool noVideo = false, noAudio = false;
    std::string pixelFormat, videoFilter, audioFilter, videoTag;
    int channels = 0, sampleRate = 0, threads = -1;
    long long videoFrames = -1;
    double quality = -1;
    Options videoOptions, audioOptions, muxerOptions, videoMetadata;
};

struct Command {
    std::vector<std::string> inputs;  // lavfi graphs
    std::vector<Output> outputs;
};

// The encoder options the fixtures pass by their own names.
const std::set<std::string> videoEncoderOptions = {"preset", "g", "bf", "x265-params", "x264-params", "crf", "qp", "deadline", "tune"};

// Takes an output option and its value; false for one this maker does not know.
bool takeOutputOption(Output& out, const std::string& key, const std::string& value) {
    if (key == "c:v" || key == "vcodec") out.videoCodec = value;
    else if (key == "c:a" || key == "acodec") out.audioCodec = value;
    else if (key == "pix_fmt") out.pixelFormat = value;
    else if (key == "vf" || key == "filter:v") out.videoFilter = value;
    else if (key == "af" || key == "filter:a") out.audioFilter = value;
    else if (key == "tag:v" && value.size() == 4) out.videoTag = value;
    else if (key == "ac") out.channels = std::stoi(value);
    else if (key == "ar") out.sampleRate = std::stoi(value);
    else if (key == "threads") out.threads = std::stoi(value);
    else if (key == "frames:v" && std::stoll(value) > 0) out.videoFrames = std::stoll(value);
    else if (key == "f") out.format = value;
    else if (key == "q:v") out.quality = std::stod(value);
    else if (key == "b:v") out.videoOptions.emplace_back("b", value);
    else if (key == "b:a") out.audioOptions.emplace_back("b", value);
    else if (key == "movflags") out.muxerOptions.emplace_back(key, value);
    else if (key == "metadata:s:v:0" && value.find('=') != std::string::npos)
        out.videoMetadata.emplace_back(value.substr(0, value.find('=')), value.substr(value.find('=') + 1));
    else if (videoEncoderOptions.count(key)) out.videoOptions.emplace_back(key, value);
    else return false;
    return !(out.videoCodec == "copy" || out.audioCodec == "copy");
}

std::optional<Command> parse(const std::vector<std::string>& words) {
    Command command;
    Options pending;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "-nostdin" || w == "-hide_banner" || w == "-y") continue;
        if (w == "-vn" || w == "-an") {
            pending.emplace_back(w.substr(1), "");
            continue;
        }
        if (w.size() > 1 && w[0] == '-') {
            if (i + 1 >= words.size()) return std::nullopt;
            const std::string key = w.substr(1), value = words[++i];
            if (key == "loglevel" || key == "v") continue;
            if (key == "i") {
                if (pending.size() != 1 || pending[0] != std::pair<std::string, std::string>{"f", "lavfi"}) return std::nullopt;
                command.inputs.push_back(value);
                pending.clear();
            } else {
                pending.emplace_back(key, value);
            }
            continue;
        }
        Output out;
        out.path = w;
        for (const auto& [key, value] : pending) {
            if (key == "vn") out.noVideo = true;
            else if (key == "an") out.noAudio = true;
            else if (!takeOutputOption(out, key, value)) return std::nullopt;
        }
        pending.clear();
        command.outputs.push_back(std::move(out));
    }
    if (!pending.empty() || command.inputs.empty() || command.outputs.empty()) return std::nullopt;
    return command;
}

// The kind of stream a lavfi graph gives: that of its first filter, a source of one output;
// nothing for a graph of several chains or labels, which the ffmpeg program maps its own way.
std::optional<AVMediaType> sourceType(const FFmpegLibraries& av, const std::string& graph) {
    const std::string name = graph.substr(0, graph.find_first_of("=,"));
    const AVFilter* filter = av.avfilter_get_by_name(name.c_str());
    if (!filter || av.avfilter_filter_pad_count(filter, 0) != 0 || av.avfilter_filter_pad_count(filter, 1) != 1) return std::nullopt;
    return av.avfilter_pad_get_type(filter->outputs, 0);
}

struct Inputs {
    std::string video, audio;
};

std::optional<Inputs> sortInputs(const FFmpegLibraries& av, const std::vector<std::string>& graphs) {
    Inputs inputs;
    for (const auto& graph : graphs) {
        const auto type = sourceType(av, graph);
        std::string* slot = type == AVMEDIA_TYPE_VIDEO ? &inputs.video : type == AVMEDIA_TYPE_AUDIO ? &inputs.audio : nullptr;
        if (!slot || !slot->empty()) return std::nullopt;
        *slot = graph;
    }
    return inputs;
}

void check(int code, const char* what) {
    if (code < 0) throw std::runtime_error(std::string(what) + ": " + FFmpegLibraries::get().error(code));
}

// Options as FFmpeg takes them; what a call leaves of them is the caller's to free.
AVDictionary* dictionaryOf(const FFmpegLibraries& av, const Options& options) {
    AVDictionary* dictionary = nullptr;
    for (const auto& [key, value] : options) av.av_dict_set(&dictionary, key.c_str(), value.c_str(), 0);
    return dictionary;
}

// One more of a lavfi option's alternatives ("yuv420p|nv12").
void addAlternative(std::string& list, const std::string& name) { list += (list.empty() ? "" : "|") + name; }

std::string layoutName(const FFmpegLibraries& av, const AVChannelLayout& layout) {
    char name[64] = {};
    av.av_channel_layout_describe(&layout, name, sizeof name);
    return name;
}

const AVCodec* encoderFor(const FFmpegLibraries& av, const std::string& name, const AVOutputFormat* format, const std::string& path,
                          AVMediaType type) {
    const AVCodec* codec = name.empty() ? av.avcodec_find_encoder(av.av_guess_codec(format, nullptr, path.c_str(), nullptr, type))
                                        : av.avcodec_find_encoder_by_name(name.c_str());
    if (!codec) throw std::runtime_error("no encoder " + (name.empty() ? path : name));
    return codec;
}

// The formats an encoder takes, as lavfi's format filters list them, so that the graph converts
// to one of them as the ffmpeg program's own graph does.
std::string pixelFormats(const FFmpegLibraries& av, const AVCodec* codec, const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    std::string list;
    for (const AVPixelFormat* f = codec->pix_fmts; f && *f != AV_PIX_FMT_NONE; ++f) addAlternative(list, av.av_get_pix_fmt_name(*f));
    return list;
}

std::string audioFormats(const FFmpegLibraries& av, const AVCodec* codec, const Output& out) {
    std::string list;
    auto add = [&](const std::string& key, const std::string& values) {
        if (!values.empty()) list += (list.empty() ? "" : ":") + key + "=" + values;
    };
    std::string formats, rates;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f) addAlternative(formats, av.av_get_sample_fmt_name(*f));
    if (out.sampleRate > 0) rates = std::to_string(out.sampleRate);
    else
        for (const int* r = codec->supported_samplerates; r && *r; ++r) addAlternative(rates, std::to_string(*r));
    add("sample_fmts", formats);
    add("sample_rates", rates);
    if (out.channels > 0) {
        AVChannelLayout layout{};
        av.av_channel_layout_default(&layout, out.channels);
        add("channel_layouts", layoutName(av, layout));
    }
    return list;
}

// A lavfi input as the ffmpeg program reads it, through FFmpeg's lavfi device: its graph runs to a
// sink that takes any format a raw stream carries, and the output's own graph converts from there.
struct Source {
    Owned<AVFilterGraph> graph;
    AVFilterContext* sink = nullptr;
};

std::string everyRawPixelFormat(const FFmpegLibraries& av) {
    std::string list;
    for (const AVPixFmtDescriptor* d = nullptr; (d = av.av_pix_fmt_desc_next(d));)
        if (!(d->flags & AV_PIX_FMT_FLAG_HWACCEL)) addAlternative(list, av.av_get_pix_fmt_name(av.av_pix_fmt_desc_get_id(d)));
    return list;
}

// Parses a graph whose open ends are the given filters (sources feeding it, sinks it feeds).
void parseGraph(const FFmpegLibraries& av, AVFilterGraph* graph, const std::string& text,
                const std::vector<std::pair<std::string, AVFilterContext*>>& feeding,
                const std::vector<std::pair<std::string, AVFilterContext*>>& fed) {
    auto list = [&](const std::vector<std::pair<std::string, AVFilterContext*>>& ends) {
        AVFilterInOut* head = nullptr;
        for (const auto& [label, context] : ends) {
            AVFilterInOut* entry = av.avfilter_inout_alloc();
            entry->name = av.av_strdup(label.c_str());
            entry->filter_ctx = context;
            entry->next = head;
            head = entry;
        }
        return head;
    };
    AVFilterInOut* sinks = list(fed);
    AVFilterInOut* sources = list(feeding);
    const int parsed = av.avfilter_graph_parse_ptr(graph, text.c_str(), &sinks, &sources, nullptr);
    av.avfilter_inout_free(&sinks);
    av.avfilter_inout_free(&sources);
    check(parsed, "filter graph");
    check(av.avfilter_graph_config(graph, nullptr), "filter graph");
}

AVFilterContext* newFilter(const FFmpegLibraries& av, AVFilterGraph* graph, const char* filter, const char* name, const std::string& args) {
    AVFilterContext* context = nullptr;
    check(av.avfilter_graph_create_filter(&context, av.avfilter_get_by_name(filter), name, args.empty() ? nullptr : args.c_str(), nullptr, graph),
          filter);
    return context;
}

Owned<AVFilterGraph> newGraph(const FFmpegLibraries& av) {
    Owned<AVFilterGraph> graph(av.avfilter_graph_alloc());
    graph->nb_threads = 1;  // a fixture is small, and threads only add work on a busy machine
    return graph;
}

Source openSource(const FFmpegLibraries& av, const std::string& input, AVMediaType type) {
    Source source{newGraph(av)};
    const bool video = type == AVMEDIA_TYPE_VIDEO;
    source.sink = newFilter(av, source.graph.get(), video ? "buffersink" : "abuffersink", "out", "");
    const std::string formats = video ? "format=pix_fmts=" + everyRawPixelFormat(av) : "aformat=sample_fmts=u8|s16|s32|flt|dbl";
    parseGraph(av, source.graph.get(), input + "," + formats + "[out]", {}, {{"out", source.sink}});
    return source;
}

// The buffer source that takes a source's frames, described by its sink.
std::string bufferArguments(const FFmpegLibraries& av, AVFilterContext* sink, AVMediaType type) {
    const AVRational tb = av.av_buffersink_get_time_base(sink);
    std::string args = "time_base=" + std::to_string(tb.num) + "/" + std::to_string(tb.den);
    if (type == AVMEDIA_TYPE_VIDEO) {
        const AVRational sar = av.av_buffersink_get_sample_aspect_ratio(sink), rate = av.av_buffersink_get_frame_rate(sink);
        args += ":video_size=" + std::to_string(av.av_buffersink_get_w(sink)) + "x" + std::to_string(av.av_buffersink_get_h(sink)) +
                ":pix_fmt=" + std::to_string(av.av_buffersink_get_format(sink)) + ":pixel_aspect=" + std::to_string(sar.num) + "/" +
                std::to_string(sar.den ? sar.den : 1) + ":frame_rate=" + std::to_string(rate.num) + "/" + std::to_string(rate.den ? rate.den : 1);
    } else {
        AVChannelLayout layout{};
        check(av.av_buffersink_get_ch_layout(sink, &layout), "channel layout");
        args += ":sample_rate=" + std::to_string(av.av_buffersink_get_sample_rate(sink)) +
                ":sample_fmt=" + av.av_get_sample_fmt_name(static_cast<AVSampleFormat>(av.av_buffersink_get_format(sink))) +
                ":channel_layout=" + layoutName(av, layout);
    }
    return args;
}

// One stream being written: its input, the sink of the output's graph it is pulled from, its
// encoder and the muxer's stream.
struct Track {
    Source source;
    AVFilterContext* feed = nullptr;
    AVFilterContext* sink = nullptr;
    Owned<AVCodecContext> encoder;
    AVStream* stream = nullptr;
    long long framesLeft = -1;
    int64_t lastPts = std::numeric_limits<int64_t>::min();
    bool done = false;
};

class Writer {
public:
    Writer(const Inputs& inputs, const Output& out) : av_(FFmpegLibraries::get()), out_(out) {
        AVFormatContext* context = nullptr;
        check(av_.avformat_alloc_output_context2(&context, nullptr, out.format.empty() ? nullptr : out.format.c_str(), out.path.c_str()),
              "output format");
        muxer_.reset(context);
        // As ffmpeg does, a kind of stream goes where it is asked for or the container has a codec for it.
        auto wanted = [&](const std::string& input, bool refused, const std::string& codec, AVMediaType type) {
            return !input.empty() && !refused &&
                   (!codec.empty() || av_.av_guess_codec(context->oformat, nullptr, out.path.c_str(), nullptr, type) != AV_CODEC_ID_NONE);
        };
        if (wanted(inputs.video, out.noVideo, out.videoCodec, AVMEDIA_TYPE_VIDEO)) video_ = std::make_unique<Track>();
        if (wanted(inputs.audio, out.noAudio, out.audioCodec, AVMEDIA_TYPE_AUDIO)) audio_ = std::make_unique<Track>();
        if (!video_ && !audio_) throw std::runtime_error("no stream for " + out.path);
        buildGraph(inputs);
        if (video_) openVideo();
        if (audio_) openAudio();
    }

    void write() {
        if (!(muxer_->oformat->flags & AVFMT_NOFILE)) check(av_.avio_open(&muxer_->pb, out_.path.c_str(), AVIO_FLAG_WRITE), "open output");
        AVDictionary* options = dictionaryOf(av_, out_.muxerOptions);
        const int written = av_.avformat_write_header(muxer_.get(), &options);
        av_.av_dict_free(&options);
        check(written, "header");
        Owned<AVFrame> frame(av_.av_frame_alloc());
        Owned<AVPacket> packet(av_.av_packet_alloc());
        // The stream that is behind goes next, so that the muxer gets them interleaved.
        while (Track* track = nextTrack()) pull(*track, frame.get(), packet.get());
        check(av_.av_write_trailer(muxer_.get()), "trailer");
        check(av_.avio_closep(&muxer_->pb), "close output");
    }

private:
    void buildGraph(const Inputs& inputs) {
        graph_ = newGraph(av_);
        std::string text;
        std::vector<std::pair<std::string, AVFilterContext*>> feeding, fed;
        auto addTrack = [&](Track& track, const std::string& input, AVMediaType type, const std::string& chain) {
            const bool video = type == AVMEDIA_TYPE_VIDEO;
            track.source = openSource(av_, input, type);
            const char* in = video ? "vin" : "ain";
            const char* out = video ? "vout" : "aout";
            track.feed = newFilter(av_, graph_.get(), video ? "buffer" : "abuffer", in, bufferArguments(av_, track.source.sink, type));
            track.sink = newFilter(av_, graph_.get(), video ? "buffersink" : "abuffersink", out, "");
            feeding.emplace_back(in, track.feed);
            fed.emplace_back(out, track.sink);
            text += (text.empty() ? "" : ";") + ("[" + std::string(in) + "]" + chain + "[" + out + "]");
        };
        if (video_) {
            videoCodec_ = encoderFor(av_, out_.videoCodec, muxer_->oformat, out_.path, AVMEDIA_TYPE_VIDEO);
            std::string chain = out_.videoFilter.empty() ? "null" : out_.videoFilter;
            if (const auto formats = pixelFormats(av_, videoCodec_, out_.pixelFormat); !formats.empty()) chain += ",format=pix_fmts=" + formats;
            addTrack(*video_, inputs.video, AVMEDIA_TYPE_VIDEO, chain);
        }
        if (audio_) {
            audioCodec_ = encoderFor(av_, out_.audioCodec, muxer_->oformat, out_.path, AVMEDIA_TYPE_AUDIO);
            std::string chain = out_.audioFilter.empty() ? "anull" : out_.audioFilter;
            if (const auto formats = audioFormats(av_, audioCodec_, out_); !formats.empty()) chain += ",aformat=" + formats;
            addTrack(*audio_, inputs.audio, AVMEDIA_TYPE_AUDIO, chain);
        }
        parseGraph(av_, graph_.get(), text, feeding, fed);
    }

    AVCodecContext* newEncoder(Track& track, const AVCodec* codec) {
        track.encoder.reset(av_.avcodec_alloc_context3(codec));
        if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) track.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (out_.threads >= 0) track.encoder->thread_count = out_.threads;
        return track.encoder.get();
    }

    void openEncoder(Track& track, const AVCodec* codec, const Options& options) {
        AVDictionary* dictionary = dictionaryOf(av_, options);
        const int opened = av_.avcodec_open2(track.encoder.get(), codec, &dictionary);
        const AVDictionaryEntry* unused = av_.av_dict_get(dictionary, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        const std::string unusedName = unused ? unused->key : "";
        av_.av_dict_free(&dictionary);
        check(opened, codec->name);
        if (!unusedName.empty()) throw std::runtime_error(std::string(codec->name) + " has no option " + unusedName);
        track.stream = av_.avformat_new_stream(muxer_.get(), nullptr);
        track.stream->time_base = track.encoder->time_base;
        check(av_.avcodec_parameters_from_context(track.stream->codecpar, track.encoder.get()), "stream parameters");
    }

    void openVideo() {
        Track& track = *video_;
        AVCodecContext* encoder = newEncoder(track, videoCodec_);
        encoder->width = av_.av_buffersink_get_w(track.sink);
        encoder->height = av_.av_buffersink_get_h(track.sink);
        encoder->pix_fmt = static_cast<AVPixelFormat>(av_.av_buffersink_get_format(track.sink));
        encoder->sample_aspect_ratio = av_.av_buffersink_get_sample_aspect_ratio(track.sink);
        encoder->framerate = av_.av_buffersink_get_frame_rate(track.sink);
        encoder->time_base = encoder->framerate.num > 0 ? av_inv_q(encoder->framerate) : av_.av_buffersink_get_time_base(track.sink);
        if (out_.quality >= 0) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * out_.quality);
        }
        track.framesLeft = out_.videoFrames;
        openEncoder(track, videoCodec_, out_.videoOptions);
        for (const auto& [key, value] : out_.videoMetadata) {
            // ffmpeg turns a "rotate" tag into the stream's display matrix, turning the other way.
            if (key != "rotate") av_.av_dict_set(&track.stream->metadata, key.c_str(), value.c_str(), 0);
            else if (auto* matrix = av_.av_stream_new_side_data(track.stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)))
                av_.av_display_rotation_set(reinterpret_cast<int32_t*>(matrix), -std::stod(value));
        }
        if (!out_.videoTag.empty())
            track.stream->codecpar->codec_tag = MKTAG(out_.videoTag[0], out_.videoTag[1], out_.videoTag[2], out_.videoTag[3]);
    }

    void openAudio() {
        Track& track = *audio_;
        AVCodecContext* encoder = newEncoder(track, audioCodec_);
        encoder->sample_fmt = static_cast<AVSampleFormat>(av_.av_buffersink_get_format(track.sink));
        encoder->sample_rate = av_.av_buffersink_get_sample_rate(track.sink);
        check(av_.av_buffersink_get_ch_layout(track.sink, &encoder->ch_layout), "channel layout");
        encoder->time_base = AVRational{1, encoder->sample_rate};
        openEncoder(track, audioCodec_, out_.audioOptions);
        if (!(audioCodec_->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && encoder->frame_size > 0)
            av_.av_buffersink_set_frame_size(track.sink, static_cast<unsigned>(encoder->frame_size));
    }

    Track* nextTrack() const {
        Track* next = nullptr;
        double nextTime = 0;
        for (Track* track : {video_.get(), audio_.get()}) {
            if (!track || track->done) continue;
            const double time = track->lastPts == std::numeric_limits<int64_t>::min()
                                    ? -1
                                    : static_cast<double>(track->lastPts) * av_q2d(track->encoder->time_base);
            if (!next || time < nextTime) next = track, nextTime = time;
        }
        return next;
    }

    // One frame from the graph into the encoder (or the end, which drains it), and its packets out.
    void pull(Track& track, AVFrame* frame, AVPacket* packet) {
        AVCodecContext* encoder = track.encoder.get();
        int got = track.framesLeft == 0 ? AVERROR_EOF : av_.av_buffersink_get_frame(track.sink, frame);
        while (got == AVERROR(EAGAIN)) {
            const int read = av_.av_buffersink_get_frame(track.source.sink, frame);
            if (read != AVERROR_EOF) check(read, "source");
            check(av_.av_buffersrc_add_frame(track.feed, read == AVERROR_EOF ? nullptr : frame), "filter graph");
            got = av_.av_buffersink_get_frame(track.sink, frame);
        }
        if (got == AVERROR_EOF) {
            track.done = true;
            check(av_.avcodec_send_frame(encoder, nullptr), "end of stream");
        } else {
            check(got, "filter graph");
            frame->pts = av_.av_rescale_q(frame->pts, av_.av_buffersink_get_time_base(track.sink), encoder->time_base);
            if (&track == video_.get()) {
                frame->pict_type = AV_PICTURE_TYPE_NONE;
                if (out_.quality >= 0) frame->quality = encoder->global_quality;
            }
            track.lastPts = frame->pts;
            if (track.framesLeft > 0) --track.framesLeft;
            const int sent = av_.avcodec_send_frame(encoder, frame);
            av_.av_frame_unref(frame);
            check(sent, "encode");
        }
        for (;;) {
            const int r = av_.avcodec_receive_packet(encoder, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
            check(r, "encode");
            // A picture lasts until the next, the last one too, as ffmpeg writes it.
            if (packet->duration == 0 && &track == video_.get() && encoder->framerate.num > 0)
                packet->duration = av_.av_rescale_q(1, av_inv_q(encoder->framerate), encoder->time_base);
            av_.av_packet_rescale_ts(packet, encoder->time_base, track.stream->time_base);
            packet->stream_index = track.stream->index;
            check(av_.av_interleaved_write_frame(muxer_.get(), packet), "write");
        }
    }

    const FFmpegLibraries& av_;
    const Output& out_;
    Owned<AVFormatContext> muxer_;
    Owned<AVFilterGraph> graph_;
    std::unique_ptr<Track> video_, audio_;
    const AVCodec* videoCodec_ = nullptr;
    const AVCodec* audioCodec_ = nullptr;
};

}  // namespace

bool makeInProcess(const std::string& args) {
    const auto words = shellWords(args);
    const auto command = words ? parse(*words) : std::nullopt;
    if (!command) return false;
    const FFmpegLibraries& av = FFmpegLibraries::get();
    const auto inputs = sortInputs(av, command->inputs);
    if (!inputs) return false;
    for (const Output& out : command->outputs) {
        try {
            Writer(*inputs, out).write();
        } catch (...) {
            std::error_code ignored;
            std::filesystem::remove(out.path, ignored);
            throw;
        }
    }
    return true;
}

}  // namespace calvoro::testing::media
