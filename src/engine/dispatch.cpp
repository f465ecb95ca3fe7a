// The router: runs the one converter operation that routeFor chose.
#include "converters/data/data_converter.h"
#include "converters/document/text_pages.h"
#include "core/conversion_error.h"
#include "modules/documents_module.h"
#include "modules/module_loader.h"
#include "engine/conversion_engine.h"
#include "engine/heavy_routes.h"
#include "engine/job_routing.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;
using routing::Operation;

fs::path run(const routing::Route& route, const ConversionJob& job, SupportedFormat target, const fs::path& outputDir,
             const ConversionEngine::ProgressHandler& progress, const CancellationToken& cancellation) {
    const fs::path& source = job.sourceURL;
    switch (route.operation) {
        case Operation::imagePDFPages:
            return documents::convertPDFPages(source, target, outputDir, route.quality, cancellation);
        case Operation::splitPDF:
            return documents::splitPDF(source, outputDir, cancellation);
        case Operation::document:
            return documents::convert(source, job.detectedFormat, target, outputDir, cancellation);
        case Operation::data:
            return DataConverter::convert(source, job.detectedFormat, target, outputDir);
        case Operation::textPage:
            return DocumentConverter::convertTextPage(source, job.detectedFormat, target, outputDir);
        case Operation::font: case Operation::archive: case Operation::image: case Operation::extractAudio:
        case Operation::convertVideo: case Operation::convertAudio: case Operation::videoToGIF: case Operation::gifToVideo:
            return heavy::module().run(route, job, target, outputDir, progress, cancellation);
    }
    // Every operation has a case above; this keeps an unknown value from falling through.
    throw ConversionError::unsupportedConversion(job.detectedFormat.displayName(), target.displayName());
}

}  // namespace

namespace heavy {

const ModuleTable& module() {
    static modules::LoadedTable<ModuleTable> loaded("libcalvoro_rooms.so", moduleEntryName, "conversion", moduleVersion);
    return loaded.get();
}

}  // namespace heavy

fs::path ConversionEngine::dispatch(const ConversionJob& job, SupportedFormat target, const fs::path& outputDir,
                                    const ProgressHandler& progressHandler, const CancellationToken& cancellation) {
    cancellation.throwIfCancelled();
    const routing::Route route = routing::routeFor(job, target);
    auto report = [&](double value) {
        if (progressHandler) progressHandler(value);
    };
    if (route.progressBefore) report(*route.progressBefore);
    // The media converters call the handler they get; an empty one stands for "not interested".
    const ProgressHandler passedOn = progressHandler ? progressHandler : ProgressHandler([](double) {});
    fs::path output = run(route, job, target, outputDir, passedOn, cancellation);
    if (route.progressBefore) report(1.0);
    return output;
}

}  // namespace calvoro
