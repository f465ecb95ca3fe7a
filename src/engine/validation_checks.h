#pragma once

// The validator's checks, one per kind of output. Each reads only the output and returns
// a status; none throws.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/validator.h"

namespace calvoro::validation {

namespace fs = std::filesystem;

Status validateImage(const fs::path& url);
Status validatePDF(const fs::path& url, int expectPages, PDFBackgroundRequirement requirement);
// The same check done here, with the PDF layer; validatePDF reaches it through the documents module.
Status validatePDFDocument(const fs::path& url, int expectPages, PDFBackgroundRequirement requirement);
Status validateFolderOutput(SupportedFormat target, const fs::path& folder);
Status validateSVG(const fs::path& url);
Status validateFont(const fs::path& url, SupportedFormat target);
enum class MediaType { video, audio };
Status validateMedia(const fs::path& url, MediaType requireMediaType);
Status validateText(const fs::path& url);
Status validateHTML(const fs::path& url);
Status validateRTF(const fs::path& url);
Status validateDOCX(const fs::path& url);
Status validateMagicBytes(const fs::path& url, const std::vector<uint8_t>& magic, const std::string& label);
Status validateTAR(const fs::path& url);
Status validateDelimited(const fs::path& url, char delimiter);
Status validateJSON(const fs::path& url);
Status validateSubtitles(const fs::path& url, SupportedFormat format);

// Shared readers: the whole file, or nothing when it cannot be read.
std::optional<std::vector<uint8_t>> readBytes(const fs::path& url);
// The file as text when it is well-formed UTF-8 (a leading byte-order mark is dropped).
std::optional<std::string> readUTF8(const fs::path& url);

// A file mapped read-only, so that a check walks a large output without copying it. Pages
// already walked can be handed back, which keeps the check's memory flat whatever the size.
class MappedFile {
public:
    // Nothing when the file cannot be opened or mapped, or is a folder.
    static std::optional<MappedFile> open(const fs::path& url);
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    ~MappedFile();

    std::string_view view() const { return {data_, size_}; }
    // Lets go of the whole pages before p (a pointer into view()); they are read again if touched.
    void releaseBefore(const char* p);
    // Whether the whole file is well-formed UTF-8 (and free of NUL bytes), walked a piece at a time.
    enum class TextState { text, holdsNUL, notUTF8 };
    TextState textState();
    bool isValidUTF8() { return textState() != TextState::notUTF8; }

private:
    MappedFile(const char* data, size_t size) : data_(data), size_(size) {}
    const char* data_ = nullptr;
    size_t size_ = 0;
    size_t released_ = 0;
};
// Why a file cannot be a text output: not well-formed UTF-8 (or not there), or holding a NUL
// byte, which no reader of text expects; named after `what`.
std::optional<Status> textProblem(std::optional<MappedFile>& file, const std::string& what);
// The text without a leading byte-order mark.
std::string_view withoutBOM(std::string_view text);

// The PDF background test on an already rendered first page (straight-alpha RGBA, w x h): what
// most of the band of its margins shows, transparent, dark or light.
Status backgroundVerdict(const std::vector<uint8_t>& rgba, int w, int h, PDFBackgroundRequirement requirement);
// The quarter-size bitmap of a page of the given size in points; nothing when it would be
// too large to allocate.
struct BitmapSize {
    int width = 0;
    int height = 0;
};
std::optional<BitmapSize> quarterBitmapSize(double widthPoints, double heightPoints);

}  // namespace calvoro::validation
