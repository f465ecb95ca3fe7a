#include "platform/imaging/image_source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "core/source_file.h"
#include "core/text_util.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/raw_decoder.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::imaging {

// The file's bytes: mapped from the page cache when read from a file (no copy, no fresh
// memory to fault in), owned when given in memory.
struct ImageSource::Storage {
    std::vector<uint8_t> owned;
    void* mapping = nullptr;
    size_t mappedLength = 0;
    const uint8_t* bytes = nullptr;
    size_t size = 0;

    Storage() = default;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage() {
        if (mapping) ::munmap(mapping, mappedLength);
    }
};

struct ImageSource::Cache {
    std::mutex mutex;
    bool decoded = false;
    bool pixelsTaken = false;  // the first frame was handed out; a later ask decodes again
    detail::DecodeResult result;
};

namespace {

void completeProperties(ImageProperties& props, double firstDelay) {
    if (!props.metadata.exif.empty()) props.hasGPS = detail::exifHasGPS(props.metadata.exif);
    if (props.frameDelays.empty()) props.frameDelays.push_back(firstDelay);
}

detail::DecodeResult decodeData(const std::string& type, std::span<const uint8_t> bytes, bool allFrames, int reduceToEdge = 0,
                                bool mappedFile = false) {
    using namespace detail;
    DecodeResult r;
    const uint8_t* d = bytes.data();
    const size_t n = bytes.size();
    if (type == types::png) decodePNG(d, n, r);
    else if (type == types::jpeg) decodeJPEG(d, n, r, reduceToEdge, nullptr, mappedFile);
    else if (type == types::tiff) decodeTIFF(d, n, r);
    else if (type == types::gif) decodeGIF(d, n, allFrames, r);
    else if (type == types::bmp) decodeBMP(d, n, r);
    else if (type == types::webp) decodeWebP(d, n, r, reduceToEdge);
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
        r.props.metadata = cameraRawMetadata(d, n);
        r.frames.push_back({std::move(*image), 0});
    } else {
        fail("Unknown image type");
    }
    if (r.frames.empty()) fail("Could not decode image data");
    // The pixels carry their profile so that writers can embed or convert it. Decoded pixels
    // are RGB: a gray profile cannot travel with them, so they are turned into sRGB.
    auto& profile = r.props.metadata.iccProfile;
    const bool foreignProfile = !profile.empty() && !describesRGB(profile);
    for (auto& f : r.frames) {
        f.image.iccProfile = profile;
        f.image.pngGamma = r.props.metadata.pngGamma;
        if (foreignProfile) convertToSRGB(f.image);
    }
    if (foreignProfile) profile.clear();
    completeProperties(r.props, r.frames.front().delaySeconds);
    return r;
}

}  // namespace

