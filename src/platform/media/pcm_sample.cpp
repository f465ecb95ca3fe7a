#include "platform/media/pcm_sample.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "platform/media/sample_buffer_impl.h"

namespace calvoro::media {

SampleBuffer pcmSampleBuffer(const PcmBuffer& buffer, double presentationTimeSeconds) {
    const auto& format = buffer.format();
    auto impl = std::make_unique<SampleBuffer::Impl>();
    impl->mediaType = MediaType::audio;
    impl->frame = detail::Frame(ff::api().av_frame_alloc());
    if (!impl->frame) throw std::bad_alloc();
    AVFrame* f = impl->frame.get();
    bool isFloat = format.commonFormat == CommonFormat::float32;
    f->format = format.interleaved ? (isFloat ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16)
                                   : (isFloat ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16P);
    ff::api().av_channel_layout_default(&f->ch_layout, static_cast<int>(format.channelCount));
    f->sample_rate = static_cast<int>(format.sampleRate);
    f->nb_samples = static_cast<int>(buffer.frameLength());
    if (ff::api().av_frame_get_buffer(f, 0) < 0) throw std::bad_alloc();
    size_t bytesPerSample = isFloat ? 4 : 2;
    size_t planeBytes = static_cast<size_t>(buffer.frameLength()) * bytesPerSample *
                        (format.interleaved ? format.channelCount : 1);
    for (int p = 0; p < buffer.planeCount(); ++p) std::memcpy(f->extended_data[p], buffer.plane(p), planeBytes);
    impl->timeBase = AVRational{1, f->sample_rate};
    f->pts = std::llround(presentationTimeSeconds * f->sample_rate);
    f->best_effort_timestamp = f->pts;
    return SampleBuffer(std::move(impl));
}

}  // namespace calvoro::media
