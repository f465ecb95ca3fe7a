#pragma once

// Media fixtures as the ffmpeg command makes them, and ffprobe's view of written files, both
// through FFmpeg's libraries in the test's own process where they can.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ffmpeg_in_process.h"
#include "support/test_support.h"

namespace calvoro::testing::media {

// What the fixtures' libraries cannot make, and some read-backs, take ffmpeg's programs: without
// them a test fails.
#define REQUIRE_FFMPEG()                                            \
    do {                                                            \
        ASSERT_TRUE(::calvoro::testing::peerInstalled("ffmpeg"));   \
        ASSERT_TRUE(::calvoro::testing::peerInstalled("ffprobe"));  \
    } while (0)

// Does what ffmpeg quietly does with the given arguments; fails the test when it fails.
inline void ffmpeg(const std::string& args) {
    try {
        if (makeInProcess(args)) return;
    } catch (const std::exception& e) {
        FAIL() << args << "\n" << e.what();
    }
    auto r = run("ffmpeg -nostdin -hide_banner -loglevel error -y " + args);
    ASSERT_EQ(r.status, 0) << args << "\n" << r.output;
}

struct VideoSpec {
    int width = 160;
    int height = 120;
    double rate = 30;
    double seconds = 1;
    bool audio = true;
    int channels = 2;
    int rotation = 0;  // the "rotate" tag of the container
    std::string videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";
    std::string audioCodec = "-c:a aac";
};

inline std::filesystem::path makeVideo(const std::filesystem::path& path, const VideoSpec& spec = {}) {
    std::string in = "-f lavfi -i testsrc=size=" + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                     ":rate=" + std::to_string(spec.rate) + ":duration=" + std::to_string(spec.seconds);
    if (spec.audio)
        in += " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + std::to_string(spec.seconds) + " -ac " +
              std::to_string(spec.channels);
    // One encoder thread: a fixture is small, and threads only add work on a busy machine.
    std::string codecs = spec.videoCodec + (spec.audio ? " " + spec.audioCodec : "") + " -threads 1";
    const std::string rotation = spec.rotation ? " -metadata:s:v:0 rotate=" + std::to_string(spec.rotation) : "";
    ffmpeg(in + " " + codecs + rotation + " " + shellQuote(path.string()));
    return path;
}

inline std::filesystem::path makeTone(const std::filesystem::path& path, double seconds = 1, int rate = 44100, int channels = 2,
                                      const std::string& codec = "") {
    ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds) + " -ac " +
           std::to_string(channels) + " " + codec + " " + shellQuote(path.string()));
    return path;
}

// ffprobe's description of a file (its -show_format -show_streams fields that the tests read).
struct Probe {
    nlohmann::json json;
    const nlohmann::json* stream(const std::string& type) const {
        for (const auto& s : json["streams"])
            if (s.value("codec_type", "") == type) return &s;
        return nullptr;
    }
    std::string formatName() const { return json["format"].value("format_name", ""); }
    double duration() const { return std::atof(json["format"].value("duration", "0").c_str()); }
    std::string codec(const std::string& type) const {
        auto* s = stream(type);
        return s ? s->value("codec_name", "") : "";
    }
    int videoWidth() const { return stream("video") ? (*stream("video"))["width"].get<int>() : 0; }
    int videoHeight() const { return stream("video") ? (*stream("video"))["height"].get<int>() : 0; }
    int channels() const { return stream("audio") ? (*stream("audio"))["channels"].get<int>() : 0; }
    int sampleRate() const { return stream("audio") ? std::atoi((*stream("audio")).value("sample_rate", "0").c_str()) : 0; }
    std::string sampleFormat() const { return stream("audio") ? stream("audio")->value("sample_fmt", "") : ""; }
    int rotation() const {
        auto* s = stream("video");
        if (!s || !s->contains("side_data_list")) return 0;
        for (const auto& d : (*s)["side_data_list"])
            if (d.contains("rotation")) return d["rotation"].get<int>();
        return 0;
    }
    std::string majorBrand() const { return json["format"]["tags"].value("major_brand", ""); }
};

namespace detail {

inline nlohmann::json tagsOf(const FFmpegLibraries& av, const AVDictionary* dictionary) {
    auto tags = nlohmann::json::object();
    for (const AVDictionaryEntry* e = nullptr; (e = av.av_dict_get(dictionary, "", e, AV_DICT_IGNORE_SUFFIX));) tags[e->key] = e->value;
    return tags;
}

inline nlohmann::json describeStream(const FFmpegLibraries& av, AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    const char* type = av.av_get_media_type_string(par->codec_type);
    nlohmann::json s = {{"codec_type", type ? type : "unknown"},
                        {"codec_name", av.avcodec_get_name(par->codec_id)},
                        {"tags", tagsOf(av, st->metadata)},
                        {"disposition",
                         {{"default", (st->disposition & AV_DISPOSITION_DEFAULT) ? 1 : 0},
                          {"forced", (st->disposition & AV_DISPOSITION_FORCED) ? 1 : 0}}}};
    if (par->bit_rate > 0) s["bit_rate"] = std::to_string(par->bit_rate);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        s["width"] = par->width;
        s["height"] = par->height;
        const char* pixels = av.av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
        s["pix_fmt"] = pixels ? pixels : "unknown";
        size_t size = 0;
        if (auto* matrix = av.av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size); matrix && size >= 9 * sizeof(int32_t))
            s["side_data_list"] = {{{"rotation", static_cast<int>(av.av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)))}}};
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        s["channels"] = par->ch_layout.nb_channels;
        s["sample_rate"] = std::to_string(par->sample_rate);
        const char* format = av.av_get_sample_fmt_name(static_cast<AVSampleFormat>(par->format));
        s["sample_fmt"] = format ? format : "unknown";
    }
    return s;
}

