// Times the converter on one file: driver <video|aac|flac> <source> <output dir>
// prints the seconds, then the path written.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "converters/media/video_audio_converter.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    using calvoro::SupportedFormat;
    auto start = std::chrono::steady_clock::now();
    std::filesystem::path out;
    if (std::strcmp(argv[1], "video") == 0)
        out = calvoro::VideoAudioConverter::convertVideo(argv[2], SupportedFormat::mp4, argv[3], nullptr);
    else
        out = calvoro::VideoAudioConverter::convertAudio(argv[2], std::strcmp(argv[1], "aac") == 0 ? SupportedFormat::aac : SupportedFormat::flac,
                                                         argv[3], std::nullopt, nullptr);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %s\n", seconds, out.c_str());
    return 0;
}
