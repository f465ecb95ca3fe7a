#include "platform/media/sample_buffer.h"

#include <cstring>
#include <limits>

#include "platform/media/sample_buffer_impl.h"

namespace calvoro::media {

SampleBuffer::SampleBuffer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SampleBuffer::~SampleBuffer() = default;
SampleBuffer::SampleBuffer(SampleBuffer&&) noexcept = default;
SampleBuffer& SampleBuffer::operator=(SampleBuffer&&) noexcept = default;

MediaType SampleBuffer::mediaType() const { return impl_->mediaType; }

double SampleBuffer::presentationTimeSeconds() const {
    int64_t pts = AV_NOPTS_VALUE;
    if (impl_->frame) pts = impl_->frame->best_effort_timestamp != AV_NOPTS_VALUE ? impl_->frame->best_effort_timestamp : impl_->frame->pts;
    else if (impl_->packet) pts = impl_->packet->pts != AV_NOPTS_VALUE ? impl_->packet->pts : impl_->packet->dts;
    if (pts == AV_NOPTS_VALUE) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(pts) * av_q2d(impl_->timeBase) - impl_->startOffset;
}

int64_t SampleBuffer::frameCount() const {
    if (!impl_->frame) return 0;
    return impl_->mediaType == MediaType::audio ? impl_->frame->nb_samples : 1;
}

int64_t SampleBuffer::byteSize() const { return impl_->packet ? impl_->packet->size : 0; }
bool SampleBuffer::isKeyFrame() const { return impl_->packet && (impl_->packet->flags & AV_PKT_FLAG_KEY); }

int SampleBuffer::width() const { return impl_->frame ? impl_->frame->width : 0; }
int SampleBuffer::height() const { return impl_->frame ? impl_->frame->height : 0; }

MediaType FormatDescription::mediaType() const { return impl_->mediaType; }

PixelBuffer::PixelBuffer(int width, int height)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0),
      data_(std::make_unique<uint8_t[]>(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4 + 16)) {}

void PixelBuffer::fill(uint8_t blue, uint8_t green, uint8_t red, uint8_t alpha) {
    uint8_t px[4] = {blue, green, red, alpha};
    size_t n = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    uint8_t* p = data_.get();
    for (size_t i = 0; i < n; ++i, p += 4) std::memcpy(p, px, 4);
}

}  // namespace calvoro::media
