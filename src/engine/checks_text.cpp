// Checks of plain-text outputs: SVG, text, HTML and JSON.
#include "core/text_util.h"
#include "engine/json_scan.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {

Status validateSVG(const fs::path& url) {
    auto file = MappedFile::open(url);
    if (auto problem = textProblem(file, "SVG")) return *problem;
    if (!containsIgnoringASCIICase(file->view(), "<svg")) return Status::failed("SVG missing <svg> root element");
    return Status::passed();
}

Status validateText(const fs::path& url) {
    auto file = MappedFile::open(url);
    if (auto problem = textProblem(file, "File")) return *problem;
    if (withoutBOM(file->view()).empty()) return Status::failed("Text file is empty");
    return Status::passed();
}

Status validateHTML(const fs::path& url) {
    // Walked where it lies: an output may be as large as its source, and the tags sought are ASCII.
    auto file = MappedFile::open(url);
    if (auto problem = textProblem(file, "HTML")) return *problem;
    const std::string_view text = withoutBOM(file->view());
    if (text.empty()) return Status::failed("HTML is empty");
    if (!containsIgnoringASCIICase(text, "<html") && !containsIgnoringASCIICase(text, "<body") &&
        !containsIgnoringASCIICase(text, "<!doctype"))
        return Status::failed("HTML lacks <html>/<body>/<!doctype>");
    return Status::passed();
}

Status validateJSON(const fs::path& url) {
    // Scanned in place without building the document; pages passed are handed back.
    auto file = MappedFile::open(url);
    if (!file) return Status::failed("JSON not readable");
    std::optional<JSONOutline> outline;
    if (file->isValidUTF8()) outline = scanJSON(file->view(), [&](const char* p) { file->releaseBefore(p); });
    // Like the platform's reader without fragments: only an object or an array at the top.
    if (!outline || outline->root == JSONOutline::Root::scalar) return Status::failed("Output is not valid JSON");
    if (outline->root != JSONOutline::Root::array) return Status::failed("JSON root is not an array");
    if (!outline->rootHasItem) return Status::failed("JSON array is empty");
    return Status::passed();
}

}  // namespace calvoro::validation
