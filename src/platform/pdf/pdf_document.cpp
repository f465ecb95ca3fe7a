#include "platform/pdf/pdf_document.h"

#include <fcntl.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>

#include <QImage>
#include <QPdfDocument>
#include <QPdfSelection>

#include <set>
#include <utility>
#include <vector>

#include "core/source_file.h"
#include "platform/qt/main_thread.h"

namespace calvoro::pdf {
namespace {

// QtPdf objects live on the Qt main thread: every call hops there, which also serialises
// access to the PDF engine underneath.
class QtDocument final : public Document {
public:
    explicit QtDocument(std::unique_ptr<QPdfDocument> doc) : doc_(std::move(doc)) {}
    ~QtDocument() override {
        qtmain::runOnMain([this] { doc_.reset(); });
    }

    int pageCount() const override {
        return qtmain::callOnMain<int>([this] { return doc_->pageCount(); });
    }

    PageSize pageSize(int index) const override {
        return qtmain::callOnMain<PageSize>([&] {
            if (index < 0 || index >= doc_->pageCount()) return PageSize{};
            const QSizeF size = doc_->pagePointSize(index);
            return PageSize{size.width(), size.height()};
        });
    }

    std::string pageText(int index) const override {
        return qtmain::callOnMain<std::string>([&] {
            if (index < 0 || index >= doc_->pageCount()) return std::string();
            return doc_->getAllText(index).text().toStdString();
        });
    }

    imaging::RgbaImage render(int index, int width, int height, bool transparentBackground) const override {
        if (width <= 0 || height <= 0) return {};
        QImage image = qtmain::callOnMain<QImage>([&] {
            if (index < 0 || index >= doc_->pageCount()) return QImage();
            QPdfDocumentRenderOptions options;
            options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
            return doc_->render(index, QSize(width, height), options);
        });
        if (image.isNull()) return {};
        image = image.convertToFormat(QImage::Format_RGBA8888);
        imaging::RgbaImage out(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y) {
            const uint8_t* src = image.constScanLine(y);
            uint8_t* dst = out.row(y);
            for (int x = 0; x < image.width(); ++x, src += 4, dst += 4) {
                if (transparentBackground) {
                    dst[0] = src[0], dst[1] = src[1], dst[2] = src[2], dst[3] = src[3];
                } else {
                    // Composite the page over white.
                    const unsigned a = src[3];
                    for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>((src[c] * a + 255u * (255u - a) + 127u) / 255u);
                    dst[3] = 255;
                }
            }
        }
        return out;
    }

private:
    std::unique_ptr<QPdfDocument> doc_;
};

// The PDF engine stalls for good on a page tree deeper than it walks (1,024 levels), or one that
// loops; no real tree comes near this depth.
constexpr size_t pageTreeDepthLimit = 1000;

// Whether the file's page tree has more levels of page nodes than the limit, or a page node
// reached twice, walked without recursion. A file the walk cannot read is left to the engine,
// which mends more than it does.
bool pageTreeStallsEngine(const char* name) {
    try {
        QPDF qpdf;
        qpdf.setSuppressWarnings(true);
        qpdf.processFile(name);
        QPDFObjectHandle root = qpdf.getRoot().getKey("/Pages");
        std::vector<std::pair<QPDFObjectHandle, size_t>> stack{{root, 1}};
        std::set<QPDFObjGen> seen{root.getObjGen()};
        while (!stack.empty()) {
            auto [node, depth] = std::move(stack.back());
            stack.pop_back();
            if (!node.isDictionary()) continue;
            QPDFObjectHandle kids = node.getKey("/Kids");
            if (!kids.isArray()) continue;
            if (depth > pageTreeDepthLimit) return true;
            for (int i = 0; i < kids.getArrayNItems(); ++i) {
                QPDFObjectHandle kid = kids.getArrayItem(i);
                if (kid.isIndirect() && !seen.insert(kid.getObjGen()).second) {
                    // A page node met again closes a loop, in which the engine goes round for good, or
                    // shares a branch, which it may walk once for every way down (no valid tree does).
                    if (kid.isDictionary() && kid.getKey("/Kids").isArray()) return true;
                    continue;
                }
                stack.emplace_back(kid, depth + 1);
            }
        }
    } catch (const std::exception&) {
    }
    return false;
}

}  // namespace

std::unique_ptr<Document> Document::open(const std::filesystem::path& path) {
    // Opened here and named by its descriptor: a QString would not name a file whose name is not
    // UTF-8. The document opens the file again through that name and keeps it.
    // Only a regular file, opened without waiting: the name reopens what was checked.
    int fd = -1;
    try {
        fd = SourceFile(path).release();
    } catch (const std::exception&) {
        return nullptr;
    }
    const QString name = QStringLiteral("/proc/self/fd/") + QString::number(fd);
    if (pageTreeStallsEngine(name.toStdString().c_str())) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<QPdfDocument> doc;
    qtmain::runOnMain([&] {
        auto candidate = std::make_unique<QPdfDocument>();
        if (candidate->load(name) == QPdfDocument::Error::None &&
            candidate->status() == QPdfDocument::Status::Ready)
            doc = std::move(candidate);
    });
    ::close(fd);
    if (!doc) return nullptr;
    return std::make_unique<QtDocument>(std::move(doc));
}

}  // namespace calvoro::pdf
