#include "converters/data/data_converter.h"

#include <algorithm>
#include <optional>

#include "converters/data/delimited_parsing.h"
#include "converters/data/output_file.h"
#include "converters/data/table_writing.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "modules/documents_module.h"

namespace calvoro {

namespace {

using datatable::Cells;

void writeAtomically(const std::filesystem::path& output, std::string_view text) {
    datatable::AtomicFile file(output);
    file.write(text);
    file.commit();
}

std::string joinCueTexts(const std::vector<DataConverter::Cue>& cues) {
    std::string out;
    for (size_t i = 0; i < cues.size(); ++i) {
        if (i > 0) out += "\n\n";
        out += cues[i].text;
    }
    return out;
}

ConversionError unsupported(SupportedFormat from, SupportedFormat target) {
    return ConversionError::unsupportedConversion(from.displayName(), target.displayName());
}

template <class Emitter, class ForEachRow>
size_t emitRows(Emitter& emitter, const ForEachRow& forEachRow) {
    size_t rows = 0;
    forEachRow([&](Cells cells) {
        emitter.row(cells);
        ++rows;
        return true;
    });
    emitter.finish();
    return rows;
}

// Writes the rows in the target format, each taken as `columns` wide (the header widened to
// that, shorter rows padded where the format pads); returns the number of rows. Nothing, and
// nothing left behind, when a row turns out wider.
template <class ForEachRow>
std::optional<size_t> writeRows(const ForEachRow& forEachRow, SupportedFormat target, const std::filesystem::path& output,
                                const std::string& title, size_t columns) {
    bool tooWide = false;
    auto rowsWithin = [&](auto&& visit) {
        forEachRow([&](Cells cells) {
            if (cells.size() > columns) return !(tooWide = true);
            return visit(cells);
        });
    };
    size_t rows = 0;
    if (target == SupportedFormat::pdf) {
        datatable::StringSink html;
        datatable::HTMLTableEmitter emitter(html, title, columns);
        rows = emitRows(emitter, rowsWithin);
        if (tooWide) return std::nullopt;
        documents::tablePageToPDF(html.take(), output);
        return rows;
    }
    datatable::AtomicFile file(output);
    datatable::FileSink sink(file);
    if (target == SupportedFormat::csv || target == SupportedFormat::tsv) {
        // Readers of the written table, the validator among them, expect every row as wide as the header.
        datatable::DelimitedEmitter emitter(sink, target == SupportedFormat::csv ? ',' : '\t', columns);
        rows = emitRows(emitter, rowsWithin);
    } else if (target == SupportedFormat::json) {
        datatable::JSONEmitter emitter(sink, columns);
        rows = emitRows(emitter, rowsWithin);
    } else if (target == SupportedFormat::html) {
        datatable::HTMLTableEmitter emitter(sink, title, columns);
        rows = emitRows(emitter, rowsWithin);
    } else {
        datatable::MarkdownTableEmitter emitter(sink, columns);
        rows = emitRows(emitter, rowsWithin);
    }
    if (tooWide) return std::nullopt;
    sink.finish();
    file.commit();
    return rows;
}

// Writes a table, given as a function that feeds its rows to a visitor, in the target
// format; returns the log message.
template <class ForEachRow>
std::string writeTable(const ForEachRow& forEachRow, SupportedFormat from, SupportedFormat target,
                       const std::filesystem::path& output, const std::string& sourceName, const std::string& title) {
    size_t header = 0;
    bool empty = true;
    forEachRow([&](Cells cells) {
        header = cells.size();
        return empty = false;
    });
    if (empty) throw ConversionError::corruptFile("No rows found in " + sourceName);
    switch (target) {
        case SupportedFormat::pdf:
        case SupportedFormat::csv:
        case SupportedFormat::tsv:
        case SupportedFormat::json:
        case SupportedFormat::html:
        case SupportedFormat::markdown: break;
        default: throw unsupported(from, target);
    }

    // Most tables are as wide as their header and are written in one pass. Markdown needs the
    // widest row before its first line; elsewhere only a row wider than the header makes the
    // table be measured and written again, its header widened so that no cell is lost.
    std::optional<size_t> rows;
    if (target != SupportedFormat::markdown) rows = writeRows(forEachRow, target, output, title, header);
    if (!rows) {
        size_t count = 0, columns = 0, firstWider = 0, firstWiderCells = 0;
        forEachRow([&](Cells cells) {
            ++count;
            if (cells.size() > header && firstWider == 0) firstWider = count, firstWiderCells = cells.size();
            columns = std::max(columns, cells.size());
            return true;
        });
        if (firstWider != 0)
            ConversionLogger::shared().warning("Row " + std::to_string(firstWider) + " has " + std::to_string(firstWiderCells) +
                                                   " cells, the header " + std::to_string(header) +
                                                   ": the header was widened to " + std::to_string(columns) + " columns",
                                               "Data", sourceName);
        rows = writeRows(forEachRow, target, output, title, columns);
    }
    return "Wrote " + std::to_string(rows.value_or(0)) + " rows";
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

    std::string message;
    switch (from) {
        case SupportedFormat::srt:
        case SupportedFormat::vtt: {
            auto cues = from == SupportedFormat::srt ? parseSRT(text) : parseVTT(text);
            if (cues.empty()) throw ConversionError::corruptFile("No subtitle cues found in " + sourceName);
            switch (target) {
                case SupportedFormat::srt: writeAtomically(output, writeSRT(cues)); break;
                case SupportedFormat::vtt: writeAtomically(output, writeVTT(cues)); break;
                case SupportedFormat::txt: writeAtomically(output, joinCueTexts(cues)); break;
                default: throw unsupported(from, target);
            }
            message = "Wrote " + std::to_string(cues.size()) + " cues";
            break;
        }
        case SupportedFormat::csv:
        case SupportedFormat::tsv: {
            // Streams straight from the source text: no table is held.
            char delimiter = from == SupportedFormat::csv ? ',' : '\t';
            auto forEachRow = [&](auto&& visit) { datatable::forEachDelimitedRow(text, delimiter, visit); };
            message = writeTable(forEachRow, from, target, output, sourceName, baseName);
            break;
        }
        case SupportedFormat::json: {
            Table table = rowsFromJSON(text);
            std::string().swap(text);  // large tables want the memory
            auto forEachRow = [&](auto&& visit) {
                std::vector<std::string_view> cells;
                for (const auto& row : table) {
                    cells.assign(row.begin(), row.end());
                    if (!visit(Cells(cells))) return;
                }
            };
            message = writeTable(forEachRow, from, target, output, sourceName, baseName);
            break;
        }
        default: throw unsupported(from, target);
    }

    log.success(message, "Data", lastPathComponent(output));
    return output;
}

}  // namespace calvoro
