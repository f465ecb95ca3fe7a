#include "modules/documents_module.h"

#include "core/conversion_error.h"
#include "modules/module_loader.h"

namespace calvoro::documents {

const ModuleTable& module() {
    static modules::LoadedTable<ModuleTable> loaded("libcalvoro_documents.so", moduleEntryName, "documents", moduleVersion);
    return loaded.get();
}

Path convert(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
             const CancellationToken& cancellation) {
    return module().convert(source, sourceFormat, target, outputDir, cancellation);
}

Path splitPDF(const Path& source, const Path& outputDir, const CancellationToken& cancellation) {
    return module().splitPDF(source, outputDir, cancellation);
}

Path convertPDFPages(const Path& source, SupportedFormat target, const Path& outputDir, double quality,
                     const CancellationToken& cancellation) {
    return module().convertPDFPages(source, target, outputDir, quality, cancellation);
}

void tablePageToPDF(const std::string& html, const Path& output) { module().tablePageToPDF(html, output); }

imaging::RgbaImage pdfFirstPage(const Path& source, int longestEdge) { return module().pdfFirstPage(source, longestEdge); }

void prepareHTMLRendering() { module().prepareHTMLRendering(); }

validation::Status validatePDF(const Path& url, int expectPages, validation::PDFBackgroundRequirement requirement) {
    try {
        return module().validatePDF(url, expectPages, requirement);
    } catch (const std::exception& e) {
        return validation::Status::failed(std::string("PDF could not be checked: ") + e.what());
    }
}

}  // namespace calvoro::documents