namespace {

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::optional<ImageSource> ImageSource::fromData(std::vector<uint8_t> data, const std::string& extension) {
    auto storage = std::make_shared<Storage>();
    storage->owned = std::move(data);
    storage->bytes = storage->owned.data();
    storage->size = storage->owned.size();
    std::string type = identifyType(storage->bytes, storage->size, extension);
    if (type.empty()) return std::nullopt;
    ImageSource source;
    source.extension_ = extension;
    source.type_ = std::move(type);
    source.data_ = std::move(storage);
    source.cache_ = std::make_shared<Cache>();
    return source;
}

std::optional<ImageSource> ImageSource::open(const std::filesystem::path& path) {
    // Only a regular file, opened without waiting: a FIFO or a device would be read for ever.
    Descriptor file{-1};
    try {
        file.fd = SourceFile(path).release();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return std::nullopt;
    auto storage = std::make_shared<Storage>();
    if (st.st_size > 0) {
        void* mapping = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, file.fd, 0);
        if (mapping != MAP_FAILED) {
            storage->mapping = mapping;
            storage->mappedLength = static_cast<size_t>(st.st_size);
            storage->bytes = static_cast<const uint8_t*>(mapping);
            storage->size = storage->mappedLength;
            ::madvise(mapping, storage->mappedLength, MADV_SEQUENTIAL | MADV_WILLNEED);
        }
    }
    if (!storage->bytes) {
        // Not mappable (a special file system, whose files may claim no size): read it whole.
        uint8_t chunk[1 << 16];
        for (;;) {
            const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            storage->owned.insert(storage->owned.end(), chunk, chunk + n);
        }
        storage->bytes = storage->owned.data();
        storage->size = storage->owned.size();
    }
    std::string type = identifyType(storage->bytes, storage->size, pathExtension(path));
    if (type.empty()) return std::nullopt;
    ImageSource source;
    source.path_ = path;
    source.extension_ = pathExtension(path);
    source.type_ = std::move(type);
    source.data_ = std::move(storage);
    source.cache_ = std::make_shared<Cache>();
    return source;
}

std::span<const uint8_t> ImageSource::data() const { return {data_->bytes, data_->size}; }

bool ImageSource::isMappedFile() const { return data_->mapping != nullptr; }

bool ImageSource::isCameraRaw() const { return type_ == types::cameraRaw; }

void ImageSource::decodeIfNeeded() const {
    std::lock_guard lock(cache_->mutex);
    if (cache_->decoded) return;
    cache_->result = decodeData(type_, data(), false, 0, data_->mapping != nullptr);
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
    return decodeData(type_, data(), false, 0, data_->mapping != nullptr).frames.front().image;
}

RgbaImage ImageSource::decodeFirstFrameForResize(int longestEdge) const {
    {
        std::lock_guard lock(cache_->mutex);
        const bool cachedWhole = cache_->decoded && !cache_->pixelsTaken;
        if (type_ == types::jpeg && !cachedWhole) {
            detail::DecodeResult reduced = decodeData(type_, data(), false, longestEdge, data_->mapping != nullptr);
            RgbaImage image = std::move(reduced.frames.front().image);
            if (!cache_->decoded) {
                // The properties are those of the file; the cached pixels are not kept.
                cache_->result = std::move(reduced);
                cache_->decoded = true;
                cache_->pixelsTaken = true;
            }
            return image;
        }
    }
    return decodeFirstFrame();
}

RgbaImage ImageSource::decodeFirstFrameForCheck() const {
    // A JPEG at an eighth of its size, a still WebP scaled to a small edge as it decodes, a PNG
    // sampled as its rows go by; each decoder still reads all of the compressed data.
    if (type_ == types::jpeg) return decodeFirstFrameForResize(1);
    {
        std::lock_guard lock(cache_->mutex);
        // A PNG read row by row, never held whole.
        detail::DecodeResult rows;
        if (type_ == types::png && !cache_->decoded && detail::decodePNGReduced(data_->bytes, data_->size, rows, 256)) {
            completeProperties(rows.props, 0);
            auto& profile = rows.props.metadata.iccProfile;
            if (!profile.empty() && !describesRGB(profile)) profile.clear();  // as a whole decode leaves it
            RgbaImage image = std::move(rows.frames.front().image);
            cache_->result = std::move(rows);
            cache_->decoded = true;
            cache_->pixelsTaken = true;
            return image;
        }
        if (type_ == types::webp && !cache_->decoded) {
            detail::DecodeResult reduced = decodeData(type_, data(), false, 256);
            RgbaImage image = std::move(reduced.frames.front().image);
            // The properties are those of the file; the cached pixels are not kept.
            cache_->result = std::move(reduced);
            cache_->decoded = true;
            cache_->pixelsTaken = true;
            return image;
        }
    }
    return decodeFirstFrame();
}

void ImageSource::decodeFirstFrameRows(RgbaImage& image, RowProgress& rows,
                                       const std::function<void(const ImageProperties&)>& started) const {
    try {
        if (type_ != types::jpeg) {
            image = decodeFirstFrame();
            started(properties());
            rows.advance(image.height);
            return;
        }
        detail::DecodeResult result;
        // The decoder fills result.props, and hands them over here before the first row.
        const detail::RowStream stream{image, rows, [&](const ImageProperties&) {
                                           completeProperties(result.props, 0);
                                           started(result.props);
                                       }};
        detail::decodeJPEG(data_->bytes, data_->size, result, 0, &stream, data_->mapping != nullptr);
        std::lock_guard lock(cache_->mutex);
        if (!cache_->decoded) {
            // The properties are those of the file; the pixels went to the caller.
            cache_->result = std::move(result);
            cache_->decoded = true;
            cache_->pixelsTaken = true;
        }
    } catch (...) {
        rows.fail();
        throw;
    }
}

std::vector<AnimationFrame> ImageSource::decodeAllFrames() const {
    if (type_ != types::gif) return {AnimationFrame{decodeFirstFrame(), properties().frameDelays.front()}};
    auto r = decodeData(type_, data(), true);
    return std::move(r.frames);
}

const ImageProperties& ImageSource::properties() const {
    decodeIfNeeded();
    return cache_->result.props;
}

}  // namespace calvoro::imaging
