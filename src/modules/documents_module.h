#pragma once

// The document layers (Qt Gui text layout, QtPdf, qpdf and Qt WebEngine) are built into a module
// that is loaded on first use, so that a run converting only images, media, fonts, archives,
// tables, subtitles, or text and Markdown to HTML never loads them: tables reach the module only
// to be printed to PDF. These functions forward to the module; each loads it when needed and
// throws ConversionError when it cannot be loaded.

#include <filesystem>
#include <memory>
#include <string>

#include "core/cancellation.h"
#include "core/supported_format.h"
#include "core/validation_status.h"
#include "platform/imaging/rgba_image.h"

class QCoreApplication;

namespace calvoro::documents {

using Path = std::filesystem::path;

// What the module hands out. Module and program are built from one tree, so the layout is
// checked only by its version.
struct ModuleTable {
    int version;
    // The application object for runs that may draw: a QApplication on the platform chosen by the
    // environment, after the web engine's switches are set.
    std::unique_ptr<QCoreApplication> (*createApplication)(int& argc, char** argv);
    Path (*convert)(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
                    const CancellationToken& cancellation);
    Path (*splitPDF)(const Path& source, const Path& outputDir, const CancellationToken& cancellation);
    Path (*convertPDFPages)(const Path& source, SupportedFormat target, const Path& outputDir, double quality,
                            const CancellationToken& cancellation);
    // The table writer's HTML page printed with every row and column (DocumentConverter::tablePageToPDF).
    void (*tablePageToPDF)(const std::string& html, const Path& output);
    validation::Status (*validatePDF)(const Path& url, int expectPages, validation::PDFBackgroundRequirement requirement);
    // The first page on white, fitted into a square of longestEdge pixels; empty when unreadable.
    imaging::RgbaImage (*pdfFirstPage)(const Path& source, int longestEdge);
    // Readies the web engine and a page ahead of a first HTML rendering, in a later turn of the
    // main thread; once per process.
    void (*prepareHTMLRendering)();
};

inline constexpr int moduleVersion = 5;

// The module's exported entry point.
inline constexpr const char* moduleEntryName = "calvoro_documents_module";

// Loads the module once; throws ConversionError with the loader's reason when it cannot.
const ModuleTable& module();

Path convert(const Path& source, SupportedFormat sourceFormat, SupportedFormat target, const Path& outputDir,
             const CancellationToken& cancellation = {});
Path splitPDF(const Path& source, const Path& outputDir, const CancellationToken& cancellation = {});
Path convertPDFPages(const Path& source, SupportedFormat target, const Path& outputDir, double quality,
                     const CancellationToken& cancellation = {});
void tablePageToPDF(const std::string& html, const Path& output);
// Throws ConversionError when the module cannot be loaded.
imaging::RgbaImage pdfFirstPage(const Path& source, int longestEdge);
// For a widget application that is about to render HTML; throws ConversionError when the
// module cannot be loaded.
void prepareHTMLRendering();
// Never throws: a module that cannot be loaded makes the check fail with its reason.
validation::Status validatePDF(const Path& url, int expectPages, validation::PDFBackgroundRequirement requirement);

}  // namespace calvoro::documents
