#include "core/file_detector.h"

#include <algorithm>

#include <sys/stat.h>

#include <utility>

#include "core/text_util.h"
#include "core/uniform_type.h"

namespace calvoro {

namespace {

using F = SupportedFormat;

// Tested in order; the first type the file conforms to decides.
const std::pair<const char*, F::Case> kConformance[] = {
    {"public.png", F::png},
    {"public.jpeg", F::jpeg},
    {"public.tiff", F::tiff},
    {"com.microsoft.bmp", F::bmp},
    {"com.compuserve.gif", F::gif},
    {"public.heic", F::heic},
    {"public.heif", F::heif},
    {"org.webmproject.webp", F::webp},
    {"com.microsoft.ico", F::ico},
    {"public.avif", F::avif},
    {"public.mpeg-4", F::mp4},
    {"com.apple.quicktime-movie", F::mov},
    {"public.avi", F::avi},
    {"public.mp3", F::mp3},
    {"public.aiff-audio", F::aiff},
    {"com.microsoft.waveform-audio", F::wav},
    {"com.adobe.pdf", F::pdf},
    {"public.rtf", F::rtf},
    {"public.plain-text", F::txt},
    {"public.html", F::html},
    {"org.openxmlformats.wordprocessingml.document", F::docx},
    {"public.zip-archive", F::zip},
    {"org.gnu.gnu-zip-archive", F::gzip},
};

}  // namespace

std::optional<SupportedFormat> FileDetector::detect(const std::filesystem::path& url) {
    if (auto byName = SupportedFormat::from(pathExtension(url))) return byName;
    auto type = uti::typeOfFile(url);
    if (!type) return std::nullopt;
    return formatFromUTType(*type);
}

std::optional<SupportedFormat> FileDetector::formatFromUTType(const std::string& typeIdentifier) {
    for (const auto& [identifier, format] : kConformance) {
        if (!uti::isKnown(identifier)) continue;
        if (uti::conforms(typeIdentifier, identifier)) return SupportedFormat(format);
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, SupportedFormat>> FileDetector::readableExtensions() {
    std::vector<std::string> candidates = SupportedFormat::knownExtensions();
    for (const auto& [identifier, format] : kConformance)
        for (auto& extension : uti::extensionsConforming(identifier)) candidates.push_back(std::move(extension));
    std::vector<std::pair<std::string, SupportedFormat>> readable;
    for (const auto& extension : candidates) {
        const bool seen = std::any_of(readable.begin(), readable.end(), [&](const auto& r) { return r.first == extension; });
        if (seen) continue;
        // As detect() decides for a file of that name, without a file to look at.
        std::optional<SupportedFormat> format = SupportedFormat::from(extension);
        if (!format)
            if (auto type = uti::fromExtension(extension)) format = formatFromUTType(*type);
        if (format) readable.emplace_back(extension, *format);
    }
    return readable;
}

std::optional<ConversionJob> FileDetector::createJob(const std::filesystem::path& url) {
    auto format = detect(url);
    if (!format) return std::nullopt;
    return ConversionJob(url, lastPathComponent(url), fileSize(url), *format);
}

int64_t FileDetector::fileSize(const std::filesystem::path& url) {
    struct stat st {};
    if (::stat(url.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace calvoro