// A media file opened for reading, quietly; closed when it goes.
struct OpenedMedia {
    const FFmpegLibraries& av = FFmpegLibraries::get();
    AVFormatContext* context = nullptr;
    explicit OpenedMedia(const std::filesystem::path& path) {
        if (av.avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) context = nullptr;
    }
    ~OpenedMedia() {
        if (context) av.avformat_close_input(&context);
    }
    OpenedMedia(const OpenedMedia&) = delete;
    OpenedMedia& operator=(const OpenedMedia&) = delete;
};

}  // namespace detail

inline Probe probe(const std::filesystem::path& path) {
    Probe p;
    p.json = nlohmann::json::object({{"streams", nlohmann::json::array()}, {"format", nlohmann::json::object()}});
    detail::OpenedMedia file(path);
    AVFormatContext* context = file.context;
    if (!context || file.av.avformat_find_stream_info(context, nullptr) < 0) return p;
    for (unsigned i = 0; i < context->nb_streams; ++i) p.json["streams"].push_back(detail::describeStream(file.av, context->streams[i]));
    p.json["format"] = {{"format_name", context->iformat->name}, {"tags", detail::tagsOf(file.av, context->metadata)}};
    if (context->duration != AV_NOPTS_VALUE)
        p.json["format"]["duration"] = std::to_string(static_cast<double>(context->duration) / AV_TIME_BASE);
    return p;
}

// Each packet of the file's streams of a type (all when empty) in file order, as ffprobe lists
// them with -show_data_hash md5: "stream,time,size,flags,MD5:checksum".
inline std::string packetDigest(const std::filesystem::path& path, const std::string& type = "") {
    detail::OpenedMedia file(path);
    const auto& av = file.av;
    AVFormatContext* context = file.context;
    if (!context) {
        ADD_FAILURE() << "FFmpeg cannot open " << path;
        return "";
    }
    std::string out;
    Owned<AVPacket> packet(av.av_packet_alloc());
    while (packet && av.av_read_frame(context, packet.get()) >= 0) {
        const AVStream* st = context->streams[packet->stream_index];
        const char* kind = av.av_get_media_type_string(st->codecpar->codec_type);
        if (type.empty() || (kind && type == kind)) {
            uint8_t md5[16];
            av.av_md5_sum(md5, packet->data, static_cast<size_t>(packet->size));
            char hex[33];
            for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md5[i]);
            char line[160];
            std::snprintf(line, sizeof line, "%d,%.6f,%d,%c%c,MD5:%s\n", packet->stream_index,
                          packet->pts == AV_NOPTS_VALUE ? NAN : packet->pts * av_q2d(st->time_base), packet->size,
                          (packet->flags & AV_PKT_FLAG_KEY) ? 'K' : '_', (packet->flags & AV_PKT_FLAG_DISCARD) ? 'D' : '_', hex);
            out += line;
        }
        av.av_packet_unref(packet.get());
    }
    return out;
}

inline std::vector<Probe> probeAll(const std::vector<std::filesystem::path>& paths) {
    std::vector<Probe> out;
    for (const auto& path : paths) out.push_back(probe(path));
    return out;
}

// A decoded picture's time and duration in seconds, as ffprobe gives them (to the microsecond).
struct DecodedFrame {
    double time = 0;
    double duration = 0;
};

// The pictures of the first video stream, decoded.
inline std::vector<DecodedFrame> decodedFrames(const std::filesystem::path& path) {
    detail::OpenedMedia file(path);
    const auto& av = file.av;
    std::vector<DecodedFrame> out;
    if (!file.context || av.avformat_find_stream_info(file.context, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot read " << path;
        return out;
    }
    int index = -1;
    for (unsigned i = 0; i < file.context->nb_streams && index < 0; ++i)
        if (file.context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) index = static_cast<int>(i);
    if (index < 0) return out;
    const AVStream* stream = file.context->streams[index];
    Owned<AVCodecContext> decoder(av.avcodec_alloc_context3(av.avcodec_find_decoder(stream->codecpar->codec_id)));
    av.avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    decoder->pkt_timebase = stream->time_base;
    Owned<AVPacket> packet(av.av_packet_alloc());
    Owned<AVFrame> frame(av.av_frame_alloc());
    auto seconds = [&](int64_t units) {
        char text[32];
        std::snprintf(text, sizeof text, "%f", static_cast<double>(units) * av_q2d(stream->time_base));
        return std::atof(text);
    };
    auto receive = [&] {
        while (av.avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            out.push_back({seconds(frame->pts), seconds(frame->pkt_duration)});
            av.av_frame_unref(frame.get());
        }
    };
    if (av.avcodec_open2(decoder.get(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot decode " << path;
        return out;
    }
    while (av.av_read_frame(file.context, packet.get()) >= 0) {
        if (packet->stream_index == index && av.avcodec_send_packet(decoder.get(), packet.get()) >= 0) receive();
        av.av_packet_unref(packet.get());
    }
    av.avcodec_send_packet(decoder.get(), nullptr);
    receive();
    return out;
}

// Each picture's duration in seconds, one a decoded picture.
inline std::vector<double> frameDurations(const std::filesystem::path& path) {
    std::vector<double> out;
    for (const DecodedFrame& f : decodedFrames(path)) out.push_back(f.duration);
    return out;
}

}  // namespace calvoro::testing::media
