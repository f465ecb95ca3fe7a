// The documents module's entry point: the table the program reaches the document layers by.
#include <QApplication>

#include <algorithm>
#include <cmath>

#include "converters/document/document_converter.h"
#include "converters/document/table_to_pdf.h"
#include "converters/image/image_converter.h"
#include "engine/validation_checks.h"
#include "modules/documents_module.h"
#include "platform/pdf/pdf_document.h"
#include "platform/web/web_engine.h"

namespace calvoro::documents {
namespace {

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    // The web engine's switches must be in place before the application object exists.
    web::prepareWebEngine();
    auto app = std::make_unique<QApplication>(argc, argv);
    // Pages render in windows of their own; closing one never ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}

Path pdfPages(const Path& source, SupportedFormat target, const Path& outputDir, double quality,
              const CancellationToken& cancellation) {
    return ImageConverter::convertPDFPages(source, target, outputDir, quality, cancellation);
}

imaging::RgbaImage firstPage(const Path& source, int longestEdge) {
    const auto document = pdf::Document::open(source);
    if (!document || document->pageCount() < 1 || longestEdge < 1) return {};
    const pdf::PageSize size = document->pageSize(0);
    if (size.width <= 0 || size.height <= 0) return {};
    const double scale = longestEdge / std::max(size.width, size.height);
    const int width = std::max(1, static_cast<int>(std::lround(size.width * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(size.height * scale)));
    return document->render(0, width, height, false);
}

void tablePage(const std::string& html, const Path& output) { DocumentConverter::tablePageToPDF(html, output); }

const ModuleTable table{
    moduleVersion,
    &makeApplication,
    &DocumentConverter::convert,
    &DocumentConverter::splitPDF,
    &pdfPages,
    &tablePage,
    &validation::validatePDFDocument,
    &firstPage,
    &DocumentConverter::prepareHTMLRendering,
};

}  // namespace
}  // namespace calvoro::documents

extern "C" __attribute__((visibility("default"))) const calvoro::documents::ModuleTable* calvoro_documents_module() {
    return &calvoro::documents::table;
}
