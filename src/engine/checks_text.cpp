// Checks of plain-text outputs: SVG, text, HTML and JSON.
#include <nlohmann/json.hpp>

#include "core/text_util.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {

Status validateSVG(const fs::path& url) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("SVG not readable as UTF-8");
    const std::string lowered = unicodeLowercased(trimWhitespace(*text));
    if (lowered.find("<svg") == std::string::npos) return Status::failed("SVG missing <svg> root element");
    return Status::passed();
}

Status validateText(const fs::path& url) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("File not readable as UTF-8");
    if (text->empty()) return Status::failed("Text file is empty");
    return Status::passed();
}

Status validateHTML(const fs::path& url) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("HTML not readable as UTF-8");
    if (text->empty()) return Status::failed("HTML is empty");
    const std::string lowered = unicodeLowercased(*text);
    if (lowered.find("<html") == std::string::npos && lowered.find("<body") == std::string::npos &&
        lowered.find("<!doctype") == std::string::npos)
        return Status::failed("HTML lacks <html>/<body>/<!doctype>");
    return Status::passed();
}

Status validateJSON(const fs::path& url) {
    const auto bytes = readBytes(url);
    if (!bytes) return Status::failed("JSON not readable");
    const nlohmann::json root = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    // Like the platform's reader without fragments: only an object or an array at the top.
    if (root.is_discarded() || !(root.is_array() || root.is_object())) return Status::failed("Output is not valid JSON");
    if (!root.is_array()) return Status::failed("JSON root is not an array");
    if (root.empty()) return Status::failed("JSON array is empty");
    return Status::passed();
}

}  // namespace calvoro::validation
