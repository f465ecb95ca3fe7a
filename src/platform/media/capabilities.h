#pragma once

namespace calvoro::media {

// Registers the audio-encoder probe of FormatCapabilities (FLAC, AAC, ALAC, linear PCM).
// Called once at start-up; calling it again only registers the same probe again.
void registerCapabilities();

}  // namespace calvoro::media
