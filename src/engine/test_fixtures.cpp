#include "engine/test_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "converters/archive/archive_converter.h"
#include "core/conversion_error.h"
#include "platform/imaging/image_destination.h"
#include "platform/media/asset_writer.h"
#include "platform/media/audio_file.h"
#include "platform/media/file_type.h"
#include "platform/media/gif_writer.h"
#include "platform/media/pcm_sample.h"

namespace calvoro::ConversionTester {

namespace fs = std::filesystem;

const char* const kSeedText =
    "Calvoro \u2014 automated conversion test\n"
    "=======================================\n"
    "\n"
    "This is a multi-paragraph plain-text document.\n"
    "\n"
    "It exists so the document converters have realistic content to\n"
    "chew on. **Bold-looking text** lives here as well as a numbered list:\n"
    "\n"
    "1. First item.\n"
    "2. Second item.\n"
    "3. Third item.\n"
    "\n"
    "End of fixture.";

const char* const kSeedCSV =
    "id,name,notes,price,in_stock\n"
    "1,Widget,A simple widget,9.99,true\n"
    "2,\"Gadget, deluxe\",\"Comes with \"\"premium\"\" packaging\",24.50,false\n"
    "3,Caf\u00e9 Cup,\"Line one\n"
    "Line two\",7.25,true\n"
    "4,Empty Notes,,0,false";

const char* const kSeedSRT =
    "1\n"
    "00:00:01,000 --> 00:00:04,500\n"
    "Calvoro converts files entirely on this computer.\n"
    "\n"
    "2\n"
    "00:00:04,600 --> 00:00:08,250\n"
    "Nothing is uploaded.\n"
    "Nothing leaves this machine.\n"
    "\n"
    "3\n"
    "01:00:00,000 --> 01:00:03,750\n"
    "Even an hour in, the timings still line up.";

namespace {

uint8_t channel(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

// Hue, saturation and brightness to red, green and blue.
void hsbToRGB(double h, double s, double v, double& r, double& g, double& b) {
    double i = std::floor(h * 6.0);
    double f = h * 6.0 - i;
    double p = v * (1 - s), q = v * (1 - f * s), t = v * (1 - (1 - f) * s);
    switch (static_cast<int>(i) % 6) {
        case 0: r = v, g = t, b = p; break;
        case 1: r = q, g = v, b = p; break;
        case 2: r = p, g = v, b = t; break;
        case 3: r = p, g = q, b = v; break;
        case 4: r = t, g = p, b = v; break;
        default: r = v, g = p, b = q; break;
    }
}

void waitUntilReady(const media::AssetWriterInput& input) {
    for (int i = 0; i < 2000 && !input.isReadyForMoreMediaData(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

fs::path makeTempRoot() {
    fs::path root = "/tmp/kx-test-" + std::to_string(::getpid());
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root, ec);
    return root;
}

fs::path makeSeedPNG(const fs::path& root) {
    imaging::RgbaImage image(64, 64);
    if (image.pixels.empty()) throw SeedError(1, "PNG context");
    // Drawing coordinates start at the bottom left: row r of the bitmap is y = 63 - r.
    for (int row = 0; row < 64; ++row) {
        int y = 63 - row;
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = image.row(row) + x * 4;
            p[0] = channel(x / 63.0);
            p[1] = channel(y / 63.0);
            p[2] = channel(((x + y) % 64) / 63.0);
            p[3] = 255;
        }
    }
    auto path = root / "seed.png";
    try {
        imaging::writeImageFile(path, image, "public.png");
    } catch (const std::exception&) {
        throw SeedError(3, "PNG finalize");
    }
    return path;
}

fs::path makeSeedWAV(const fs::path& root) {
    media::AudioSettings settings;
    settings.formatID = media::audioFormatLinearPCM;
    settings.sampleRate = 44100;
    settings.channelCount = 1;
    settings.linearPCMBitDepth = 16;
    settings.linearPCMIsFloat = false;
    auto path = root / "seed.wav";
    auto file = media::AudioFile::openForWriting(path, settings, media::CommonFormat::int16, true);
    media::PcmBuffer buffer(media::AudioFormat{44100, 1, media::CommonFormat::int16, true}, 22050);
    buffer.setFrameLength(22050);
    int16_t* samples = buffer.int16Data();
    for (int i = 0; i < 22050; ++i)
        samples[i] = static_cast<int16_t>(std::sin(i / 44100.0 * 2764.601535159018) * 32766 * 0.5);
    file->write(buffer);
    file->close();
    return path;
}

fs::path makeSeedMP4(const fs::path& root) {
    auto path = root / "seed.mp4";
    auto writer = media::AssetWriter::create(path, media::FileType::mpeg4);
    media::VideoSettings video;
    video.width = 64;
    video.height = 64;
    auto videoInput = media::AssetWriterInput::video(video);
    videoInput->setExpectsMediaDataInRealTime(false);
    if (!writer->canAddInput(*videoInput)) throw SeedError(20, "MP4 video input");
    writer->addInput(videoInput);
    media::AudioSettings audio;
    audio.formatID = media::audioFormatAAC;
    audio.channelCount = 1;
    audio.sampleRate = 44100;
    audio.encoderBitRate = 64000;
    auto audioInput = media::AssetWriterInput::audio(audio);
    audioInput->setExpectsMediaDataInRealTime(false);
    if (!writer->canAddInput(*audioInput)) throw SeedError(21, "MP4 audio input");
    writer->addInput(audioInput);
    writer->startWriting();
    writer->startSession(0);
    for (int i = 0; i < 6; ++i) {
        waitUntilReady(*videoInput);
        media::PixelBuffer frame(64, 64);
        double r, g, b;
        hsbToRGB(i / 6.0, 0.8, 0.8, r, g, b);
        frame.fill(channel(b), channel(g), channel(r), 255);
        videoInput->appendPixelBuffer(frame, i / 6.0);
    }
    videoInput->markAsFinished();
    // One second of silence on the audio track.
    media::PcmBuffer silence(media::AudioFormat{44100, 1, media::CommonFormat::int16, true}, 44100);
    silence.setFrameLength(44100);
    std::fill_n(silence.int16Data(), 44100, int16_t{0});
    waitUntilReady(*audioInput);
    audioInput->append(media::pcmSampleBuffer(silence, 0));
    audioInput->markAsFinished();
    writer->finishWriting();
    if (writer->status() != media::AssetWriter::Status::completed)
        throw SeedError(22, "MP4 writer status " + std::to_string(static_cast<int>(writer->status())) + ": " +
                                writer->error().value_or("?"));
    return path;
}

fs::path makeSeedGIF(const fs::path& root) {
    auto path = root / "seed.gif";
    auto writer = media::GifWriter::create(path, 6);
    if (!writer) throw SeedError(4, "GIF dest");
    writer->setLoopCount(0);
    for (int i = 0; i < 6; ++i) {
        imaging::RgbaImage frame(32, 32);
        for (size_t p = 0; p < frame.pixels.size(); p += 4) {
            frame.pixels[p] = channel(i / 5.0);
            frame.pixels[p + 1] = channel(0.3);
            frame.pixels[p + 2] = channel(0.6);
            frame.pixels[p + 3] = 255;
        }
        if (!writer->addImage(frame, 0.1)) throw SeedError(5, "GIF finalize");
    }
    if (!writer->finalize()) throw SeedError(5, "GIF finalize");
    return path;
}

fs::path writeSeedText(const fs::path& root, const std::string& name, const std::string& text) {
    auto path = root / name;
    auto temp = root / ("." + name + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) throw std::runtime_error("Could not write " + name);
    }
    fs::rename(temp, path);
    return path;
}

fs::path makeSeedZIP(const fs::path& root) {
    auto stage = root / "zip-stage";
    fs::create_directories(stage);
    writeSeedText(stage, "hello.txt", "Hello from Calvoro.");
    auto path = root / "seed.zip";
    ArchiveConverter::createZIP(stage, path);
    return path;
}

std::vector<fs::path> systemFontFolders() {
    std::vector<fs::path> folders = {"/usr/share/fonts", "/usr/local/share/fonts"};
    if (const char* home = std::getenv("HOME"); home && *home) folders.push_back(fs::path(home) / ".local/share/fonts");
    return folders;
}

fs::path copyFirstSystemFont(const std::vector<std::string>& matching, const std::string& ext, const fs::path& root,
                             const std::vector<fs::path>& givenFolders) {
    auto folders = givenFolders.empty() ? systemFontFolders() : givenFolders;
    // Every font file of the folders, each folder's files in name order so that runs repeat.
    std::vector<std::vector<fs::path>> files;
    for (const auto& folder : folders) {
        std::vector<fs::path> list;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code typeError;
            if (it->is_regular_file(typeError)) list.push_back(it->path());
        }
        std::sort(list.begin(), list.end());
        files.push_back(std::move(list));
    }
    std::optional<fs::path> found;
    for (const auto& name : matching) {
        for (const auto& list : files) {
            auto it = std::find_if(list.begin(), list.end(), [&](const fs::path& p) { return p.filename() == name; });
            if (it != list.end()) {
                found = *it;
                break;
            }
        }
        if (found) break;
    }
    if (!found) {
        std::string suffix = "." + ext;
        for (const auto& list : files) {
            for (const auto& p : list) {
                std::string lower = p.filename().string();
                std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
                if (lower.size() > suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0) {
                    found = p;
                    break;
                }
            }
            if (found) break;
        }
    }
    if (!found) throw ConversionError::conversionFailed();
    auto destination = root / ("seed." + ext);
    std::error_code ec;
    fs::remove(destination, ec);
    fs::copy_file(*found, destination);
    return destination;
}

}  // namespace calvoro::ConversionTester
