#include "platform/pdf/text_layer.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <QString>

#include <map>
#include <vector>

#include "core/text_util.h"

namespace calvoro::pdf {
namespace {

bool isPresentationForm(char32_t c) { return (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF); }

std::u16string fromHex(const std::string& hex) {
    std::u16string out;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4) out.push_back(static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
    return out;
}

std::string toHex(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += formatC("%04X", static_cast<unsigned>(c));
    return out;
}

// The letters a text of presentation forms stands for (their compatibility decomposition: the
// initial, medial, final or isolated form of a letter is that letter; a ligature is its letters).
std::u16string letters(const std::u16string& text) {
    const QString in(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
    QString out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        char32_t c = in.at(i).unicode();
        if (in.at(i).isHighSurrogate() && i + 1 < in.size()) c = QChar::surrogateToUcs4(in.at(i), in.at(i + 1));
        const QString one = c > 0xFFFF ? in.mid(i++, 2) : in.mid(i, 1);
        out += isPresentationForm(c) ? one.normalized(QString::NormalizationForm_KC) : one;
    }
    return std::u16string(reinterpret_cast<const char16_t*>(out.utf16()), static_cast<size_t>(out.size()));
}

// The glyph-to-text entries of a ToUnicode character map (bfchar and bfrange sections).
std::map<unsigned, std::u16string> readCMap(const std::string& cmap) {
    std::map<unsigned, std::u16string> out;
    auto tokens = [&](size_t from, size_t to) {
        std::vector<std::string> list;  // hex strings, and "[" / "]"
        for (size_t i = from; i < to; ++i) {
            if (cmap[i] == '[' || cmap[i] == ']') list.emplace_back(1, cmap[i]);
            if (cmap[i] != '<') continue;
            const size_t end = cmap.find('>', i);
            if (end == std::string::npos || end > to) break;
            list.push_back(cmap.substr(i + 1, end - i - 1));
            i = end;
        }
        return list;
    };
    for (const char* kind : {"bfchar", "bfrange"}) {
        const std::string begin = std::string("begin") + kind, end = std::string("end") + kind;
        for (size_t at = cmap.find(begin); at != std::string::npos; at = cmap.find(begin, at + 1)) {
            const size_t stop = cmap.find(end, at);
            if (stop == std::string::npos) break;
            const auto list = tokens(at + begin.size(), stop);
            for (size_t i = 0; i < list.size();) {
                if (kind[2] == 'c') {
                    if (i + 1 >= list.size()) break;
                    out[std::stoul(list[i], nullptr, 16)] = fromHex(list[i + 1]);
                    i += 2;
                    continue;
                }
                if (i + 2 >= list.size()) break;
                const unsigned lo = std::stoul(list[i], nullptr, 16), hi = std::stoul(list[i + 1], nullptr, 16);
                if (list[i + 2] == "[") {
                    size_t j = i + 3;
                    for (unsigned g = lo; j < list.size() && list[j] != "]"; ++j, ++g) out[g] = fromHex(list[j]);
                    i = j + 1;
                } else {
                    std::u16string text = fromHex(list[i + 2]);
                    for (unsigned g = lo; g <= hi && g - lo < 65536 && !text.empty(); ++g, ++text.back()) out[g] = text;
                    i += 3;
                }
            }
        }
    }
    return out;
}

std::string writeCMap(const std::map<unsigned, std::u16string>& entries) {
    std::string out =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    auto it = entries.begin();
    while (it != entries.end()) {
        std::string section;
        size_t n = 0;
        for (; it != entries.end() && n < 100; ++it, ++n) section += formatC("<%04X> <", it->first) + toHex(it->second) + ">\n";
        out += std::to_string(n) + " beginbfchar\n" + section + "endbfchar\n";
    }
    return out + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

}  // namespace

std::optional<std::string> withSourceCharacters(const std::string& pdf) {
    try {
        QPDF qpdf;
        qpdf.setSuppressWarnings(true);
        qpdf.processMemoryFile("text", pdf.data(), pdf.size());
        bool changed = false;
        for (QPDFObjectHandle object : qpdf.getAllObjects()) {
            if (!object.isDictionary() || !object.getKey("/Type").isNameAndEquals("/Font")) continue;
            QPDFObjectHandle map = object.getKey("/ToUnicode");
            if (!map.isStream()) continue;
            const auto data = map.getStreamData(qpdf_dl_generalized);
            const std::string text(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
            auto entries = readCMap(text);
            bool any = false;
            for (auto& [glyph, chars] : entries) {
                const std::u16string fixed = letters(chars);
                any = any || fixed != chars;
                chars = fixed;
            }
            if (!any) continue;
            map.replaceStreamData(writeCMap(entries), QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
            changed = true;
        }
        if (!changed) return pdf;
        QPDFWriter writer(qpdf);
        writer.setOutputMemory();
        writer.write();
        std::unique_ptr<Buffer> bytes(writer.getBuffer());
        return std::string(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace calvoro::pdf
