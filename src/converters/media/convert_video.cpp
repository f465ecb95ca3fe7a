#include <cmath>

#include "converters/media/converter_support.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "platform/media/asset.h"
#include "platform/media/export_session.h"
#include "platform/media/file_type.h"

namespace calvoro {

using namespace media_converter;
namespace m = media;

namespace {
const std::string videoCategory = "Video";

// Names each track the export could not carry, so that a missing language is never a surprise.
void logOmittedTracks(const m::ExportSession& session) {
    for (const auto& [track, reason] : session.omittedTracks()) {
        const char* kind = track.mediaType == m::MediaType::video ? "video" : track.mediaType == m::MediaType::audio ? "audio" : "subtitle";
        std::string name = std::string(kind) + " track " + std::to_string(track.trackID + 1) + " (" + track.codecName +
                           (track.languageCode.empty() ? "" : ", " + track.languageCode) + ")";
        ConversionLogger::shared().warning("Left out " + name + ": " + reason, videoCategory);
    }
}

// Runs the export to its end. True once it completed (the tracks it left out logged, the progress
// full), false when it failed, for the caller to say why; a cancelled or unfinished export throws.
bool runExport(m::ExportSession& session, const VideoAudioConverter::ProgressHandler& progressHandler,
               const CancellationToken& cancellation) {
    exportWithPolling(session, progressHandler, cancellation);
    switch (session.status()) {
        case m::ExportSession::Status::completed:
            logOmittedTracks(session);
            report(progressHandler, 1.0);
            return true;
        case m::ExportSession::Status::failed: return false;
        case m::ExportSession::Status::cancelled:
            cancellation.throwIfCancelled();
            throw ConversionError::cancelled();
        default: throw ConversionError::conversionFailed();
    }
}
}  // namespace

std::optional<m::FileType> VideoAudioConverter::avFileType(SupportedFormat format) {
    switch (format) {
        case SupportedFormat::mp4: return m::FileType::mpeg4;
        case SupportedFormat::mov: return m::FileType::quickTimeMovie;
        case SupportedFormat::m4v: return m::FileType::appleM4V;
        case SupportedFormat::aac:
        case SupportedFormat::m4a:
        case SupportedFormat::alac: return m::FileType::appleM4A;
        case SupportedFormat::wav: return m::FileType::wave;
        case SupportedFormat::aiff: return m::FileType::aiff;
        case SupportedFormat::flac: return m::FileType("org.xiph.flac");
        default: return std::nullopt;
    }
}

std::string VideoAudioConverter::bestVideoPreset(const m::Asset& asset, const m::FileType& outputType) {
    for (const char* preset : {m::presets::highestQuality, m::presets::mediumQuality, m::presets::passthrough}) {
        if (m::ExportSession::determineCompatibility(preset, asset, outputType)) return preset;
    }
    return m::presets::passthrough;
}

std::filesystem::path VideoAudioConverter::convertVideo(const std::filesystem::path& source, SupportedFormat target,
                                                        const std::filesystem::path& outputDir, ProgressHandler progressHandler,
                                                        CancellationToken cancellation) {
    auto& log = ConversionLogger::shared();
    log.info("Video: " + lastPathComponent(source) + " \u2192 " + target.displayName(), videoCategory);
    // Sources need no scoped access here: there is no sandbox to ask.
    auto output = OutputNameRegistry::reserve(outputDir, baseName(source), target.fileExtension());

    m::Asset asset(source, {.preferPreciseDurationAndTiming = true});
    double seconds = asset.loadDuration();  // a failure to load passes unchanged
    if (!(seconds > 0)) {
        log.error("Asset reports zero duration", videoCategory);
        throw ConversionError::corruptFile("Video has zero duration");
    }
    auto fileType = avFileType(target);
    if (!fileType) {
        log.error("No video container to write " + target.displayName(), videoCategory);
        throw ConversionError::unsupportedConversion("Video", target.displayName());
    }
    std::string preset = bestVideoPreset(asset, *fileType);
    auto session = m::ExportSession::create(asset, preset);
    if (!session) {
        log.error("Cannot create export session with preset " + preset, videoCategory);
        throw ConversionError::conversionFailed();
    }
    bool supported = false;
    for (const auto& t : session->supportedFileTypes()) supported = supported || t == *fileType;
    if (!supported) {
        log.error(fileType->rawValue() + " not in supported types for preset " + preset, videoCategory);
        std::string from = pathExtension(source);
        for (auto& c : from) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        throw ConversionError::unsupportedConversion(from, target.displayName());
    }
    session->setOutputURL(output);
    session->setOutputFileType(*fileType);
    session->setShouldOptimizeForNetworkUse(true);

    if (runExport(*session, progressHandler, cancellation)) return output;
    std::string description = session->error().value_or("Unknown error");
    log.error("Export session failed: " + description, videoCategory);
    throw ConversionError::exportSessionFailed(description);
}

std::filesystem::path VideoAudioConverter::extractAudio(const std::filesystem::path& source, const std::filesystem::path& outputDir,
                                                        ProgressHandler progressHandler, CancellationToken cancellation) {
    auto& log = ConversionLogger::shared();
    log.info("Extract audio: " + lastPathComponent(source), videoCategory);
    auto output = OutputNameRegistry::reserve(outputDir, baseName(source), "m4a", " (audio)");

    m::Asset asset(source);
    auto tracks = asset.loadTracks(m::MediaType::audio);  // a failure to load passes unchanged
    if (tracks.empty()) {
        log.error("No audio track present", videoCategory);
        throw ConversionError::corruptFile("Video has no audio track");
    }
    auto session = m::ExportSession::create(asset, m::presets::appleM4A);
    if (!session) throw ConversionError::conversionFailed();
    session->setOutputURL(output);
    session->setOutputFileType(m::FileType::appleM4A);

    if (runExport(*session, progressHandler, cancellation)) return output;
    throw ConversionError::exportSessionFailed(session->error().value_or("Unknown"));
}

}  // namespace calvoro
