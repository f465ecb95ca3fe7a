#pragma once

// Shared by the media converter's operations.

#include <filesystem>
#include <string>

#include "converters/media/video_audio_converter.h"
#include "platform/media/export_session.h"

namespace calvoro::media_converter {

// The source's file name without its last extension.
std::string baseName(const std::filesystem::path& source);

void report(const VideoAudioConverter::ProgressHandler& handler, double value);

// Runs the export on this thread while a poller reports its progress at once and then every
// 200 ms. The poller is stopped and joined before this returns, so nothing it sends can
// arrive after the caller's final report. Cancelling the token cancels the export.
void exportWithPolling(media::ExportSession& session, const VideoAudioConverter::ProgressHandler& handler,
                       const CancellationToken& cancellation);

void removeQuietly(const std::filesystem::path& path);

// Refuses, before anything is written, a source that ends before the length its header states
// (a cut WAV, AIFF, FLAC or MP3, a GIF whose blocks end before its trailer), as the image reader refuses one.
void refuseTruncated(const std::filesystem::path& source, const std::string& category);

}  // namespace calvoro::media_converter
