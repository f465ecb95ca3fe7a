#include <algorithm>

#include "converters/media/converter_support.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_defaults.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "platform/media/audio_file.h"
#include "platform/media/media_error.h"

namespace calvoro {

using namespace media_converter;
namespace m = media;

namespace {
const std::string audioCategory = "Audio";
constexpr uint32_t chunkFrames = 8192;

// What the audio encoders write; any other target is a conversion the converter does not offer,
// not a file it failed to create.
bool isWritableAudio(SupportedFormat target) {
    switch (target) {
        case SupportedFormat::aac: case SupportedFormat::m4a: case SupportedFormat::wav: case SupportedFormat::aiff:
        case SupportedFormat::alac: case SupportedFormat::flac: case SupportedFormat::extractAudio:
            return true;
        default:
            return false;
    }
}

bool usesIntegerSamples(SupportedFormat target) {
    return target == SupportedFormat::wav || target == SupportedFormat::aiff || target == SupportedFormat::alac ||
           target == SupportedFormat::flac;
}
}  // namespace

m::AudioSettings VideoAudioConverter::outputSettings(SupportedFormat target, double sampleRate, uint32_t channels,
                                                     std::optional<int> bitrate) {
    m::AudioSettings s;
    s.sampleRate = sampleRate;
    s.channelCount = channels;
    switch (target) {
        case SupportedFormat::aac:
        case SupportedFormat::m4a:
            s.formatID = m::audioFormatAAC;
            s.encoderBitRate = bitrate.value_or(defaultAudioBitrate);
            s.encoderAudioQuality = 96;
            break;
        case SupportedFormat::wav:
        case SupportedFormat::aiff:
            s.formatID = m::audioFormatLinearPCM;
            s.linearPCMBitDepth = 16;
            s.linearPCMIsFloat = false;
            s.linearPCMIsBigEndian = target == SupportedFormat::aiff;
            s.linearPCMIsNonInterleaved = false;
            break;
        case SupportedFormat::alac:
            s.formatID = m::audioFormatALAC;
            s.encoderBitDepthHint = 16;
            break;
        case SupportedFormat::flac:
            s.formatID = m::audioFormatFLAC;
            s.linearPCMBitDepth = 16;
            s.encoderBitDepthHint = 16;
            break;
        default:
            s.formatID = m::audioFormatAAC;
            break;
    }
    return s;
}

std::filesystem::path VideoAudioConverter::convertAudio(const std::filesystem::path& source, SupportedFormat target,
                                                        const std::filesystem::path& outputDir, std::optional<int> bitrate,
                                                        ProgressHandler progressHandler, CancellationToken cancellation) {
    auto& log = ConversionLogger::shared();
    log.info("Audio: " + lastPathComponent(source) + " \u2192 " + target.displayName(), audioCategory);
    if (!isWritableAudio(target)) {
        log.error("No audio file type for " + target.displayName(), audioCategory);
        const auto from = SupportedFormat::from(pathExtension(source));
        throw ConversionError::unsupportedConversion(from ? from->displayName() : audioCategory, target.displayName());
    }
    refuseTruncated(source, audioCategory);
    auto output = OutputNameRegistry::reserve(outputDir, baseName(source), target.fileExtension());

    bool integer = usesIntegerSamples(target);
    m::CommonFormat common = integer ? m::CommonFormat::int16 : m::CommonFormat::float32;
    std::unique_ptr<m::AudioFile> reader;
    try {
        reader = m::AudioFile::openForReading(source, common, integer);
    } catch (const std::exception& e) {
        log.error(std::string("Cannot open source audio: ") + e.what(), audioCategory);
        throw ConversionError::failedToLoadFile();
    }
    auto fileFormat = reader->fileFormat();
    auto processing = reader->processingFormat();
    if (reader->length() < 1) {
        log.error("Audio has zero frames", audioCategory);
        throw ConversionError::corruptFile("Audio file has zero frames");
    }
    auto settings = outputSettings(target, fileFormat.sampleRate, fileFormat.channelCount, bitrate);
    std::unique_ptr<m::AudioFile> writer;
    try {
        writer = m::AudioFile::openForWriting(output, settings, processing.commonFormat, processing.interleaved);
    } catch (const m::EncoderRefused& e) {
        // The file could be made; the encoder will not take this sound.
        log.error(std::string("Cannot open output audio: ") + e.what(), audioCategory);
        throw ConversionError::exportSessionFailed(e.what());
    } catch (const std::exception& e) {
        log.error(std::string("Cannot open output audio: ") + e.what(), audioCategory);
        throw ConversionError::failedToCreateOutput();
    }

    try {
        m::PcmBuffer buffer(processing, chunkFrames);
        double total = static_cast<double>(std::max<int64_t>(reader->length(), 1));
        // The length is what the file declares; the copy runs to the real end of the stream.
        for (;;) {
            cancellation.throwIfCancelled();
            reader->read(buffer);
            if (buffer.frameLength() == 0) break;
            writer->write(buffer);
            report(progressHandler, std::min(1.0, static_cast<double>(reader->framePosition()) / total));
        }
        writer->close();
    } catch (...) {
        writer.reset();
        removeQuietly(output);
        throw;
    }
    report(progressHandler, 1.0);
    return output;
}

}  // namespace calvoro
