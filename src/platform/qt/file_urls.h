#pragma once

// File URLs that carry a path's bytes, which need not be UTF-8: a QString made from such a
// path would stand U+FFFD for them and name another file.

#include <filesystem>
#include <optional>

#include <QUrl>

namespace calvoro::qtpaths {

QUrl fileURL(const std::filesystem::path& path);

// The path a local file URL (no host, or "localhost") names, byte for byte; nothing for other
// URLs. A file URL of another host is refused with a warning in the log that names it.
std::optional<std::filesystem::path> localPath(const QUrl& url);

}  // namespace calvoro::qtpaths
