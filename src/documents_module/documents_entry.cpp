// The documents module's entry point: the table the program reaches the document layers by.
#include <QApplication>

#include "converters/image_document_data/document/document_converter.h"
#include "converters/image_document_data/image/image_converter.h"
#include "documents_module/documents_module.h"
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

const ModuleTable table{
    moduleVersion,
    &makeApplication,
    &DocumentConverter::convert,
    &DocumentConverter::splitPDF,
    &pdfPages,
    &DocumentConverter::htmlStringToPDF,
    &validation::validatePDFDocument,
};

}  // namespace
}  // namespace calvoro::documents

extern "C" __attribute__((visibility("default"))) const calvoro::documents::ModuleTable* calvoro_documents_module() {
    return &calvoro::documents::table;
}
