#include "platform/media/ffmpeg_api.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "core/conversion_error.h"

namespace calvoro::media::ff {

namespace {

constexpr const char* kFailurePrefix = "FFmpeg libraries are not available: ";

std::string lastDlError(const std::string& fallback) {
    const char* text = ::dlerror();
    return text ? std::string(text) : fallback;
}

// A library opened for the table; closed again unless the whole table was filled.
class Library {
public:
    Library() = default;
    ~Library() {
        if (handle_) ::dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool open(const std::string& soname, std::string& failure) {
        handle_ = ::dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) failure = kFailurePrefix + lastDlError(soname + ": cannot be opened");
        return handle_ != nullptr;
    }

    template <typename Function>
    void bind(const char* name, Function& slot, std::string& failure) {
        if (!failure.empty()) return;
        ::dlerror();
        void* symbol = ::dlsym(handle_, name);
        if (!symbol) {
            failure = kFailurePrefix + lastDlError(std::string("undefined symbol: ") + name);
            return;
        }
        slot = reinterpret_cast<Function>(symbol);
    }

    // Keeps the library loaded for the rest of the process: the table points into it.
    void keep() { handle_ = nullptr; }

private:
    void* handle_ = nullptr;
};

// Fills the table's slots from each library in turn; the first symbol missing is the failure,
// and nothing after it is looked up. Each name is written once, so a slot cannot be filled from
// another function's symbol.
#define CALVORO_FF_BIND(library, name) library.bind(#name, filled.name, failure)

void bindAvutil(Library& avutil, Api& filled, std::string& failure) {
    CALVORO_FF_BIND(avutil, av_audio_fifo_alloc);
    CALVORO_FF_BIND(avutil, av_audio_fifo_free);
    CALVORO_FF_BIND(avutil, av_audio_fifo_read);
    CALVORO_FF_BIND(avutil, av_audio_fifo_size);
    CALVORO_FF_BIND(avutil, av_audio_fifo_write);
    CALVORO_FF_BIND(avutil, av_channel_layout_compare);
    CALVORO_FF_BIND(avutil, av_channel_layout_copy);
    CALVORO_FF_BIND(avutil, av_channel_layout_default);
    CALVORO_FF_BIND(avutil, av_channel_layout_uninit);
    CALVORO_FF_BIND(avutil, av_d2q);
    CALVORO_FF_BIND(avutil, av_dict_free);
    CALVORO_FF_BIND(avutil, av_dict_get);
    CALVORO_FF_BIND(avutil, av_dict_set);
    CALVORO_FF_BIND(avutil, av_display_rotation_get);
    CALVORO_FF_BIND(avutil, av_display_rotation_set);
    CALVORO_FF_BIND(avutil, av_frame_alloc);
    CALVORO_FF_BIND(avutil, av_frame_copy_props);
    CALVORO_FF_BIND(avutil, av_frame_free);
    CALVORO_FF_BIND(avutil, av_frame_get_buffer);
    CALVORO_FF_BIND(avutil, av_frame_unref);
    CALVORO_FF_BIND(avutil, av_freep);
    CALVORO_FF_BIND(avutil, av_get_pix_fmt_name);
    CALVORO_FF_BIND(avutil, av_log_set_level);
    CALVORO_FF_BIND(avutil, av_mallocz);
    CALVORO_FF_BIND(avutil, av_opt_set);
    CALVORO_FF_BIND(avutil, av_opt_set_double);
    CALVORO_FF_BIND(avutil, av_rescale_q);
    CALVORO_FF_BIND(avutil, av_samples_alloc_array_and_samples);
    CALVORO_FF_BIND(avutil, av_strerror);
}

void bindAvcodec(Library& avcodec, Api& filled, std::string& failure) {
    CALVORO_FF_BIND(avcodec, av_new_packet);
    CALVORO_FF_BIND(avcodec, av_packet_alloc);
    CALVORO_FF_BIND(avcodec, av_packet_clone);
    CALVORO_FF_BIND(avcodec, av_packet_free);
    CALVORO_FF_BIND(avcodec, av_packet_rescale_ts);
    CALVORO_FF_BIND(avcodec, av_packet_unref);
    CALVORO_FF_BIND(avcodec, avcodec_alloc_context3);
    CALVORO_FF_BIND(avcodec, avcodec_dct_alloc);
    CALVORO_FF_BIND(avcodec, avcodec_decode_subtitle2);
    CALVORO_FF_BIND(avcodec, avcodec_dct_init);
    CALVORO_FF_BIND(avcodec, avcodec_descriptor_get_by_name);
    CALVORO_FF_BIND(avcodec, avcodec_encode_subtitle);
    CALVORO_FF_BIND(avcodec, avcodec_find_decoder);
    CALVORO_FF_BIND(avcodec, avcodec_find_encoder_by_name);
    CALVORO_FF_BIND(avcodec, avcodec_flush_buffers);
    CALVORO_FF_BIND(avcodec, avcodec_free_context);
    CALVORO_FF_BIND(avcodec, avcodec_get_name);
    CALVORO_FF_BIND(avcodec, avcodec_open2);
    CALVORO_FF_BIND(avcodec, avcodec_parameters_alloc);
    CALVORO_FF_BIND(avcodec, avcodec_parameters_copy);
    CALVORO_FF_BIND(avcodec, avcodec_parameters_free);
    CALVORO_FF_BIND(avcodec, avcodec_parameters_from_context);
    CALVORO_FF_BIND(avcodec, avcodec_parameters_to_context);
    CALVORO_FF_BIND(avcodec, avcodec_receive_frame);
    CALVORO_FF_BIND(avcodec, avcodec_receive_packet);
    CALVORO_FF_BIND(avcodec, avcodec_send_frame);
    CALVORO_FF_BIND(avcodec, avcodec_send_packet);
    CALVORO_FF_BIND(avcodec, avsubtitle_free);
}

void bindAvformat(Library& avformat, Api& filled, std::string& failure) {
    CALVORO_FF_BIND(avformat, av_find_best_stream);
    CALVORO_FF_BIND(avformat, av_find_input_format);
    CALVORO_FF_BIND(avformat, av_guess_format);
    CALVORO_FF_BIND(avformat, av_interleaved_write_frame);
    CALVORO_FF_BIND(avformat, av_read_frame);
    CALVORO_FF_BIND(avformat, av_seek_frame);
    CALVORO_FF_BIND(avformat, av_stream_get_side_data);
    CALVORO_FF_BIND(avformat, av_stream_new_side_data);
    CALVORO_FF_BIND(avformat, av_write_trailer);
    CALVORO_FF_BIND(avformat, avformat_alloc_output_context2);
    CALVORO_FF_BIND(avformat, avformat_close_input);
    CALVORO_FF_BIND(avformat, avformat_find_stream_info);
    CALVORO_FF_BIND(avformat, avformat_free_context);
    CALVORO_FF_BIND(avformat, avformat_new_stream);
    CALVORO_FF_BIND(avformat, avformat_open_input);
    CALVORO_FF_BIND(avformat, avformat_query_codec);
    CALVORO_FF_BIND(avformat, avformat_write_header);
    CALVORO_FF_BIND(avformat, avio_closep);
    CALVORO_FF_BIND(avformat, avio_open);
}

void bindResampleAndScale(Library& swresample, Library& swscale, Api& filled, std::string& failure) {
    CALVORO_FF_BIND(swresample, swr_alloc_set_opts2);
    CALVORO_FF_BIND(swresample, swr_convert);
    CALVORO_FF_BIND(swresample, swr_free);
    CALVORO_FF_BIND(swresample, swr_get_delay);
    CALVORO_FF_BIND(swresample, swr_get_out_samples);
    CALVORO_FF_BIND(swresample, swr_init);

    CALVORO_FF_BIND(swscale, sws_freeContext);
    CALVORO_FF_BIND(swscale, sws_getCachedContext);
    CALVORO_FF_BIND(swscale, sws_getContext);
    CALVORO_FF_BIND(swscale, sws_scale);
}

#undef CALVORO_FF_BIND

}  // namespace

std::string load(const Libraries& libraries, Api& table) {
    Library avutil, avcodec, avformat, swresample, swscale;
    std::string failure;
    if (!avutil.open(libraries.avutil, failure) || !avcodec.open(libraries.avcodec, failure) ||
        !avformat.open(libraries.avformat, failure) || !swresample.open(libraries.swresample, failure) ||
        !swscale.open(libraries.swscale, failure)) {
        return failure;
    }

    Api filled{};
    bindAvutil(avutil, filled, failure);
    bindAvcodec(avcodec, filled, failure);
    bindAvformat(avformat, filled, failure);
    bindResampleAndScale(swresample, swscale, filled, failure);
    if (!failure.empty()) return failure;

    for (Library* library : {&avutil, &avcodec, &avformat, &swresample, &swscale}) library->keep();
    table = filled;
    return {};
}

namespace {

struct LoadState {
    // Written once under the flag, read-only afterwards.
    Api table{};
    std::string failure;
    std::once_flag once;
    std::atomic<bool> ready{false};
};

LoadState& loadState() {
    static LoadState state;
    return state;
}

std::atomic<bool> simulatedAbsence{false};

}  // namespace

const Api& api() {
    if (simulatedAbsence.load())
        throw ConversionError::exportSessionFailed(std::string(kFailurePrefix) + "turned off for testing");
    LoadState& state = loadState();
    std::call_once(state.once, [&state] {
        state.failure = load(Libraries{}, state.table);
        if (!state.failure.empty()) return;
        state.table.av_log_set_level(AV_LOG_QUIET);
        state.ready.store(true, std::memory_order_release);
    });
    if (!state.failure.empty()) throw ConversionError::exportSessionFailed(state.failure);
    return state.table;
}

const Api* loadedApi() noexcept {
    LoadState& state = loadState();
    return state.ready.load(std::memory_order_acquire) ? &state.table : nullptr;
}

void simulateAbsenceForTesting(bool absent) { simulatedAbsence.store(absent); }

}  // namespace calvoro::media::ff
