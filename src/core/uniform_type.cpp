#include "core/uniform_type.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <initializer_list>
#include <vector>

#include "core/text_util.h"

namespace calvoro::uti {

namespace {

struct TypeInfo {
    const char* identifier;
    std::vector<const char*> parents;
    std::vector<const char*> extensions;
    std::vector<const char*> mimeTypes;
};

// The roots of the tree and the pictures.
std::vector<TypeInfo> rootAndImageTypes() {
    return {
        {"public.item", {}, {}, {}},
        {"public.data", {"public.item"}, {}, {"application/octet-stream"}},
        {"public.content", {}, {}, {}},
        {"public.image", {"public.data", "public.content"}, {}, {}},
        {"public.png", {"public.image"}, {"png"}, {"image/png"}},
        {"public.jpeg", {"public.image"}, {"jpeg", "jpg", "jpe", "jfif"}, {"image/jpeg", "image/pjpeg"}},
        {"public.tiff", {"public.image"}, {"tiff", "tif"}, {"image/tiff"}},
        {"com.microsoft.bmp", {"public.image"}, {"bmp", "dib"}, {"image/bmp", "image/x-bmp", "image/x-ms-bmp"}},
        {"com.compuserve.gif", {"public.image"}, {"gif"}, {"image/gif"}},
        {"public.heif-standard", {"public.image"}, {}, {}},
        {"public.heic", {"public.heif-standard"}, {"heic"}, {"image/heic"}},
        {"public.heif", {"public.heif-standard"}, {"heif"}, {"image/heif"}},
        {"org.webmproject.webp", {"public.image"}, {"webp"}, {"image/webp"}},
        {"com.microsoft.ico", {"public.image"}, {"ico"}, {"image/vnd.microsoft.icon", "image/x-icon"}},
        {"public.avif", {"public.image"}, {"avif"}, {"image/avif"}},
        {"public.svg-image", {"public.image"}, {"svg", "svgz"}, {"image/svg+xml"}},
        {"com.adobe.photoshop-image", {"public.image"}, {"psd"}, {"image/vnd.adobe.photoshop", "image/x-psd"}},
        {"com.truevision.tga-image", {"public.image"}, {"tga"}, {"image/x-tga", "image/x-targa"}},
        {"public.jpeg-2000", {"public.image"}, {"jp2", "j2k", "jpf", "jpx"}, {"image/jp2", "image/jpx"}},
        {"public.jpeg-xl", {"public.image"}, {"jxl"}, {"image/jxl"}},
        {"com.apple.icns", {"public.image"}, {"icns"}, {"image/icns", "image/x-icns"}},
        {"public.camera-raw-image", {"public.image"}, {}, {"image/x-dcraw", "image/x-canon-cr2", "image/x-nikon-nef",
                                                           "image/x-sony-arw", "image/x-adobe-dng"}},
    };
}

// Video and audio.
std::vector<TypeInfo> audiovisualTypes() {
    return {
        {"public.audiovisual-content", {"public.data", "public.content"}, {}, {}},
        {"public.movie", {"public.audiovisual-content"}, {}, {}},
        {"public.video", {"public.movie"}, {}, {}},
        {"public.mpeg-4", {"public.movie"}, {"mp4", "mpg4"}, {"video/mp4"}},
        {"com.apple.quicktime-movie", {"public.movie"}, {"mov", "qt"}, {"video/quicktime"}},
        {"com.apple.m4v-video", {"public.movie"}, {"m4v"}, {"video/x-m4v"}},
        {"public.avi", {"public.movie"}, {"avi"}, {"video/x-msvideo", "video/avi", "video/vnd.avi"}},
        {"org.webmproject.webm", {"public.movie"}, {"webm"}, {"video/webm"}},
        {"org.matroska.mkv", {"public.movie"}, {"mkv"}, {"video/x-matroska"}},
        {"public.audio", {"public.audiovisual-content"}, {}, {}},
        {"public.mp3", {"public.audio"}, {"mp3"}, {"audio/mpeg", "audio/mp3"}},
        {"public.aiff-audio", {"public.audio"}, {"aiff", "aif"}, {"audio/aiff", "audio/x-aiff"}},
        {"public.aifc-audio", {"public.aiff-audio"}, {"aifc"}, {}},
        {"com.microsoft.waveform-audio", {"public.audio"}, {"wav", "wave"}, {"audio/wav", "audio/x-wav", "audio/vnd.wave"}},
        {"public.mpeg-4-audio", {"public.audio"}, {"m4a"}, {"audio/mp4", "audio/x-m4a"}},
        {"public.aac-audio", {"public.audio"}, {"aac"}, {"audio/aac", "audio/x-aac"}},
        {"org.xiph.flac", {"public.audio"}, {"flac"}, {"audio/flac", "audio/x-flac"}},
        {"org.xiph.ogg-audio", {"public.audio"}, {"ogg", "oga"}, {"audio/ogg"}},
    };
}

// Documents, texts and tables.
std::vector<TypeInfo> documentTypes() {
    return {
        {"public.composite-content", {"public.content"}, {}, {}},
        {"com.adobe.pdf", {"public.data", "public.composite-content"}, {"pdf"}, {"application/pdf"}},
        {"public.text", {"public.data", "public.content"}, {}, {}},
        {"public.plain-text", {"public.text"}, {"txt", "text"}, {"text/plain"}},
        {"public.utf8-plain-text", {"public.plain-text"}, {}, {}},
        {"public.log", {"public.plain-text"}, {"log"}, {"text/x-log"}},
        {"public.source-code", {"public.plain-text"}, {}, {}},
        {"public.c-source", {"public.source-code"}, {"c"}, {"text/x-csrc"}},
        {"public.c-header", {"public.source-code"}, {"h"}, {"text/x-chdr"}},
        {"public.c-plus-plus-source", {"public.source-code"}, {"cpp", "cc", "cxx"}, {"text/x-c++src"}},
        {"public.python-script", {"public.source-code"}, {"py"}, {"text/x-python", "text/x-python3"}},
        {"public.shell-script", {"public.source-code"}, {"sh"}, {"application/x-shellscript", "text/x-shellscript"}},
        {"public.rtf", {"public.text"}, {"rtf"}, {"text/rtf", "application/rtf"}},
        {"public.html", {"public.text"}, {"html", "htm", "shtml"}, {"text/html"}},
        {"public.xml", {"public.text"}, {"xml"}, {"application/xml", "text/xml"}},
        {"public.xhtml", {"public.xml"}, {"xhtml"}, {"application/xhtml+xml"}},
        {"net.daringfireball.markdown", {"public.plain-text"}, {"md", "markdown"}, {"text/markdown", "text/x-markdown"}},
        {"public.delimited-values-text", {"public.text"}, {}, {}},
        {"public.comma-separated-values-text", {"public.delimited-values-text"}, {"csv"}, {"text/csv"}},
        {"public.tab-separated-values-text", {"public.delimited-values-text"}, {"tsv"}, {"text/tab-separated-values"}},
        {"public.json", {"public.text"}, {"json"}, {"application/json"}},
        {"org.openxmlformats.openxml", {"public.data"}, {}, {}},
        {"org.openxmlformats.wordprocessingml.document", {"org.openxmlformats.openxml", "public.composite-content"},
         {"docx"}, {"application/vnd.openxmlformats-officedocument.wordprocessingml.document"}},
        {"org.idpf.epub-container", {"public.data", "public.composite-content"}, {"epub"}, {"application/epub+zip"}},
    };
}

// Archives, fonts and subtitles.
std::vector<TypeInfo> archiveFontAndSubtitleTypes() {
    return {
        {"public.archive", {"public.data"}, {}, {}},
        {"public.zip-archive", {"public.archive"}, {"zip"}, {"application/zip", "application/x-zip-compressed"}},
        {"org.gnu.gnu-zip-archive", {"public.archive"}, {"gz", "gzip"}, {"application/gzip", "application/x-gzip"}},
        {"org.gnu.gnu-zip-tar-archive", {"org.gnu.gnu-zip-archive"}, {"tgz"}, {"application/x-compressed-tar"}},
        {"public.tar-archive", {"public.archive"}, {"tar"}, {"application/x-tar"}},
        {"org.tukaani.xz-archive", {"public.archive"}, {"xz", "lzma"}, {"application/x-xz", "application/x-lzma"}},
        {"public.bzip2-archive", {"public.archive"}, {"bz2", "bzip2"}, {"application/x-bzip2", "application/x-bzip"}},
        {"public.font", {"public.data", "public.content"}, {}, {}},
        {"public.truetype-ttf-font", {"public.font"}, {"ttf"}, {"font/ttf", "application/x-font-ttf"}},
        {"public.opentype-font", {"public.font"}, {"otf"}, {"font/otf", "application/x-font-otf"}},
        {"org.w3.woff", {"public.font"}, {"woff"}, {"font/woff", "application/font-woff"}},
        {"org.w3.woff2", {"public.font"}, {"woff2"}, {"font/woff2"}},
        {"public.subrip-text", {"public.plain-text"}, {"srt"}, {"application/x-subrip"}},
        {"org.w3.webvtt", {"public.plain-text"}, {"vtt"}, {"text/vtt"}},
    };
}

// Every known type, parents before their children, in the order lookups try them.
const std::vector<TypeInfo>& table() {
    static const std::vector<TypeInfo> types = [] {
        std::vector<TypeInfo> all;
        for (auto part : {rootAndImageTypes(), audiovisualTypes(), documentTypes(), archiveFontAndSubtitleTypes()})
            all.insert(all.end(), part.begin(), part.end());
        return all;
    }();
    return types;
}

const TypeInfo* find(std::string_view identifier) {
    for (const auto& t : table())
        if (identifier == t.identifier) return &t;
    return nullptr;
}

}  // namespace

bool isKnown(std::string_view identifier) { return find(identifier) != nullptr; }

bool conforms(std::string_view identifier, std::string_view ancestor) {
    if (identifier == ancestor) return true;
    const TypeInfo* t = find(identifier);
    if (!t) return false;
    for (const char* parent : t->parents)
        if (conforms(parent, ancestor)) return true;
    return false;
}

std::optional<std::string> fromExtension(std::string_view extension) {
    if (extension.empty()) return std::nullopt;
    std::string lowered = unicodeLowercased(extension);
    for (const auto& t : table())
        for (const char* e : t.extensions)
            if (lowered == e) return std::string(t.identifier);
    return std::nullopt;
}

std::vector<std::string> extensionsConforming(std::string_view identifier) {
    std::vector<std::string> out;
    for (const auto& t : table())
        if (conforms(t.identifier, identifier))
            for (const char* e : t.extensions) out.emplace_back(e);
    return out;
}

std::optional<std::string> fromMimeType(std::string_view mimeType) {
    std::string lowered = unicodeLowercased(trimWhitespace(mimeType));
    if (auto semicolon = lowered.find(';'); semicolon != std::string::npos)
        lowered = std::string(trimWhitespace(lowered.substr(0, semicolon)));
    if (lowered.empty()) return std::nullopt;
    for (const auto& t : table())
        for (const char* m : t.mimeTypes)
            if (lowered == m) return std::string(t.identifier);
    if (lowered.rfind("text/", 0) == 0) return std::string("public.plain-text");
    return std::nullopt;
}

std::optional<std::string> typeOfFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    if (S_ISDIR(st.st_mode)) return std::string("public.folder");
    if (auto byName = fromExtension(pathExtension(path))) return byName;
    char buf[256];
    ssize_t n = ::getxattr(path.c_str(), "user.mime_type", buf, sizeof buf);
    if (n > 0) {
        if (auto byMime = fromMimeType(std::string_view(buf, static_cast<size_t>(n)))) return byMime;
    }
    return std::string("public.data");
}

}  // namespace calvoro::uti
