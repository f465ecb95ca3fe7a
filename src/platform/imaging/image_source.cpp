#include "platform/imaging/image_source.h"

#include <fstream>
#include <mutex>

#include "core/text_util.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/raw_decoder.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::imaging {

struct ImageSource::Cache {
    std::mutex mutex;
    bool decoded = false;
    bool pixelsTaken = false;  // the first frame was handed out; a later ask decodes again
    detail::DecodeResult result;
};

namespace {

detail::DecodeResult decodeData(const std::string& type, const std::vector<uint8_t>& bytes, bool allFrames) {
    using namespace detail;
    DecodeResult r;
    const uint8_t* d = bytes.data();
    const size_t n = bytes.size();
    if (type == types::png) decodePNG(d, n, r);
    else if (type == types::jpeg) decodeJPEG(d, n, r);
    else if (type == types::tiff) decodeTIFF(d, n, r);
    else if (type == types::gif) decodeGIF(d, n, allFrames, r);
    else if (type == types::bmp) decodeBMP(d, n, r);
    else if (type == types::webp) decodeWebP(d, n, r);
    else if (type == types::heic || type == types::heif || type == types::avif) decodeHEIF(d, n, r);
    else if (type == types::jpeg2000) decodeJPEG2000(d, n, r);
    else if (type == types::jpegxl) decodeJPEGXL(d, n, r);
    else if (type == types::tga) decodeTGA(d, n, r);
    else if (type == types::psd) decodePSD(d, n, r);
    else if (type == types::ico) decodeICO(d, n, r);
    else if (type == types::icns) decodeICNS(d, n, r);
    else if (type == types::cameraRaw) {
        auto image = decodeCameraRawData(d, n);
        if (!image) fail("Could not decode camera RAW data");
        r.props.pixelWidth = image->width;
        r.props.pixelHeight = image->height;
        r.frames.push_back({std::move(*image), 0});
    } else {
        fail("Unknown image type");
    }
    if (r.frames.empty()) fail("Could not decode image data");
    auto& md = r.props.metadata;
    if (!md.exif.empty()) r.props.hasGPS = exifHasGPS(md.exif);
    // The pixels carry their profile so that writers can embed or convert it.
    for (auto& f : r.frames) f.image.iccProfile = md.iccProfile;
    if (r.props.frameDelays.empty()) r.props.frameDelays.push_back(r.frames.front().delaySeconds);
    return r;
}

}  // namespace

std::optional<ImageSource> ImageSource::fromData(std::vector<uint8_t> data, const std::string& extension) {
    std::string type = identifyType(data.data(), data.size(), extension);
    if (type.empty()) return std::nullopt;
    ImageSource source;
    source.extension_ = extension;
    source.type_ = std::move(type);
    source.data_ = std::make_shared<const std::vector<uint8_t>>(std::move(data));
    source.cache_ = std::make_shared<Cache>();
    return source;
}

std::optional<ImageSource> ImageSource::open(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    allocateLarge(bytes, static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
    auto source = fromData(std::move(bytes), pathExtension(path));
    if (source) source->path_ = path;
    return source;
}

bool ImageSource::isCameraRaw() const { return type_ == types::cameraRaw; }

void ImageSource::decodeIfNeeded() const {
    std::lock_guard lock(cache_->mutex);
    if (cache_->decoded) return;
    cache_->result = decodeData(type_, *data_, false);
    cache_->decoded = true;
}

RgbaImage ImageSource::decodeFirstFrame() const {
    decodeIfNeeded();
    std::lock_guard lock(cache_->mutex);
    // Large pictures are handed over rather than copied; the properties stay cached.
    if (!cache_->pixelsTaken) {
        cache_->pixelsTaken = true;
        return std::move(cache_->result.frames.front().image);
    }
    return decodeData(type_, *data_, false).frames.front().image;
}

std::vector<AnimationFrame> ImageSource::decodeAllFrames() const {
    if (type_ != types::gif) return {AnimationFrame{decodeFirstFrame(), properties().frameDelays.front()}};
    auto r = decodeData(type_, *data_, true);
    return std::move(r.frames);
}

const ImageProperties& ImageSource::properties() const {
    decodeIfNeeded();
    return cache_->result.props;
}

}  // namespace calvoro::imaging
