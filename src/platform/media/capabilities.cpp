#include "platform/media/capabilities.h"

#include "core/format_capabilities.h"
#include "platform/media/audio_file.h"

namespace calvoro::media {

void registerCapabilities() {
    FormatCapabilities::registerAudioEncoderProbe([](uint32_t formatID, const std::filesystem::path& path) {
        AudioSettings settings;
        settings.formatID = formatID;
        settings.sampleRate = 44100;
        settings.channelCount = 2;
        try {
            auto file = AudioFile::openForWriting(path, settings, CommonFormat::float32, false);
            file->close();
            return true;
        } catch (...) {
            return false;
        }
    });
}

}  // namespace calvoro::media
