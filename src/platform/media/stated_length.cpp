#include "platform/media/stated_length.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/byte_order.h"
#include "core/gif_blocks.h"
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

using byte_order::be16;
using byte_order::be32;
using byte_order::le32;

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

uint8_t crc8(const uint8_t* p, size_t n) {
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// One byte into FLAC's frame checksum; over a whole frame with its own checksum at the end it comes to 0.
uint16_t crc16(uint16_t crc, uint8_t byte) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    return crc;
}

struct FlacFrame {
    uint64_t firstSample = 0;
    uint32_t blockSize = 0;
};

// A FLAC frame header at p (n bytes available) whose own checksum holds; nothing otherwise.
// A fixed-size stream numbers its frames, so the first sample is that number times the size.
std::optional<FlacFrame> flacFrameHeader(const uint8_t* p, size_t n, uint32_t nominalBlockSize) {
    if (n < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return std::nullopt;
    const int sizeCode = p[2] >> 4, rateCode = p[2] & 0x0F, channels = p[3] >> 4;
    if (sizeCode == 0 || rateCode == 15 || channels > 10 || ((p[3] >> 1) & 7) == 3 || (p[3] & 1)) return std::nullopt;
    // The frame or sample number, coded as UTF-8 codes its characters (up to 36 bits).
    size_t at = 4;
    int extra = 0;
    uint64_t number = p[at];
    if (number >= 0x80) {
        int mask = 0x40;
        while (number & mask) ++extra, mask >>= 1;
        if (extra == 0 || extra > 6) return std::nullopt;
        number &= static_cast<uint64_t>(mask - 1);
    }
    if (at + 1 + extra >= n) return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        if ((p[at + i] & 0xC0) != 0x80) return std::nullopt;
        number = number << 6 | (p[at + i] & 0x3Fu);
    }
    at += 1 + extra;
    uint32_t blockSize = sizeCode == 1 ? 192 : sizeCode <= 5 ? 576u << (sizeCode - 2) : sizeCode >= 8 ? 256u << (sizeCode - 8) : 0;
    const size_t sizeBytes = sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0, rateBytes = rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0;
    if (at + sizeBytes + rateBytes + 1 > n) return std::nullopt;
    if (sizeBytes) blockSize = (sizeBytes == 1 ? p[at] : be16(p + at)) + 1u;
    at += sizeBytes + rateBytes;
    if (crc8(p, at) != p[at]) return std::nullopt;
    const bool variable = p[1] & 1;
    return FlacFrame{variable ? number : number * nominalBlockSize, blockSize};
}

// Where the audio frames end: before an ID3v1 or APEv2 tag at the end of the file.
uint64_t flacDataEnd(const RandomAccess& file, uint64_t framesStart) {
    uint64_t end = file.size();
    std::array<uint8_t, 32> tag{};
    if (end >= framesStart + 128 && file.read(end - 128, std::span(tag.data(), 3)) && std::memcmp(tag.data(), "TAG", 3) == 0) end -= 128;
    if (end >= framesStart + 32 && file.read(end - 32, tag) && std::memcmp(tag.data(), "APETAGEX", 8) == 0) {
        const uint64_t size = le32(tag.data() + 12) + ((tag[23] & 0x80) ? 32u : 0u);
        if (size <= end - framesStart) end -= size;
    }
    return end;
}

// A FLAC stream whose frames end before the samples its STREAMINFO counts (0: not counted).
// Only the last frames are read: the last whole one, found by its checksums, tells how far
// the samples reach.
bool flacMissesSamples(const RandomAccess& file) {
    const uint64_t start = afterID3(file);
    std::array<uint8_t, 4 + 4 + 34> head{};
    if (!file.read(start, head) || std::memcmp(head.data(), "fLaC", 4) != 0 || (head[4] & 0x7F) != 0) return false;
    const uint8_t* info = head.data() + 8;
    const uint64_t stated = uint64_t{info[13] & 0x0Fu} << 32 | be32(info + 14);
    if (stated == 0) return false;
    const uint32_t nominalBlockSize = uint32_t{be16(info + 2)};
    const uint32_t maxFrameSize = static_cast<uint32_t>(info[7] << 16 | info[8] << 8 | info[9]);
    uint64_t framesStart = start + 4;
    for (std::array<uint8_t, 4> block{};;) {
        if (!file.read(framesStart, block)) return true;  // cut inside the metadata
        framesStart += 4 + (uint64_t{block[1]} << 16 | uint64_t{block[2]} << 8 | block[3]);
        if (block[0] & 0x80) break;
    }
    const uint64_t end = flacDataEnd(file, framesStart);
    if (end <= framesStart) return true;
    const uint64_t window = std::min<uint64_t>(end - framesStart, std::max<uint64_t>(uint64_t{maxFrameSize} * 3, 1u << 20));
    std::vector<uint8_t> tail(static_cast<size_t>(window));
    if (!file.read(end - window, tail)) return false;
    std::vector<std::pair<size_t, FlacFrame>> headers;
    for (size_t i = 0; i + 1 < tail.size(); ++i)
        if (auto frame = flacFrameHeader(tail.data() + i, tail.size() - i, nominalBlockSize)) headers.emplace_back(i, *frame);
    // The last header whose frame checks out, ending at the end of the data or at a later
    // header (a later one may be a chance match inside the frame), no longer than a frame can be.
    const size_t reach = maxFrameSize ? maxFrameSize : size_t{1} << 20;
    for (size_t k = headers.size(); k-- > 0;) {
        const size_t at = headers[k].first, limit = std::min(tail.size(), at + reach);
        uint16_t crc = 0;
        size_t next = k + 1;
        for (size_t i = at; i < limit; ++i) {
            crc = crc16(crc, tail[i]);
            while (next < headers.size() && headers[next].first < i + 1) ++next;
            const bool boundary = i + 1 == tail.size() || (next < headers.size() && headers[next].first == i + 1);
            if (crc == 0 && boundary) return headers[k].second.firstSample + headers[k].second.blockSize < stated;
        }
    }
    return false;  // no whole frame in reach: the decoder is to judge
}

}  // namespace

std::optional<std::string> partlyPresentContent(const std::filesystem::path& path) {
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
        partial = gifReachesTrailer(path) == false;
        content = "image";
    } else if (is(0, "fLaC") || is(0, "ID3")) {
        partial = flacMissesSamples(file) || mp3MissesFrames(file);
    } else {
        partial = mp3MissesFrames(file);
    }
    if (!partial) return std::nullopt;
    return content;
}

}  // namespace calvoro::media
