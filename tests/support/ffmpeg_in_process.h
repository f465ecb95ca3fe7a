#pragma once

// FFmpeg's libraries opened in the test's own process. A start of the ffmpeg or ffprobe program
// maps some two hundred libraries, which beside a loaded suite costs far more than making or
// reading a small clip: the same libraries do the work here instead.

#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/md5.h>
#include <libavutil/pixdesc.h>
}

namespace calvoro::testing::media {

struct FFmpegLibraries {
    void* util = ::dlopen("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), RTLD_NOW);
    void* codec = ::dlopen("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), RTLD_NOW);
    void* format = ::dlopen("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW);
    void* filter = ::dlopen("libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR), RTLD_NOW);
    template <typename F>
    F get(void* library, const char* name) const {
        void* f = library ? ::dlsym(library, name) : nullptr;
        if (!f) throw std::runtime_error(std::string("FFmpeg has no ") + name);
        return reinterpret_cast<F>(f);
    }
#define CALVORO_FFMPEG_FN(library, name) decltype(&::name) name = get<decltype(&::name)>(library, #name)
    CALVORO_FFMPEG_FN(util, av_log_set_level);
    CALVORO_FFMPEG_FN(util, av_dict_get);
    CALVORO_FFMPEG_FN(util, av_dict_set);
    CALVORO_FFMPEG_FN(util, av_dict_free);
    CALVORO_FFMPEG_FN(util, av_get_media_type_string);
    CALVORO_FFMPEG_FN(util, av_get_sample_fmt_name);
    CALVORO_FFMPEG_FN(util, av_get_pix_fmt_name);
    CALVORO_FFMPEG_FN(util, av_display_rotation_get);
    CALVORO_FFMPEG_FN(util, av_display_rotation_set);
    CALVORO_FFMPEG_FN(util, av_md5_sum);
    CALVORO_FFMPEG_FN(util, av_strerror);
    CALVORO_FFMPEG_FN(util, av_strdup);
    CALVORO_FFMPEG_FN(util, av_rescale_q);
    CALVORO_FFMPEG_FN(util, av_frame_alloc);
    CALVORO_FFMPEG_FN(util, av_frame_free);
    CALVORO_FFMPEG_FN(util, av_frame_unref);
    CALVORO_FFMPEG_FN(util, av_channel_layout_default);
    CALVORO_FFMPEG_FN(util, av_channel_layout_describe);
    CALVORO_FFMPEG_FN(util, av_pix_fmt_desc_next);
    CALVORO_FFMPEG_FN(util, av_pix_fmt_desc_get_id);
    CALVORO_FFMPEG_FN(codec, avcodec_get_name);
    CALVORO_FFMPEG_FN(codec, av_packet_alloc);
    CALVORO_FFMPEG_FN(codec, av_packet_free);
    CALVORO_FFMPEG_FN(codec, av_packet_unref);
    CALVORO_FFMPEG_FN(codec, av_packet_rescale_ts);
    CALVORO_FFMPEG_FN(codec, avcodec_find_encoder);
    CALVORO_FFMPEG_FN(codec, avcodec_find_encoder_by_name);
    CALVORO_FFMPEG_FN(codec, avcodec_find_decoder);
    CALVORO_FFMPEG_FN(codec, avcodec_alloc_context3);
    CALVORO_FFMPEG_FN(codec, avcodec_free_context);
    CALVORO_FFMPEG_FN(codec, avcodec_open2);
    CALVORO_FFMPEG_FN(codec, avcodec_parameters_from_context);
    CALVORO_FFMPEG_FN(codec, avcodec_parameters_to_context);
    CALVORO_FFMPEG_FN(codec, avcodec_send_frame);
    CALVORO_FFMPEG_FN(codec, avcodec_receive_packet);
    CALVORO_FFMPEG_FN(codec, avcodec_send_packet);
    CALVORO_FFMPEG_FN(codec, avcodec_receive_frame);
    CALVORO_FFMPEG_FN(format, avformat_open_input);
    CALVORO_FFMPEG_FN(format, avformat_find_stream_info);
    CALVORO_FFMPEG_FN(format, avformat_close_input);
    CALVORO_FFMPEG_FN(format, av_stream_get_side_data);
    CALVORO_FFMPEG_FN(format, av_stream_new_side_data);
    CALVORO_FFMPEG_FN(format, av_read_frame);
    CALVORO_FFMPEG_FN(format, avformat_alloc_output_context2);
    CALVORO_FFMPEG_FN(format, avformat_free_context);
    CALVORO_FFMPEG_FN(format, avformat_new_stream);
    CALVORO_FFMPEG_FN(format, avformat_write_header);
    CALVORO_FFMPEG_FN(format, av_interleaved_write_frame);
    CALVORO_FFMPEG_FN(format, av_write_trailer);
    CALVORO_FFMPEG_FN(format, av_guess_codec);
    CALVORO_FFMPEG_FN(format, avio_open);
    CALVORO_FFMPEG_FN(format, avio_closep);
    CALVORO_FFMPEG_FN(filter, avfilter_get_by_name);
    CALVORO_FFMPEG_FN(filter, avfilter_filter_pad_count);
    CALVORO_FFMPEG_FN(filter, avfilter_pad_get_type);
    CALVORO_FFMPEG_FN(filter, avfilter_graph_alloc);
    CALVORO_FFMPEG_FN(filter, avfilter_graph_free);
    CALVORO_FFMPEG_FN(filter, avfilter_graph_create_filter);
    CALVORO_FFMPEG_FN(filter, avfilter_graph_parse_ptr);
    CALVORO_FFMPEG_FN(filter, avfilter_graph_config);
    CALVORO_FFMPEG_FN(filter, avfilter_inout_alloc);
    CALVORO_FFMPEG_FN(filter, avfilter_inout_free);
    CALVORO_FFMPEG_FN(filter, av_buffersrc_add_frame);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_frame);
    CALVORO_FFMPEG_FN(filter, av_buffersink_set_frame_size);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_time_base);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_frame_rate);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_format);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_w);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_h);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_sample_aspect_ratio);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_sample_rate);
    CALVORO_FFMPEG_FN(filter, av_buffersink_get_ch_layout);
#undef CALVORO_FFMPEG_FN
    // Opened once for the process, quiet.
    static const FFmpegLibraries& get();
    // FFmpeg's words for an error code.
    std::string error(int code) const;
};

// FFmpeg's objects, each freed with its own function.
struct FFmpegDeleter {
    void operator()(AVFilterGraph* g) const { FFmpegLibraries::get().avfilter_graph_free(&g); }
    void operator()(AVCodecContext* c) const { FFmpegLibraries::get().avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { FFmpegLibraries::get().av_frame_free(&f); }
    void operator()(AVPacket* p) const { FFmpegLibraries::get().av_packet_free(&p); }
    void operator()(AVFormatContext* c) const {
        if (c->pb) FFmpegLibraries::get().avio_closep(&c->pb);
        FFmpegLibraries::get().avformat_free_context(c);
    }
};
template <typename T>
using Owned = std::unique_ptr<T, FFmpegDeleter>;

// Writes what `ffmpeg <args>` would, in this process, when every input is a lavfi source graph
// (one video, one audio at most) and every option is one that the fixtures use; a "rotate" tag
// is written as a stream copy writes it (the program drops it when it encodes). Returns false,
// having written nothing, for anything else, which the ffmpeg program is then left to make.
// Throws std::runtime_error with FFmpeg's message when the libraries refuse the work.
bool makeInProcess(const std::string& args);

}  // namespace calvoro::testing::media
