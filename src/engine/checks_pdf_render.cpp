// A PDF output opened by the PDF layer: its first page is rendered at a quarter of its size onto
// transparency, and the band of its margins tells whether the page paints a background.
// Where only opacity counts and the page's content already shows an opaque fill over the whole
// page (as printed web pages paint their background), the render is not needed.
#include "engine/validation_checks.h"
#include "platform/pdf/page_cover.h"
#include "platform/pdf/pdf_document.h"

namespace calvoro::validation {

Status validatePDFDocument(const fs::path& url, int expectPages, PDFBackgroundRequirement requirement) {
    const std::unique_ptr<pdf::Document> document = pdf::Document::open(url);
    if (!document) return Status::failed("The PDF cannot be opened");
    const int pages = document->pageCount();
    if (pages < expectPages)
        return Status::failed("PDF has " + std::to_string(pages) + " pages, expected \u2265 " + std::to_string(expectPages));
    if (pages < 1) return Status::passed();

    const pdf::PageSize size = document->pageSize(0);
    const auto bitmap = quarterBitmapSize(size.width, size.height);
    // A page too large for a bitmap is not rendered, as when no bitmap can be made.
    if (!bitmap) return Status::passed();
    // A page that an opaque fill covers whole needs no render once it is three pixels across.
    const bool opacityOnly = requirement != PDFBackgroundRequirement::whitePage;
    if (opacityOnly && bitmap->width >= 3 && bitmap->height >= 3 && pdf::pageIsOpaquelyCovered(url, 0))
        return Status::passed();
    const imaging::RgbaImage image = document->render(0, bitmap->width, bitmap->height, true);
    if (image.width != bitmap->width || image.height != bitmap->height) return Status::passed();
    return backgroundVerdict(image.pixels, image.width, image.height, requirement);
}

}  // namespace calvoro::validation
