#include "converters/font/font_converter.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/source_file.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void fileError(const std::filesystem::path& path, const char* what) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

std::vector<uint8_t> readWholeFile(const std::filesystem::path& path) {
    try {
        return SourceFile(path).readAll();
    } catch (const std::filesystem::filesystem_error& e) {
        errno = e.code().value();
        fileError(path, "Could not read the file");
    }
}

void writeWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) fileError(path, "Could not write the file");
    bool ok = std::fwrite(data.data(), 1, data.size(), f.get()) == data.size();
    ok = std::fclose(f.release()) == 0 && ok;
    if (!ok) {
        int saved = errno;
        std::error_code ignored;
        std::filesystem::remove(path, ignored);  // a short write would look like a finished font
        errno = saved;
        fileError(path, "Could not write the file");
    }
}

}  // namespace

std::filesystem::path FontConverter::convert(const std::filesystem::path& source, SupportedFormat sourceFormat,
                                             SupportedFormat target, const std::filesystem::path& outputDir) {
    // No sandbox here: the source is readable as it is, so there is no scoped access to open.
    const auto data = readWholeFile(source);
    const auto output =
        OutputNameRegistry::reserve(outputDir, deletingPathExtension(lastPathComponent(source)), target.fileExtension());

    auto unsupported = [&] {
        return ConversionError::unsupportedConversion(sourceFormat.displayName(), target.displayName());
    };
    SFNT font;
    switch (sourceFormat) {
        case SupportedFormat::ttf:
        case SupportedFormat::otf: font = SFNT(data); break;
        case SupportedFormat::woff: font = decodeWOFF(data); break;
        case SupportedFormat::woff2: font = decodeWOFF2(data); break;
        default: throw unsupported();
    }
    std::vector<uint8_t> bytes;
    switch (target) {
        case SupportedFormat::ttf:
        case SupportedFormat::otf: bytes = font.sfntData(); break;
        case SupportedFormat::woff: bytes = encodeWOFF(font); break;
        case SupportedFormat::woff2: bytes = encodeWOFF2(font); break;
        default: throw unsupported();
    }
    writeWholeFile(output, bytes);

    const std::string message = "Font: " + std::to_string(font.tables.size()) + " tables, " +
                                (font.sfntVersion == tagOTTO ? "OTF/CFF" : "TrueType");
    ConversionLogger::shared().success(message, "Font", lastPathComponent(output));
    return output;
}

}  // namespace calvoro
