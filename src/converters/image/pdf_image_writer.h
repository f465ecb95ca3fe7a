#pragma once

#include <filesystem>

#include "platform/imaging/rgba_image.h"

namespace calvoro {

// A one-page PDF of pageWidth x pageHeight points showing the image stretched over the
// whole page, transparency kept as a soft mask and nothing painted behind it. False when
// the file cannot be written.
bool writeImagePDF(const imaging::RgbaImage& image, double pageWidth, double pageHeight, const std::filesystem::path& path);

}  // namespace calvoro
