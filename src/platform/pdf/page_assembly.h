#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPDF;

namespace calvoro::pdf {

// A PDF being put together page by page (qpdf). Pages copied from another assembly keep
// that assembly's data alive until this one is written. One thread at a time per object.
class PageAssembly {
public:
    // A document without pages.
    static PageAssembly empty();
    // Nothing when the file or bytes are not a readable PDF.
    static std::optional<PageAssembly> open(const std::filesystem::path& path);
    static std::optional<PageAssembly> openBytes(std::string bytes);

    int pageCount() const;
    // Copies page fromIndex of source in front of page atIndex (at the end when atIndex is
    // the page count). False when either index is out of range.
    bool insertPage(const PageAssembly& source, int fromIndex, int atIndex);
    void appendAllPages(const PageAssembly& source);
    // Takes over source's named destinations (the targets of its internal links) that this
    // document does not have yet; call it after copying the pages: those not copied lead nowhere.
    void carryNamedDestinations(const PageAssembly& source);
    // Cuts page index down to the strip that starts top points below its top edge and is
    // height points high, or what remains of the page (its media box); false when the
    // index is out of range or the strip starts outside the page.
    bool cropToStrip(int index, double top, double height);
    // Scales page index, content and all, down (or up) to a page of width x height points,
    // its top-left corner kept in place, or moved down by top points, and what lay outside it
    // still hidden; false when the index is out of range.
    bool scalePage(int index, double scale, double width, double height, double top = 0);
    // Paints page index opaque white under its content, margins included; false when the
    // index is out of range.
    bool paintWhiteBehind(int index);

    // Writes the document; false on any failure, and then no file is left at path.
    bool write(const std::filesystem::path& path) const;

    PageAssembly(PageAssembly&&) noexcept;
    PageAssembly& operator=(PageAssembly&&) noexcept;
    ~PageAssembly();

private:
    PageAssembly();
    void keep(const PageAssembly& source);

    std::shared_ptr<QPDF> qpdf_;
    std::vector<std::shared_ptr<const void>> keepAlive_;
};

}  // namespace calvoro::pdf
