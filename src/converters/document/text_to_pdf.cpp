#include "converters/document/text_to_pdf.h"

#include "converters/document/document_converter.h"
#include "core/conversion_error.h"
#include "platform/pdf/text_pages.h"

namespace calvoro::DocumentConverter {

void textToPDF(const std::filesystem::path& source, const std::filesystem::path& output) {
    const std::string text = readTextFile(source);
    pdf::TextPages::Setup setup;
    setup.pageLimit = pdfPageLimit;
    const auto pages = pdf::TextPages::layOut(text, setup);
    if (!pages) throw ConversionError::corruptFile(documentTooLongMessage);
    if (!pages->writePDF(output)) throw ConversionError::failedToCreateOutput();
}

}  // namespace calvoro::DocumentConverter
