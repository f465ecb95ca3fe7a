#include "platform/media/stated_length.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/media/audio_file.h"
#include "core/source_file.h"

namespace calvoro::media {

namespace {

// The file read at any offset; reads past the end come back short.
class RandomAccess {
public:
    explicit RandomAccess(const std::filesystem::path& path) {
        try {
            SourceFile file(path);
            size_ = file.size();
            fd_ = file.release();
        } catch (const std::exception&) {
            // Nothing to read: every read comes back short.
        }
    }
    ~RandomAccess() {
        if (fd_ >= 0) ::close(fd_);
    }
    RandomAccess(const RandomAccess&) = delete;
    RandomAccess& operator=(const RandomAccess&) = delete;

    uint64_t size() const { return size_; }
    // Exactly into.size() bytes at offset, or false.
    bool read(uint64_t offset, std::span<uint8_t> into) const {
        if (offset > size_ || size_ - offset < into.size()) return false;
        size_t done = 0;
        while (done < into.size()) {
            const ssize_t n = ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint32_t be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// RIFF (WAV, little-endian sizes) and IFF (AIFF, big-endian): a chunk whose stated size runs
// past the end. A size of 0 or 0xFFFFFFFF is what a writer that could not go back leaves: unknown.
bool chunkRunsPastEnd(const RandomAccess& file, bool bigEndian) {
    std::array<uint8_t, 8> header{};
    for (uint64_t at = 12; file.read(at, header);) {
        const uint32_t size = bigEndian ? be32(header.data() + 4) : le32(header.data() + 4);
        if (size == 0xFFFFFFFF || (size == 0 && (std::memcmp(header.data(), "data", 4) == 0 || std::memcmp(header.data(), "SSND", 4) == 0)))
            return false;
        if (file.size() - at - 8 < size) return true;
        at += 8 + uint64_t{size} + (size & 1);
    }
    return false;
}

// Past an ID3v2 tag at the start, where one is.
uint64_t afterID3(const RandomAccess& file) {
    std::array<uint8_t, 10> tag{};
    if (!file.read(0, tag) || std::memcmp(tag.data(), "ID3", 3) != 0) return 0;
    const uint64_t size = uint64_t{tag[6] & 0x7Fu} << 21 | uint64_t{tag[7] & 0x7Fu} << 14 | uint64_t{tag[8] & 0x7Fu} << 7 | (tag[9] & 0x7Fu);
    return 10 + size + ((tag[5] & 0x10) ? 10 : 0);
}

struct Mp3Frame {
    size_t length = 0;
    bool mpeg1 = false;
    bool mono = false;
};

// An MPEG audio layer III frame header; nothing when the four bytes are not one.
std::optional<Mp3Frame> layer3Frame(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return std::nullopt;
    const int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;    // 1: layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return std::nullopt;
    static constexpr int mpeg1Rates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int mpeg2Rates[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr int sampleRates[] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int sampleRate = sampleRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int kbps = mpeg1 ? mpeg1Rates[bitrateIndex] : mpeg2Rates[bitrateIndex];
    const int padding = (h[2] >> 1) & 1;
    Mp3Frame frame;
    frame.length = static_cast<size_t>((mpeg1 ? 144000 : 72000) * kbps / sampleRate + padding);
    frame.mpeg1 = mpeg1;
    frame.mono = (h[3] >> 6) == 3;
    return frame;
}

// An MP3 whose Xing or Info header counts more frames than follow it whole.
bool mp3MissesFrames(const RandomAccess& file) {
    const uint64_t start = afterID3(file);
    std::array<uint8_t, 4> header{};
    if (!file.read(start, header)) return false;
    auto first = layer3Frame(header.data());
    if (!first) return false;
    const size_t sideInfo = first->mpeg1 ? (first->mono ? 17 : 32) : (first->mono ? 9 : 17);
    std::array<uint8_t, 12> xing{};
    if (!file.read(start + 4 + sideInfo, xing)) return false;
    if (std::memcmp(xing.data(), "Xing", 4) != 0 && std::memcmp(xing.data(), "Info", 4) != 0) return false;
    if (!(be32(xing.data() + 4) & 1)) return false;
    const uint32_t stated = be32(xing.data() + 8);
    // Only a walk that reaches the end tells: a tag or other data between frames leaves the count
    // unknown. Writers differ on whether the count takes in the header's own frame: one is allowed.
    uint64_t whole = 0;
    for (uint64_t at = start + first->length; file.read(at, header); ++whole) {
        auto frame = layer3Frame(header.data());
        if (!frame) return false;
        if (file.size() - at < frame->length) break;
        at += frame->length;
    }
    return whole + 1 < stated;
}

// A FLAC stream that decodes to fewer samples than its STREAMINFO counts (0: not counted).
bool flacMissesSamples(const std::filesystem::path& path, const RandomAccess& file, const CancellationToken& cancellation) {
    const uint64_t start = afterID3(file);
    std::array<uint8_t, 26> head{};
    if (!file.read(start, head) || std::memcmp(head.data(), "fLaC", 4) != 0 || (head[4] & 0x7F) != 0) return false;
    const uint8_t* info = head.data() + 8;
    const uint64_t stated = uint64_t{info[13] & 0x0Fu} << 32 | be32(info + 14);
    if (stated == 0) return false;
    try {
        auto reader = AudioFile::openForReading(path, CommonFormat::int16, true);
        PcmBuffer buffer(reader->processingFormat(), 65536);
        uint64_t decoded = 0;
        for (;;) {
            cancellation.throwIfCancelled();
            reader->read(buffer);
            if (buffer.frameLength() == 0) break;
            decoded += buffer.frameLength();
            if (decoded >= stated) return false;
        }
        return true;
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        return false;  // what cannot be decoded is the conversion's to report
    }
}

}  // namespace

std::optional<std::string> partlyPresentContent(const std::filesystem::path& path, const CancellationToken& cancellation) {
    RandomAccess file(path);
    std::array<uint8_t, 12> head{};
    if (!file.read(0, head)) return std::nullopt;
    const auto is = [&](size_t at, const char* tag) { return std::memcmp(head.data() + at, tag, std::strlen(tag)) == 0; };
    bool partial = false;
    const char* content = "sound";
    if (is(0, "RIFF") && is(8, "WAVE")) {
        partial = chunkRunsPastEnd(file, false);
    } else if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
        partial = chunkRunsPastEnd(file, true);
    } else if (is(0, "GIF8")) {
        std::array<uint8_t, 1> last{};
        partial = file.read(file.size() - 1, last) && last[0] != 0x3B;
        content = "image";
    } else if (is(0, "fLaC") || is(0, "ID3")) {
        partial = flacMissesSamples(path, file, cancellation) || mp3MissesFrames(file);
    } else {
        partial = mp3MissesFrames(file);
    }
    if (!partial) return std::nullopt;
    return content;
}

}  // namespace calvoro::media
