#pragma once

// Media fixtures made with the ffmpeg command, and ffprobe's view of written files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/test_support.h"

namespace calvoro::testing::media {

// The fixtures are made and read back by ffmpeg's programs: without them a test fails.
#define REQUIRE_FFMPEG()                                            \
    do {                                                            \
        ASSERT_TRUE(::calvoro::testing::peerInstalled("ffmpeg"));   \
        ASSERT_TRUE(::calvoro::testing::peerInstalled("ffprobe"));  \
    } while (0)

// Runs ffmpeg quietly with the given arguments; fails the test when it fails.
inline void ffmpeg(const std::string& args) {
    auto r = run("ffmpeg -nostdin -hide_banner -loglevel error -y " + args);
    ASSERT_EQ(r.status, 0) << args << "\n" << r.output;
}

struct VideoSpec {
    int width = 160;
    int height = 120;
    double rate = 30;
    double seconds = 1;
    bool audio = true;
    int channels = 2;
    int rotation = 0;  // the "rotate" tag of the container, applied by a stream copy
    std::string videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";
    std::string audioCodec = "-c:a aac";
};

inline std::filesystem::path makeVideo(const std::filesystem::path& path, const VideoSpec& spec = {}) {
    std::string in = "-f lavfi -i testsrc=size=" + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                     ":rate=" + std::to_string(spec.rate) + ":duration=" + std::to_string(spec.seconds);
    if (spec.audio)
        in += " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + std::to_string(spec.seconds) + " -ac " +
              std::to_string(spec.channels);
    std::string codecs = spec.videoCodec + (spec.audio ? " " + spec.audioCodec : "");
    if (spec.rotation == 0) {
        ffmpeg(in + " " + codecs + " " + shellQuote(path.string()));
    } else {
        auto plain = path.parent_path() / ("plain-" + path.filename().string());
        ffmpeg(in + " " + codecs + " " + shellQuote(plain.string()));
        ffmpeg("-i " + shellQuote(plain.string()) + " -c copy -metadata:s:v:0 rotate=" + std::to_string(spec.rotation) + " " +
               shellQuote(path.string()));
        std::filesystem::remove(plain);
    }
    return path;
}

inline std::filesystem::path makeTone(const std::filesystem::path& path, double seconds = 1, int rate = 44100, int channels = 2,
                                      const std::string& codec = "") {
    ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds) + " -ac " +
           std::to_string(channels) + " " + codec + " " + shellQuote(path.string()));
    return path;
}

// ffprobe's description of a file: format and streams.
struct Probe {
    nlohmann::json json;
    const nlohmann::json* stream(const std::string& type) const {
        for (const auto& s : json["streams"])
            if (s.value("codec_type", "") == type) return &s;
        return nullptr;
    }
    std::string formatName() const { return json["format"].value("format_name", ""); }
    double duration() const { return std::atof(json["format"].value("duration", "0").c_str()); }
    std::string codec(const std::string& type) const {
        auto* s = stream(type);
        return s ? s->value("codec_name", "") : "";
    }
    int videoWidth() const { return stream("video") ? (*stream("video"))["width"].get<int>() : 0; }
    int videoHeight() const { return stream("video") ? (*stream("video"))["height"].get<int>() : 0; }
    int channels() const { return stream("audio") ? (*stream("audio"))["channels"].get<int>() : 0; }
    int sampleRate() const { return stream("audio") ? std::atoi((*stream("audio")).value("sample_rate", "0").c_str()) : 0; }
    std::string sampleFormat() const { return stream("audio") ? stream("audio")->value("sample_fmt", "") : ""; }
    int rotation() const {
        auto* s = stream("video");
        if (!s || !s->contains("side_data_list")) return 0;
        for (const auto& d : (*s)["side_data_list"])
            if (d.contains("rotation")) return d["rotation"].get<int>();
        return 0;
    }
    std::string majorBrand() const { return json["format"]["tags"].value("major_brand", ""); }
};

inline Probe probe(const std::filesystem::path& path) {
    auto r = run("ffprobe -v error -show_format -show_streams -of json " + shellQuote(path.string()));
    Probe p;
    if (r.status == 0) p.json = nlohmann::json::parse(r.output, nullptr, false);
    if (p.json.is_discarded() || !p.json.is_object()) p.json = nlohmann::json::object({{"streams", nlohmann::json::array()}, {"format", nlohmann::json::object()}});
    return p;
}

// Several files probed two at a time: an ffprobe start maps some two hundred libraries, and many
// starting at once beside a loaded suite cost each other far more than they overlap.
inline std::vector<Probe> probeAll(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::filesystem::path> unique;
    for (const auto& path : paths)
        if (std::find(unique.begin(), unique.end(), path) == unique.end()) unique.push_back(path);
    std::string script;
    for (size_t i = 0; i < unique.size(); ++i)
        script += "ffprobe -v error -show_format -show_streams -of json " + shellQuote(unique[i].string()) + " > " +
                  shellQuote(unique[i].string() + ".probe.json") + " 2>/dev/null " + (i % 2 ? "; wait; " : "& ");
    run(script + "wait");
    std::map<std::filesystem::path, Probe> byPath;
    for (const auto& path : unique) {
        Probe p;
        auto jsonPath = std::filesystem::path(path.string() + ".probe.json");
        std::error_code ec;
        if (std::filesystem::exists(jsonPath, ec)) p.json = nlohmann::json::parse(readText(jsonPath), nullptr, false);
        std::filesystem::remove(jsonPath, ec);
        if (p.json.is_discarded() || !p.json.is_object())
            p.json = nlohmann::json::object({{"streams", nlohmann::json::array()}, {"format", nlohmann::json::object()}});
        byPath[path] = std::move(p);
    }
    std::vector<Probe> out;
    for (const auto& path : paths) out.push_back(byPath[path]);
    return out;
}

// Frames counted by decoding, and each frame's duration in seconds.
inline std::vector<double> frameDurations(const std::filesystem::path& path) {
    auto r = run("ffprobe -v error -select_streams v:0 -show_entries frame=pkt_duration_time -of csv=p=0 " +
                 shellQuote(path.string()));
    std::vector<double> out;
    size_t start = 0;
    while (start < r.output.size()) {
        size_t end = r.output.find('\n', start);
        if (end == std::string::npos) end = r.output.size();
        std::string line = r.output.substr(start, end - start);
        if (!line.empty()) out.push_back(std::atof(line.c_str()));
        start = end + 1;
    }
    return out;
}

}  // namespace calvoro::testing::media
