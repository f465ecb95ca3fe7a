#include "files_extension/finder_menu_tables.h"

#include <map>
#include <set>

namespace calvoro {

namespace {

using Choices = std::vector<MenuChoice>;

const std::map<std::string_view, Choices>& targets() {
    static const std::map<std::string_view, Choices> table = [] {
        const Choices fromJpeg{{"PNG", "png"}, {"HEIC", "heic"}, {"TIFF", "tiff"}, {"PDF", "pdf_image"}, {"WebP", "webp"}};
        return std::map<std::string_view, Choices>{
            {"ttf", {{"WOFF", "woff"}, {"WOFF2", "woff2"}}},
            {"otf", {{"WOFF", "woff"}, {"WOFF2", "woff2"}}},
            {"woff", {{"TTF", "ttf"}, {"OTF", "otf"}, {"WOFF2", "woff2"}}},
            {"woff2", {{"TTF", "ttf"}, {"OTF", "otf"}, {"WOFF", "woff"}}},
            {"jpg", fromJpeg},
            {"jpeg", fromJpeg},
            {"png", {{"JPEG", "jpeg"}, {"HEIC", "heic"}, {"TIFF", "tiff"}, {"PDF", "pdf_image"}, {"WebP", "webp"}}},
            {"heic", {{"JPEG", "jpeg"}, {"PNG", "png"}, {"TIFF", "tiff"}, {"PDF", "pdf_image"}}},
            {"tiff", {{"JPEG", "jpeg"}, {"PNG", "png"}, {"PDF", "pdf_image"}}},
            {"webp", {{"JPEG", "jpeg"}, {"PNG", "png"}, {"TIFF", "tiff"}}},
            {"gif", {{"PNG", "png"}, {"JPEG", "jpeg"}, {"MP4", "mp4"}}},
            {"bmp", {{"PNG", "png"}, {"JPEG", "jpeg"}}},
            {"mov", {{"MP4", "mp4"}, {"M4V", "m4v"}, {"GIF", "gif"}, {"Audio (M4A)", "extractAudio"}}},
            {"mp4", {{"MOV", "mov"}, {"M4V", "m4v"}, {"GIF", "gif"}, {"Audio (M4A)", "extractAudio"}}},
            {"m4v", {{"MP4", "mp4"}, {"MOV", "mov"}}},
            {"wav", {{"M4A", "m4a"}, {"AAC", "aac"}, {"FLAC", "flac"}, {"AIFF", "aiff"}}},
            {"aiff", {{"M4A", "m4a"}, {"WAV", "wav"}, {"FLAC", "flac"}}},
            {"m4a", {{"WAV", "wav"}, {"AIFF", "aiff"}, {"FLAC", "flac"}}},
            {"flac", {{"M4A", "m4a"}, {"WAV", "wav"}, {"AIFF", "aiff"}}},
            {"aac", {{"M4A", "m4a"}, {"WAV", "wav"}}},
            {"pdf", {{"Text", "txt"}, {"HTML", "html"}, {"Markdown", "markdown"}, {"DOCX", "docx"}}},
            {"docx", {{"PDF", "pdf"}, {"Text", "txt"}, {"Markdown", "markdown"}, {"HTML", "html"}}},
            {"rtf", {{"PDF", "pdf"}, {"Text", "txt"}, {"HTML", "html"}, {"DOCX", "docx"}}},
            {"txt", {{"PDF", "pdf"}, {"HTML", "html"}, {"Markdown", "markdown"}, {"DOCX", "docx"}}},
            {"md", {{"PDF", "pdf"}, {"HTML", "html"}, {"DOCX", "docx"}}},
            {"html", {{"PDF", "pdf"}, {"Text", "txt"}, {"Markdown", "markdown"}}},
            {"csv", {{"TSV", "tsv"}, {"JSON", "json"}, {"HTML", "html"}, {"Markdown", "markdown"}}},
            {"tsv", {{"CSV", "csv"}, {"JSON", "json"}, {"HTML", "html"}}},
            {"json", {{"CSV", "csv"}, {"TSV", "tsv"}, {"HTML", "html"}}},
            {"srt", {{"WebVTT", "vtt"}, {"Text", "txt"}}},
            {"vtt", {{"SRT", "srt"}, {"Text", "txt"}}},
            {"zip", {{"TAR", "tar"}, {"GZIP", "gzip"}, {"XZ", "xz"}}},
            {"tar", {{"ZIP", "zip"}, {"GZIP", "gzip"}, {"XZ", "xz"}}},
            {"gz", {{"ZIP", "zip"}, {"TAR", "tar"}}},
        };
    }();
    return table;
}

}  // namespace

const std::vector<MenuChoice>& convertTargets(std::string_view lowercaseExtension) {
    static const Choices none;
    auto found = targets().find(lowercaseExtension);
    return found == targets().end() ? none : found->second;
}

bool isCompressible(std::string_view lowercaseExtension) {
    static const std::set<std::string_view> compressible{
        "jpg", "jpeg", "png", "heic", "heif", "tiff", "tif", "bmp", "psd", "tga", "jp2", "avif",
        "mp4", "mov", "m4v", "avi", "mp3", "m4a", "aac", "wav", "aiff", "aif", "flac",
    };
    return compressible.contains(lowercaseExtension);
}

std::vector<std::string_view> convertibleExtensions() {
    std::vector<std::string_view> keys;
    for (const auto& [key, choices] : targets()) keys.push_back(key);
    return keys;
}

}  // namespace calvoro
