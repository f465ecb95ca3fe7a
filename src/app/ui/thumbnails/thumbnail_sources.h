#pragma once

#include <QImage>

#include <filesystem>
#include <optional>
#include <string>

namespace calvoro::thumbnails {

// The file's URI as the freedesktop thumbnail cache hashes it: "file://" and the absolute path
// with every byte outside the unreserved and path characters percent-encoded.
std::string fileURI(const std::filesystem::path& path);

// A thumbnail that a file manager already left in $XDG_CACHE_HOME/thumbnails (normal, large,
// x-large, xx-large), when its Thumb::URI and Thumb::MTime still match the file.
std::optional<QImage> cachedByDesktop(const std::filesystem::path& path, int pixelSize);

// A thumbnail no larger than pixelSize on its longest side: the desktop's cache first, else
// rendered from the file (images, the first frame of video, the first page of a PDF).
// Nothing for other files or files that cannot be read. Runs on any thread.
std::optional<QImage> generate(const std::filesystem::path& path, int pixelSize);

}  // namespace calvoro::thumbnails
