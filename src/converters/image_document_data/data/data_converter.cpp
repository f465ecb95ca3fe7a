#include "converters/image_document_data/data/data_converter.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "core/uuid.h"

#if __has_include("converters/image_document_data/document/html_to_pdf.h")
#include "converters/image_document_data/document/html_to_pdf.h"
#define CALVORO_DATA_HAS_PDF 1
#endif

namespace calvoro {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

// Writes through a temporary file beside the output and renames it into place, so the
// output name never holds half a file.
void writeAtomically(const std::filesystem::path& output, const std::string& text) {
    std::string name = lastPathComponent(output);
    auto temp = output.parent_path() / ("." + name + "." + Uuid().uuidString() + ".tmp");
    auto fail = [&](int error) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw std::system_error(error, std::generic_category(), "The file \u201C" + name + "\u201D couldn\u2019t be saved");
    };
    {
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temp.c_str(), "wb"));
        if (!file) fail(errno);
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) fail(errno ? errno : EIO);
        if (std::fflush(file.get()) != 0) fail(errno ? errno : EIO);
        if (std::fclose(file.release()) != 0) fail(errno ? errno : EIO);
    }
    std::error_code ec;
    std::filesystem::rename(temp, output, ec);
    if (ec) fail(ec.value());
}

std::string joinCueTexts(const std::vector<DataConverter::Cue>& cues) {
    std::string out;
    for (size_t i = 0; i < cues.size(); ++i) {
        if (i > 0) out += "\n\n";
        out += cues[i].text;
    }
    return out;
}

}  // namespace

std::filesystem::path DataConverter::convert(const std::filesystem::path& source, SupportedFormat from, SupportedFormat target,
                                             const std::filesystem::path& outputDir) {
    auto& log = ConversionLogger::shared();
    // Sources need no scoped access on this platform: reading is governed by the file's permissions.
    std::string sourceName = lastPathComponent(source);
    std::string text = readText(source);

    std::string baseName = deletingPathExtension(sourceName);
    auto output = OutputNameRegistry::reserve(outputDir, baseName, target.fileExtension());
    auto unsupported = [&] { return ConversionError::unsupportedConversion(from.displayName(), target.displayName()); };

    std::string result;
    std::string message;
    switch (from) {
        case SupportedFormat::srt:
        case SupportedFormat::vtt: {
            auto cues = from == SupportedFormat::srt ? parseSRT(text) : parseVTT(text);
            if (cues.empty()) throw ConversionError::corruptFile("No subtitle cues found in " + sourceName);
            switch (target) {
                case SupportedFormat::srt: result = writeSRT(cues); break;
                case SupportedFormat::vtt: result = writeVTT(cues); break;
                case SupportedFormat::txt: result = joinCueTexts(cues); break;
                default: throw unsupported();
            }
            message = "Wrote " + std::to_string(cues.size()) + " cues";
            break;
        }
        case SupportedFormat::csv:
        case SupportedFormat::tsv:
        case SupportedFormat::json: {
            Table table = from == SupportedFormat::json ? rowsFromJSON(text) : parseDelimited(text, from == SupportedFormat::csv ? ',' : '\t');
            std::string().swap(text);  // the source text is no longer needed; large tables want the memory
            if (table.empty()) throw ConversionError::corruptFile("No rows found in " + sourceName);
            switch (target) {
                case SupportedFormat::csv: result = writeDelimited(table, ','); break;
                case SupportedFormat::tsv: result = writeDelimited(table, '\t'); break;
                case SupportedFormat::json: result = writeJSON(table); break;
                case SupportedFormat::html: result = writeHTMLTable(table, baseName); break;
                case SupportedFormat::markdown: result = writeMarkdownTable(table); break;
                case SupportedFormat::pdf:
#ifdef CALVORO_DATA_HAS_PDF
                    DocumentConverter::htmlStringToPDF(writeHTMLTable(table, baseName), output);
                    break;
#else
                    throw unsupported();
#endif
                default: throw unsupported();
            }
            message = "Wrote " + std::to_string(table.size()) + " rows";
            break;
        }
        default: throw unsupported();
    }

    if (target != SupportedFormat::pdf) writeAtomically(output, result);
    log.success(message, "Data", lastPathComponent(output));
    return output;
}

}  // namespace calvoro
