#pragma once

#include "platform/media/audio_file.h"
#include "platform/media/sample_buffer.h"

namespace calvoro::media {

// Samples made by the program (a tone, silence) as a unit that an audio writer input takes.
SampleBuffer pcmSampleBuffer(const PcmBuffer& buffer, double presentationTimeSeconds);

}  // namespace calvoro::media
