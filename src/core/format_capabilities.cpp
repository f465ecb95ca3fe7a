#include "core/format_capabilities.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_set>

#include "core/bzip2.h"

namespace calvoro {

namespace {

struct State {
    std::mutex mutex;
    FormatCapabilities::ImageEncoderProvider imageProvider;
    FormatCapabilities::AudioEncoderProbe audioProbe;
    std::optional<std::unordered_set<std::string>> encodableImageUTIs;
    std::optional<std::set<uint32_t>> encodableAudio;
};

State& state() {
    static State s;
    return s;
}

std::filesystem::path temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? std::filesystem::path(tmp) : std::filesystem::path("/tmp");
}

std::set<uint32_t> probeAudio(const FormatCapabilities::AudioEncoderProbe& probe) {
    struct Candidate {
        uint32_t id;
        const char* ext;
    };
    const Candidate candidates[] = {
        {FormatCapabilities::flacFormatID, "flac"},
        {FormatCapabilities::aacFormatID, "m4a"},
        {FormatCapabilities::alacFormatID, "m4a"},
        {FormatCapabilities::lpcmFormatID, "wav"},
    };
    std::set<uint32_t> found;
    auto folder = temporaryFolder();
    for (const auto& c : candidates) {
        auto path = folder / ("kx-cap-" + std::to_string(c.id) + "." + c.ext);
        // Created exclusively so that a planted link or file is never written through.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        ::close(fd);
        bool opened = false;
        try {
            opened = probe && probe(c.id, path);
        } catch (...) {
            opened = false;
        }
        if (opened) found.insert(c.id);
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    return found;
}

const std::unordered_set<std::string>& imageUTIs() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.encodableImageUTIs) {
        std::unordered_set<std::string> set;
        if (s.imageProvider) {
            try {
                for (auto& id : s.imageProvider()) set.insert(id);
            } catch (...) {
                set.clear();
            }
        }
        s.encodableImageUTIs = std::move(set);
    }
    return *s.encodableImageUTIs;
}

const std::set<uint32_t>& audioIDs() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.encodableAudio) s.encodableAudio = probeAudio(s.audioProbe);
    return *s.encodableAudio;
}

bool hasImageType(const char* identifier) { return imageUTIs().count(identifier) > 0; }

}  // namespace

bool FormatCapabilities::canEncodeAudio(uint32_t formatID) { return audioIDs().count(formatID) > 0; }

bool FormatCapabilities::canProduce(SupportedFormat format) {
    using F = SupportedFormat;
    switch (format) {
        case F::png: return hasImageType("public.png");
        case F::jpeg: case F::jpg: return hasImageType("public.jpeg");
        case F::tiff: return hasImageType("public.tiff");
        case F::bmp: return hasImageType("com.microsoft.bmp");
        case F::gif: return hasImageType("com.compuserve.gif");
        case F::heic: case F::heif: return hasImageType("public.heic");
        case F::ico: return hasImageType("com.microsoft.ico");
        case F::avif: return hasImageType("public.avif");
        case F::psd: return hasImageType("com.adobe.photoshop-image");
        case F::tga: return hasImageType("com.truevision.tga-image");
        case F::jp2: return hasImageType("public.jpeg-2000");
        case F::icns: return hasImageType("com.apple.icns");
        case F::flac: return canEncodeAudio(flacFormatID);
        case F::bz2: return BZip2::isAvailable();
        default: return true;
    }
}

void FormatCapabilities::registerImageEncoderProvider(ImageEncoderProvider provider) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.imageProvider = std::move(provider);
}

void FormatCapabilities::registerAudioEncoderProbe(AudioEncoderProbe probe) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.audioProbe = std::move(probe);
}

void FormatCapabilities::resetForTesting() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.encodableImageUTIs.reset();
    s.encodableAudio.reset();
}

}  // namespace calvoro
