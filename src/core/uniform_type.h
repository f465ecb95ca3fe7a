#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::uti {

// Type identifiers with parents, in place of the platform's type registry.
bool isKnown(std::string_view identifier);
// A type conforms to itself and to every ancestor.
bool conforms(std::string_view identifier, std::string_view ancestor);
// The type of a file extension (bare, any case), if the table has one.
std::optional<std::string> fromExtension(std::string_view extension);
// The extensions of every type that conforms to the given one, in table order (for open-panel
// filters); empty for an unknown type.
std::vector<std::string> extensionsConforming(std::string_view identifier);
// The type of a MIME type, if the table has one.
std::optional<std::string> fromMimeType(std::string_view mimeType);
// The file's type identifier: from its extension, else from its user.mime_type attribute.
std::optional<std::string> typeOfFile(const std::filesystem::path& path);

}  // namespace calvoro::uti
