#pragma once

// Internal to the media layer: the FFmpeg functions it calls, resolved at run time.
//
// FFmpeg and the codec libraries it pulls in cost tens of milliseconds to load, which a program
// that converts only an image should not pay. So nothing of FFmpeg is linked: the libraries are
// opened on the first media operation and their functions called through this table. The headers
// still give the types, the inline helpers and, through decltype, every function's signature.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/avdct.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/version.h>
#include <libswresample/swresample.h>
#include <libswresample/version.h>
#include <libswscale/swscale.h>
#include <libswscale/version.h>
}

#include <string>

namespace calvoro::media::ff {

// The versioned sonames of the libraries the headers describe.
struct Libraries {
    std::string avutil = "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR);
    std::string avcodec = "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR);
    std::string avformat = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    std::string swresample = "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR);
    std::string swscale = "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR);
};

struct Api {
    // libavutil
    decltype(&::av_audio_fifo_alloc) av_audio_fifo_alloc;
    decltype(&::av_audio_fifo_free) av_audio_fifo_free;
    decltype(&::av_audio_fifo_read) av_audio_fifo_read;
    decltype(&::av_audio_fifo_size) av_audio_fifo_size;
    decltype(&::av_audio_fifo_write) av_audio_fifo_write;
    decltype(&::av_channel_layout_compare) av_channel_layout_compare;
    decltype(&::av_channel_layout_copy) av_channel_layout_copy;
    decltype(&::av_channel_layout_default) av_channel_layout_default;
    decltype(&::av_channel_layout_uninit) av_channel_layout_uninit;
    decltype(&::av_d2q) av_d2q;
    decltype(&::av_dict_free) av_dict_free;
    decltype(&::av_dict_get) av_dict_get;
    decltype(&::av_dict_set) av_dict_set;
    decltype(&::av_display_rotation_get) av_display_rotation_get;
    decltype(&::av_display_rotation_set) av_display_rotation_set;
    decltype(&::av_frame_alloc) av_frame_alloc;
    decltype(&::av_frame_copy_props) av_frame_copy_props;
    decltype(&::av_frame_free) av_frame_free;
    decltype(&::av_frame_get_buffer) av_frame_get_buffer;
    decltype(&::av_frame_unref) av_frame_unref;
    decltype(&::av_freep) av_freep;
    decltype(&::av_get_pix_fmt_name) av_get_pix_fmt_name;
    decltype(&::av_log_set_level) av_log_set_level;
    decltype(&::av_mallocz) av_mallocz;
    decltype(&::av_opt_set) av_opt_set;
    decltype(&::av_opt_set_double) av_opt_set_double;
    decltype(&::av_rescale_q) av_rescale_q;
    decltype(&::av_samples_alloc_array_and_samples) av_samples_alloc_array_and_samples;
    decltype(&::av_strerror) av_strerror;

    // libavcodec
    decltype(&::av_new_packet) av_new_packet;
    decltype(&::av_packet_alloc) av_packet_alloc;
    decltype(&::av_packet_clone) av_packet_clone;
    decltype(&::av_packet_free) av_packet_free;
    decltype(&::av_packet_rescale_ts) av_packet_rescale_ts;
    decltype(&::av_packet_unref) av_packet_unref;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3;
    decltype(&::avcodec_dct_alloc) avcodec_dct_alloc;
    decltype(&::avcodec_decode_subtitle2) avcodec_decode_subtitle2;
    decltype(&::avcodec_dct_init) avcodec_dct_init;
    decltype(&::avcodec_descriptor_get_by_name) avcodec_descriptor_get_by_name;
    decltype(&::avcodec_encode_subtitle) avcodec_encode_subtitle;
    decltype(&::avcodec_find_decoder) avcodec_find_decoder;
    decltype(&::avcodec_find_encoder_by_name) avcodec_find_encoder_by_name;
    decltype(&::avcodec_flush_buffers) avcodec_flush_buffers;
    decltype(&::avcodec_free_context) avcodec_free_context;
    decltype(&::avcodec_get_name) avcodec_get_name;
    decltype(&::avcodec_open2) avcodec_open2;
    decltype(&::avcodec_parameters_alloc) avcodec_parameters_alloc;
    decltype(&::avcodec_parameters_copy) avcodec_parameters_copy;
    decltype(&::avcodec_parameters_free) avcodec_parameters_free;
    decltype(&::avcodec_parameters_from_context) avcodec_parameters_from_context;
    decltype(&::avcodec_parameters_to_context) avcodec_parameters_to_context;
    decltype(&::avcodec_receive_frame) avcodec_receive_frame;
    decltype(&::avcodec_receive_packet) avcodec_receive_packet;
    decltype(&::avcodec_send_frame) avcodec_send_frame;
    decltype(&::avcodec_send_packet) avcodec_send_packet;
    decltype(&::avsubtitle_free) avsubtitle_free;

    // libavformat
    decltype(&::av_find_best_stream) av_find_best_stream;
    decltype(&::av_find_input_format) av_find_input_format;
    decltype(&::av_guess_format) av_guess_format;
    decltype(&::av_interleaved_write_frame) av_interleaved_write_frame;
    decltype(&::av_read_frame) av_read_frame;
    decltype(&::av_seek_frame) av_seek_frame;
    decltype(&::av_stream_get_side_data) av_stream_get_side_data;
    decltype(&::av_stream_new_side_data) av_stream_new_side_data;
    decltype(&::av_write_trailer) av_write_trailer;
    decltype(&::avformat_alloc_output_context2) avformat_alloc_output_context2;
    decltype(&::avformat_close_input) avformat_close_input;
    decltype(&::avformat_find_stream_info) avformat_find_stream_info;
    decltype(&::avformat_free_context) avformat_free_context;
    decltype(&::avformat_new_stream) avformat_new_stream;
    decltype(&::avformat_open_input) avformat_open_input;
    decltype(&::avformat_query_codec) avformat_query_codec;
    decltype(&::avformat_write_header) avformat_write_header;
    decltype(&::avio_closep) avio_closep;
    decltype(&::avio_open) avio_open;

    // libswresample
    decltype(&::swr_alloc_set_opts2) swr_alloc_set_opts2;
    decltype(&::swr_convert) swr_convert;
    decltype(&::swr_free) swr_free;
    decltype(&::swr_get_delay) swr_get_delay;
    decltype(&::swr_get_out_samples) swr_get_out_samples;
    decltype(&::swr_init) swr_init;

    // libswscale
    decltype(&::sws_freeContext) sws_freeContext;
    decltype(&::sws_getCachedContext) sws_getCachedContext;
    decltype(&::sws_getContext) sws_getContext;
    decltype(&::sws_scale) sws_scale;
};

// The table, loaded once per process on first use with FFmpeg's own logging quieted, so that
// standard output carries only our lines. Throws ConversionError when a library or one of its
// functions is missing, on this and every later call.
const Api& api();

// The table when the libraries are loaded already, else null; never loads. For destructors and
// deleters: before the libraries are loaded nothing of FFmpeg can need releasing, and unwinding
// from a failed load must not throw again.
const Api* loadedApi() noexcept;

// Makes api() fail as when the libraries are missing (what is loaded stays loaded), for tests.
void simulateAbsenceForTesting(bool absent);

// Opens the given libraries and fills table from them; returns the failure ("FFmpeg libraries
// are not available: ..."), empty when every function was found. On success the libraries stay
// loaded for the life of the process; on failure those it opened are closed again.
std::string load(const Libraries& libraries, Api& table);

}  // namespace calvoro::media::ff
