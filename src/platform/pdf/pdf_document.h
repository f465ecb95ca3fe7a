#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/imaging/rgba_image.h"

namespace calvoro::pdf {

// Page size in PDF points with the page's rotation applied.
struct PageSize {
    double width = 0;
    double height = 0;
};

// A PDF opened for reading (QtPdf). Usable from any thread; calls are serialised inside.
class Document {
public:
    // Nothing when the file is not a readable PDF (or is encrypted and cannot be opened).
    static std::unique_ptr<Document> open(const std::filesystem::path& path);
    virtual ~Document() = default;

    virtual int pageCount() const = 0;
    virtual PageSize pageSize(int index) const = 0;
    virtual std::string pageText(int index) const = 0;
    // Renders the page scaled to width x height pixels, onto white or onto transparency.
    virtual imaging::RgbaImage render(int index, int width, int height, bool transparentBackground) const = 0;
};

}  // namespace calvoro::pdf
