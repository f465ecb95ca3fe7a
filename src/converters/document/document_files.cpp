#include "converters/document/document_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/conversion_error.h"
#include "core/file_writing.h"
#include "core/source_file.h"
#include "core/uuid.h"

namespace calvoro::DocumentConverter::files {

namespace fs = std::filesystem;

fs::path temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? fs::path(tmp) : fs::path("/tmp");
}

fs::path temporaryFile(const std::string& extension) {
    return temporaryFolder() / ("Calvoro_" + Uuid().uuidString() + extension);
}

std::string readBytes(const fs::path& path) {
    try {
        return SourceFile(path).readAllAsString();
    } catch (const std::filesystem::filesystem_error&) {
        throw ConversionError::failedToLoadFile();
    }
}

void writeAtomically(const fs::path& path, std::string_view bytes) {
    if (!calvoro::files::writeAtomically(path, bytes.data(), bytes.size())) throw ConversionError::failedToCreateOutput();
}

void writeBytes(const fs::path& path, std::string_view bytes) {
    if (!calvoro::files::writeAll(path, bytes.data(), bytes.size(), O_CREAT | O_TRUNC))
        throw ConversionError::failedToCreateOutput();
}

}  // namespace calvoro::DocumentConverter::files
