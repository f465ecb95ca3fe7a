// Checks of tables and subtitles, read back with the data converter's own readers.
#include "converters/data/data_converter.h"
#include "converters/data/delimited_parsing.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {

Status validateDelimited(const fs::path& url, char delimiter) {
    // Walked in place a row at a time: only the column counts are kept.
    auto file = MappedFile::open(url);
    if (auto problem = textProblem(file, "Delimited file")) return *problem;
    size_t count = 0;
    size_t header = 0;
    std::optional<Status> mismatch;
    datatable::forEachDelimitedRow(withoutBOM(file->view()), delimiter, [&](datatable::Cells cells) {
        if (count == 0) header = cells.size();
        ++count;
        if (header != 0 && cells.size() != header) {
            mismatch = Status::failed("Row " + std::to_string(count) + " has " + std::to_string(cells.size()) +
                                      " columns, header has " + std::to_string(header));
            return false;
        }
        file->releaseBefore(cells.back().data());
        return true;
    });
    if (count < 2) return Status::failed("Expected a header plus at least one row, got " + std::to_string(count));
    if (header == 0) return Status::failed("Header row has no columns");
    if (mismatch) return *mismatch;
    return Status::passed();
}

Status validateSubtitles(const fs::path& url, SupportedFormat format) {
    const auto text = readUTF8(url);
    if (!text) return Status::failed("Subtitle file not readable as UTF-8");
    if (text->find('\0') != std::string::npos) return Status::failed("Subtitle file holds a NUL byte");
    std::vector<DataConverter::Cue> cues;
    if (format == SupportedFormat::vtt) {
        if (text->rfind("WEBVTT", 0) != 0) return Status::failed("WebVTT file must begin with the WEBVTT signature");
        cues = DataConverter::parseVTT(*text);
    } else {
        cues = DataConverter::parseSRT(*text);
    }
    if (cues.empty()) return Status::failed("No cues parsed back from output");
    for (size_t i = 0; i < cues.size(); ++i) {
        const std::string number = std::to_string(i + 1);
        if (cues[i].end < cues[i].start) return Status::failed("Cue " + number + " ends before it starts");
        if (cues[i].text.empty()) return Status::failed("Cue " + number + " has no text");
    }
    if (cues.size() >= 2) {
        bool allAtZero = true;
        for (const auto& cue : cues) allAtZero = allAtZero && cue.start == 0;
        if (allAtZero) return Status::failed("Every cue starts at 00:00 \u2014 timings were lost");
    }
    return Status::passed();
}

}  // namespace calvoro::validation
