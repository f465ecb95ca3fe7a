// Checks of RTF and DOCX outputs: the header or signature, then a full parse by the text layer.
#include <algorithm>
#include <string>

#include "engine/validation_checks.h"
#include "platform/text/docx.h"
#include "platform/text/rtf.h"
#include "platform/zip/zip_archive.h"

namespace calvoro::validation {

Status validateRTF(const fs::path& url) {
    const auto bytes = readBytes(url);
    if (!bytes) return Status::failed("RTF not readable");
    std::string head;
    const size_t n = std::min<size_t>(6, bytes->size());
    for (size_t i = 0; i < n; ++i) {
        if ((*bytes)[i] >= 0x80) {
            head.clear();
            break;
        }
        head += static_cast<char>((*bytes)[i]);
    }
    if (head.rfind("{\\rtf", 0) != 0) return Status::failed("RTF header missing \u2014 got '" + head + "'");
    try {
        text::readRTF(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    } catch (...) {
        return Status::failed("RTF could not be read as rich text");
    }
    return Status::passed();
}

Status validateDOCX(const fs::path& url) {
    if (Status s = validateMagicBytes(url, {0x50, 0x4B, 0x03, 0x04}, "DOCX (ZIP magic)"); s.isFailure()) return s;
    const auto bytes = readBytes(url);
    if (!bytes) return Status::failed("DOCX not readable");
    try {
        // The program's own output is as large as its source made it: held to the bound of any
        // archive rather than to that of a document it reads.
        text::readDOCX(*bytes, {zip::zipExpansionLimit, zip::zipExpansionLimit});
    } catch (...) {
        return Status::failed("DOCX could not be read as rich text");
    }
    return Status::passed();
}

}  // namespace calvoro::validation
