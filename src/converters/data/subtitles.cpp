#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>

#include "converters/data/data_converter.h"
#include "converters/data/text_scan.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

// The C locale for strtod, whatever the process locale is; made once, never changed.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

// strtod's full grammar (decimal, exponent, hexadecimal, inf, nan) over the whole piece.
std::optional<double> readDouble(std::string_view piece) {
    if (piece.empty()) return std::nullopt;
    unsigned char first = static_cast<unsigned char>(piece.front());
    if (first == ' ' || (first >= '\t' && first <= '\r')) return std::nullopt;
    std::string text(piece);
    char* end = nullptr;
    double value = strtod_l(text.c_str(), &end, cLocale());
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

std::optional<int64_t> readInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string_view trimByteOrderMarks(std::string_view text) {
    static constexpr std::string_view bom = "\xEF\xBB\xBF";
    while (text.substr(0, 3) == bom) text.remove_prefix(3);
    while (text.size() >= 3 && text.substr(text.size() - 3) == bom) text.remove_suffix(3);
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

std::optional<double> DataConverter::parseTimestamp(std::string_view text) {
    std::string normalized = datatext::replacingAll(datatext::trimBlanksAndTabs(text), ",", ".");
    auto words = nonEmptyPieces(normalized, ' ');
    if (words.empty()) return std::nullopt;
    auto pieces = nonEmptyPieces(words.front(), ':');
    if (pieces.empty()) return std::nullopt;
    auto seconds = readDouble(pieces.back());
    if (!seconds) return std::nullopt;
    double total = *seconds;
    size_t count = pieces.size();
    if (count >= 2)
        if (auto minutes = readDouble(pieces[count - 2])) total += *minutes * 60;
    if (count >= 3)
        if (auto hours = readDouble(pieces[count - 3])) total += *hours * 3600;
    return total;
}

std::vector<DataConverter::Cue> DataConverter::parseSRT(std::string_view text) {
    std::string unified = datatext::replacingAll(text, "\r\n", "\n");
    std::vector<Cue> cues;
    for (std::string_view block : datatext::components(trimByteOrderMarks(unified), "\n\n")) {
        auto lines = datatext::components(block, "\n");
        if (lines.size() < 2) continue;
        size_t timing = 0;
        while (timing < lines.size() && lines[timing].find("-->") == std::string_view::npos) ++timing;
        if (timing == lines.size()) continue;
        auto parts = datatext::components(lines[timing], "-->");
        if (parts.size() != 2) continue;
        auto start = parseTimestamp(parts[0]);
        auto end = parseTimestamp(parts[1]);
        if (!start || !end) continue;

        std::optional<int64_t> index;
        if (timing > 0) index = readInteger(datatext::trimBlanksAndTabs(lines[timing - 1]));

        std::string_view body;
        if (timing + 1 < lines.size()) {
            // The lines after the timing line are contiguous in the block.
            const char* from = lines[timing + 1].data();
            body = std::string_view(from, block.data() + block.size() - from);
        }
        body = datatext::trimUnicodeWhitespace(body);
        if (body.empty()) continue;
        cues.push_back(Cue{index.value_or(static_cast<int64_t>(cues.size()) + 1), *start, *end, std::string(body)});
    }
    return cues;
}

std::vector<DataConverter::Cue> DataConverter::parseVTT(std::string_view text) {
    std::string unified = datatext::replacingAll(text, "\r\n", "\n");
    std::string_view rest = unified;
    size_t signature = rest.find("WEBVTT");
    if (signature != std::string_view::npos) {
        rest = rest.substr(signature + 6);
        size_t gap = rest.find("\n\n");
        // The rest of the header goes, unless a cue sits right under the signature line.
        if (gap != std::string_view::npos && rest.substr(0, gap).find("-->") == std::string_view::npos)
            rest = rest.substr(gap + 2);
    }
    std::string kept;
    kept.reserve(rest.size());
    bool first = true;
    for (std::string_view block : datatext::components(rest, "\n\n")) {
        std::string_view trimmed = datatext::trimUnicodeWhitespace(block);
        if (trimmed.empty() || startsWith(trimmed, "NOTE") || startsWith(trimmed, "STYLE") || startsWith(trimmed, "REGION"))
            continue;
        if (!first) kept += "\n\n";
        kept += block;
        first = false;
    }
    return parseSRT(kept);
}

std::string DataConverter::stamp(double seconds, bool srt) {
    // Negative and not-a-number times are 0; times beyond what whole milliseconds can count
    // in 64 bits (infinity included) stop at the largest count.
    int64_t totalMs = 0;
    double ms = std::round(seconds * 1000.0);
    if (ms >= 9223372036854775808.0) {
        totalMs = INT64_MAX;
    } else if (ms > 0) {
        totalMs = static_cast<int64_t>(ms);
    }
    int64_t hours = totalMs / 3600000;
    int minutes = static_cast<int>(totalMs / 60000 % 60);
    int secs = static_cast<int>(totalMs / 1000 % 60);
    int millis = static_cast<int>(totalMs % 1000);
    return formatC("%02lld:%02d:%02d%c%03d", static_cast<long long>(hours), minutes, secs, srt ? ',' : '.', millis);
}

std::string DataConverter::writeSRT(const std::vector<Cue>& cues) {
    std::string out;
    for (size_t i = 0; i < cues.size(); ++i) {
        if (i > 0) out.push_back('\n');
        out += std::to_string(i + 1);
        out += '\n';
        out += stamp(cues[i].start, true);
        out += " --> ";
        out += stamp(cues[i].end, true);
        out += '\n';
        out += cues[i].text;
        out += '\n';
    }
    return out;
}

std::string DataConverter::writeVTT(const std::vector<Cue>& cues) {
    std::string out = "WEBVTT\n\n";
    for (size_t i = 0; i < cues.size(); ++i) {
        if (i > 0) out.push_back('\n');
        out += stamp(cues[i].start, false);
        out += " --> ";
        out += stamp(cues[i].end, false);
        out += '\n';
        out += cues[i].text;
        out += '\n';
    }
    return out;
}

}  // namespace calvoro
