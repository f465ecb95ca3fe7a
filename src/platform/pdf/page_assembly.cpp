#include "platform/pdf/page_assembly.h"

#include <fcntl.h>
#include <unistd.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "core/file_writing.h"
#include "core/text_util.h"

namespace calvoro::pdf {
namespace {

std::shared_ptr<QPDF> quietPDF() {
    auto qpdf = QPDF::create();
    qpdf->setSuppressWarnings(true);
    return qpdf;
}

}  // namespace

PageAssembly::PageAssembly() = default;
PageAssembly::PageAssembly(PageAssembly&&) noexcept = default;
PageAssembly& PageAssembly::operator=(PageAssembly&&) noexcept = default;
PageAssembly::~PageAssembly() = default;

PageAssembly PageAssembly::empty() {
    PageAssembly doc;
    doc.qpdf_ = quietPDF();
    doc.qpdf_->emptyPDF();
    return doc;
}

std::optional<PageAssembly> PageAssembly::open(const std::filesystem::path& path) {
    try {
        PageAssembly doc;
        doc.qpdf_ = quietPDF();
        doc.qpdf_->processFile(path.c_str());
        doc.pageCount();  // the page tree must be readable too
        return doc;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<PageAssembly> PageAssembly::openBytes(std::string bytes) {
    try {
        PageAssembly doc;
        auto buffer = std::make_shared<const std::string>(std::move(bytes));
        doc.qpdf_ = quietPDF();
        doc.qpdf_->processMemoryFile("memory", buffer->data(), buffer->size());
        doc.keepAlive_.push_back(buffer);
        doc.pageCount();
        return doc;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int PageAssembly::pageCount() const {
    return static_cast<int>(qpdf_->getAllPages().size());
}

void PageAssembly::keep(const PageAssembly& source) {
    if (source.qpdf_ == qpdf_) return;
    keepAlive_.push_back(source.qpdf_);
    keepAlive_.insert(keepAlive_.end(), source.keepAlive_.begin(), source.keepAlive_.end());
}

bool PageAssembly::insertPage(const PageAssembly& source, int fromIndex, int atIndex) {
    const auto& from = source.qpdf_->getAllPages();
    const int count = pageCount();
    if (fromIndex < 0 || fromIndex >= static_cast<int>(from.size()) || atIndex < 0 || atIndex > count) return false;
    keep(source);
    QPDFPageObjectHelper page(from[static_cast<size_t>(fromIndex)]);
    QPDFPageDocumentHelper helper(*qpdf_);
    if (source.qpdf_ == qpdf_) page = QPDFPageObjectHelper(page.getObjectHandle().shallowCopy());
    if (atIndex == count) {
        helper.addPage(page, false);
    } else {
        helper.addPageAt(page, true, helper.getAllPages()[static_cast<size_t>(atIndex)]);
    }
    return true;
}

void PageAssembly::appendAllPages(const PageAssembly& source) {
    const int n = source.pageCount();
    for (int i = 0; i < n; ++i) insertPage(source, i, pageCount());
}

void PageAssembly::carryNamedDestinations(const PageAssembly& source) {
    if (source.qpdf_ == qpdf_) return;
    // Only indirect objects can be copied across documents.
    auto copied = [&](QPDFObjectHandle foreign) {
        if (!foreign.isIndirect()) foreign = source.qpdf_->makeIndirectObject(foreign);
        return qpdf_->copyForeignObject(foreign);
    };
    try {
        QPDFObjectHandle from = source.qpdf_->getRoot();
        QPDFObjectHandle root = qpdf_->getRoot();
        // Both places a PDF keeps them: the catalog's dictionary and the name tree.
        QPDFObjectHandle dests = from.getKey("/Dests");
        if (dests.isDictionary()) {
            QPDFObjectHandle ours = root.getKey("/Dests");
            if (!ours.isDictionary()) {
                root.replaceKey("/Dests", copied(dests));
            } else {
                // A print of another piece of the same document: its names join those already here.
                for (const std::string& name : dests.getKeys())
                    if (!ours.hasKey(name)) ours.replaceKey(name, copied(dests.getKey(name)));
            }
        }
        QPDFObjectHandle names = from.getKey("/Names");
        if (names.isDictionary() && names.getKey("/Dests").isDictionary()) {
            QPDFObjectHandle ours = root.getKey("/Names");
            if (!ours.isDictionary()) {
                ours = qpdf_->makeIndirectObject(QPDFObjectHandle::newDictionary());
                root.replaceKey("/Names", ours);
            }
            if (!ours.hasKey("/Dests")) ours.replaceKey("/Dests", copied(names.getKey("/Dests")));
        }
    } catch (const std::exception&) {
        // A damaged table: the links then lead nowhere, as without it.
    }
}

bool PageAssembly::cropToStrip(int index, double top, double height) {
    auto pages = qpdf_->getAllPages();
    if (index < 0 || index >= static_cast<int>(pages.size())) return false;
    QPDFPageObjectHelper page(pages[static_cast<size_t>(index)]);
    const QPDFObjectHandle::Rectangle r = page.getMediaBox(true).getArrayAsRectangle();
    const double pageHeight = r.ury - r.lly;
    if (!(height > 0) || top < 0 || top >= pageHeight) return false;
    height = std::min(height, pageHeight - top);
    const QPDFObjectHandle::Rectangle strip(r.llx, r.ury - top - height, r.urx, r.ury - top);
    QPDFObjectHandle dict = page.getObjectHandle();
    dict.replaceKey("/MediaBox", QPDFObjectHandle::newFromRectangle(strip));
    for (const char* key : {"/CropBox", "/BleedBox", "/TrimBox", "/ArtBox"})
        if (dict.hasKey(key)) dict.removeKey(key);
    return true;
}

bool PageAssembly::scalePage(int index, double scale, double width, double height, double top) {
    auto pages = qpdf_->getAllPages();
    if (index < 0 || index >= static_cast<int>(pages.size()) || !(scale > 0)) return false;
    QPDFPageObjectHelper page(pages[static_cast<size_t>(index)]);
    const QPDFObjectHandle::Rectangle r = page.getMediaBox(true).getArrayAsRectangle();
    // What lay outside the page stays hidden: clipped to where the page was.
    const std::string before = formatC("q %.6f 0 0 %.6f %.4f %.4f cm %.4f %.4f %.4f %.4f re W n\n", scale, scale, -r.llx * scale,
                                       height - top - r.ury * scale, r.llx, r.lly, r.urx - r.llx, r.ury - r.lly);
    page.addPageContents(QPDFObjectHandle::newStream(qpdf_.get(), before), true);
    page.addPageContents(QPDFObjectHandle::newStream(qpdf_.get(), std::string("\nQ\n")), false);
    QPDFObjectHandle dict = page.getObjectHandle();
    dict.replaceKey("/MediaBox", QPDFObjectHandle::newFromRectangle(QPDFObjectHandle::Rectangle(0, 0, width, height)));
    for (const char* key : {"/CropBox", "/BleedBox", "/TrimBox", "/ArtBox"})
        if (dict.hasKey(key)) dict.removeKey(key);
    return true;
}

bool PageAssembly::paintWhiteBehind(int index) {
    auto pages = qpdf_->getAllPages();
    if (index < 0 || index >= static_cast<int>(pages.size())) return false;
    QPDFPageObjectHelper page(pages[static_cast<size_t>(index)]);
    const QPDFObjectHandle::Rectangle r = page.getMediaBox(true).getArrayAsRectangle();
    const std::string fill = formatC("q 1 1 1 rg %.4f %.4f %.4f %.4f re f Q\n", r.llx, r.lly, r.urx - r.llx, r.ury - r.lly);
    page.addPageContents(QPDFObjectHandle::newStream(qpdf_.get(), fill), true);
    return true;
}

bool PageAssembly::write(const std::filesystem::path& path) const {
    std::error_code ec;
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    bool ok = false;
    try {
        QPDFWriter writer(*qpdf_);
        writer.setOutputMemory();
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
        std::unique_ptr<Buffer> bytes(writer.getBuffer());
        // qpdf's own file output does not notice a failed final flush; the bytes are written here.
        ok = bytes && files::writeAll(path, bytes->getBuffer(), bytes->getSize(), O_CREAT | O_TRUNC);
    } catch (const std::exception&) {
        ok = false;
    }
    // Never leave a half-written file behind; never remove one that was there before.
    if (!ok && !existed) std::filesystem::remove(path, ec);
    return ok;
}

}  // namespace calvoro::pdf
