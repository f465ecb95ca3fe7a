#include "platform/text/rtf.h"

#include <unicode/ucnv.h>

#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/conversion_error.h"

namespace calvoro::text {

namespace {

constexpr size_t maxGroupDepth = 4096;

enum class Destination { text, fontTable, fontName, colorTable, fieldInstruction, fieldResult, skip };

struct FontEntry {
    std::string name;
    bool monospace = false;
    int codepage = 0;
};

struct State {
    Destination destination = Destination::text;
    int font = -1;
    double size = 12;
    bool bold = false;
    bool italic = false;
    int color = 0;
    int unicodeSkip = 1;
    int field = -1;  // index of the field this group belongs to
};

struct Field {
    std::string instruction;
    std::optional<Link> link;
};

const std::set<std::string>& skippedDestinations() {
    static const std::set<std::string> names{
        "info", "stylesheet", "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf", "pict",
        "object", "footnote", "themedata", "colorschememapping", "latentstyles", "datastore", "xmlnstbl", "listtable",
        "listoverridetable", "rsidtbl", "generator", "filetbl", "revtbl", "pgdsctbl", "nonshppict", "shp", "shpinst",
        "fldtype", "annotation", "atnid", "atnauthor", "bkmkstart", "bkmkend", "xe", "tc", "private", "pn", "pntext",
        "mmathPr", "wgrffmtfilter", "operator", "author", "title", "subject", "keywords", "comment", "doccomm",
        "company", "falt", "panose", "fname", "expandedcolortbl", "listtext", "background", "sp", "sv", "docvar",
    };
    return names;
}

class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}

    AttributedString run() {
        size_t i = 0;
        while (i < data_.size() && (data_[i] == ' ' || data_[i] == '\r' || data_[i] == '\n' || data_[i] == '\t')) ++i;
        if (data_.substr(i, 5) != "{\\rtf") throw ConversionError::corruptFile("The document is not RTF");
        pos_ = i;
        while (pos_ < data_.size()) {
            char c = data_[pos_];
            if (c == '{') {
                ++pos_;
                flushBytes();
                skipPending_ = 0;
                dirty_ = true;
                if (stack_.size() >= maxGroupDepth) throw ConversionError::corruptFile("The RTF document nests too deeply");
                stack_.push_back(state());
            } else if (c == '}') {
                ++pos_;
                flushBytes();
                skipPending_ = 0;
                dirty_ = true;
                endGroup();
                if (stack_.empty()) break;  // the document group closed
            } else if (c == '\\') {
                controlSequence();
            } else if (c == '\r' || c == '\n') {
                ++pos_;
            } else {
                ++pos_;
                textByte(static_cast<unsigned char>(c));
            }
        }
        flushBytes();
        return std::move(out_);
    }

private:
    State& state() {
        if (stack_.empty()) stack_.push_back(State{});
        return stack_.back();
    }

    void endGroup() {
        if (stack_.empty()) return;
        State closing = stack_.back();
        stack_.pop_back();
        if (closing.destination == Destination::fontName) finishFontName();
        if (closing.destination == Destination::fieldInstruction && closing.field >= 0) parseFieldInstruction(fields_[closing.field]);
    }

    void controlSequence() {
        ++pos_;  // the backslash
        if (pos_ >= data_.size()) return;
        char c = data_[pos_];
        // Text gathered so far keeps the look it had before this control changes anything.
        if (c != '\'') {
            flushBytes();
            dirty_ = true;
        }
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            switch (c) {
                case '\\': case '{': case '}': textChar(static_cast<char16_t>(c)); break;
                case '~': textChar(0x00A0); break;
                case '_': textChar(0x2011); break;
                case '-': break;
                case '*': starred_ = true; break;
                case '\'': {
                    if (pos_ + 2 <= data_.size()) {
                        int hi = hex(data_[pos_]), lo = hex(data_[pos_ + 1]);
                        if (hi >= 0 && lo >= 0) {
                            pos_ += 2;
                            if (skipPending_ > 0) {
                                --skipPending_;
                            } else {
                                pendingBytes_.push_back(static_cast<char>(hi * 16 + lo));
                            }
                        }
                    }
                    break;
                }
                case '\r': case '\n': textChar('\n'); break;
                default: break;
            }
            return;
        }
        size_t start = pos_;
        while (pos_ < data_.size() && std::isalpha(static_cast<unsigned char>(data_[pos_])) && pos_ - start < 32) ++pos_;
        std::string word(data_.substr(start, pos_ - start));
        bool hasParam = false;
        long param = 0;
        bool negative = false;
        if (pos_ < data_.size() && data_[pos_] == '-') {
            negative = true;
            ++pos_;
        }
        size_t digits = 0;
        while (pos_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[pos_]))) {
            if (digits < 10) param = param * 10 + (data_[pos_] - '0');
            ++digits;
            ++pos_;
            hasParam = true;
        }
        if (negative) param = -param;
        if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;
        controlWord(word, hasParam, param);
    }

    void controlWord(const std::string& word, bool hasParam, long param) {
        bool starred = starred_;
        starred_ = false;
        State& s = state();
        if (word != "u" && word != "uc" && skipPending_ > 0 && word != "bin") {
            // A control word stands for one character of a \u fallback.
            --skipPending_;
            return;
        }
        if (s.destination == Destination::skip) return;
        if (word == "bin" && hasParam) {
            pos_ += std::min<size_t>(static_cast<size_t>(std::max<long>(param, 0)), data_.size() - pos_);
            return;
        }
        flushBytes();
        if (word == "fonttbl") { s.destination = Destination::fontTable; return; }
        if (word == "colortbl") { s.destination = Destination::colorTable; colorComponents_ = {}; return; }
        if (word == "field") { fields_.push_back(Field{}); s.field = static_cast<int>(fields_.size()) - 1; return; }
        if (word == "fldinst") { s.destination = Destination::fieldInstruction; return; }
        if (word == "fldrslt") { s.destination = Destination::fieldResult; return; }
        if (starred || skippedDestinations().count(word)) { s.destination = Destination::skip; return; }

        if (s.destination == Destination::fontTable || s.destination == Destination::fontName) {
            if (word == "f" && hasParam) {
                currentFont_ = static_cast<int>(param);
                fonts_.try_emplace(currentFont_);
                s.destination = Destination::fontName;
                fontName_.clear();
            } else if (word == "fmodern" || (word == "fprq" && param == 1)) {
                fonts_[currentFont_].monospace = true;
            } else if (word == "fcharset" && hasParam) {
                fonts_[currentFont_].codepage = charsetCodepage(static_cast<int>(param));
            }
            return;
        }
        if (s.destination == Destination::colorTable) {
            if (word == "red") colorComponents_.red = uint8_t(param);
            else if (word == "green") colorComponents_.green = uint8_t(param);
            else if (word == "blue") colorComponents_.blue = uint8_t(param);
            return;
        }
        if (word == "ansicpg" && hasParam) { codepage_ = static_cast<int>(param); return; }
        if (word == "mac") { codepage_ = 10000; return; }
        if (word == "deff" && hasParam) { defaultFont_ = static_cast<int>(param); return; }
        if (word == "uc" && hasParam) { s.unicodeSkip = static_cast<int>(std::max<long>(param, 0)); return; }
        if (word == "u" && hasParam) {
            flushBytes();
            long v = param < 0 ? param + 65536 : param;
            textChar(static_cast<char16_t>(v & 0xFFFF));
            skipPending_ = s.unicodeSkip;
            return;
        }
        if (word == "plain") {
            s.font = -1; s.size = 12; s.bold = false; s.italic = false; s.color = 0;
            return;
        }
        if (word == "f" && hasParam) { s.font = static_cast<int>(param); return; }
        if (word == "fs" && hasParam) { if (param > 0) s.size = param / 2.0; return; }
        if (word == "b") { s.bold = !hasParam || param != 0; return; }
        if (word == "i") { s.italic = !hasParam || param != 0; return; }
        if (word == "cf" && hasParam) { s.color = static_cast<int>(param); return; }
        if (word == "par" || word == "sect" || word == "page" || word == "line" || word == "row") { textChar('\n'); return; }
        if (word == "tab" || word == "cell") { textChar('\t'); return; }
        if (word == "emdash") { textChar(0x2014); return; }
        if (word == "endash") { textChar(0x2013); return; }
        if (word == "lquote") { textChar(0x2018); return; }
        if (word == "rquote") { textChar(0x2019); return; }
        if (word == "ldblquote") { textChar(0x201C); return; }
        if (word == "rdblquote") { textChar(0x201D); return; }
        if (word == "bullet") { textChar(0x2022); return; }
        if (word == "emspace" || word == "enspace" || word == "qmspace") { textChar(' '); return; }
    }

    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    static int charsetCodepage(int charset) {
        switch (charset) {
            case 0: return 1252;
            case 77: return 10000;
            case 128: return 932;
            case 129: return 949;
            case 134: return 936;
            case 136: return 950;
            case 161: return 1253;
            case 162: return 1254;
            case 177: return 1255;
            case 178: return 1256;
            case 186: return 1257;
            case 204: return 1251;
            case 238: return 1250;
            default: return 0;
        }
    }

    void textByte(unsigned char c) {
        State& s = state();
        if (s.destination == Destination::skip) return;
        if (skipPending_ > 0) {
            --skipPending_;
            return;
        }
        if (s.destination == Destination::fontName) {
            if (c == ';') finishFontName();
            else fontName_.push_back(static_cast<char>(c));
            return;
        }
        if (s.destination == Destination::colorTable) {
            if (c == ';') {
                colors_.push_back(colorComponents_);
                colorComponents_ = {};
            }
            return;
        }
        if (s.destination == Destination::fontTable) return;
        pendingBytes_.push_back(static_cast<char>(c));
    }

    void finishFontName() {
        auto& entry = fonts_[currentFont_];
        if (entry.name.empty()) {
            std::string name = fontName_;
            while (!name.empty() && name.back() == ' ') name.pop_back();
            entry.name = name;
        }
        fontName_.clear();
        if (state().destination == Destination::fontName) state().destination = Destination::fontTable;
    }

    int activeCodepage() const {
        int f = stack_.empty() ? -1 : stack_.back().font;
        if (f < 0) f = defaultFont_;
        auto it = fonts_.find(f);
        if (it != fonts_.end() && it->second.codepage != 0) return it->second.codepage;
        return codepage_;
    }

    void flushBytes() {
        if (pendingBytes_.empty()) return;
        std::string bytes;
        bytes.swap(pendingBytes_);
        QString decoded = decodeCodepage(bytes, activeCodepage());
        for (QChar ch : decoded) textChar(ch.unicode());
    }

    static QString decodeCodepage(const std::string& bytes, int codepage) {
        bool ascii = true;
        for (unsigned char c : bytes) ascii = ascii && c < 0x80;
        if (ascii) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        std::string name = codepage == 10000 ? "macintosh" : codepage > 0 ? "windows-" + std::to_string(codepage) : "windows-1252";
        UErrorCode status = U_ZERO_ERROR;
        UConverter* conv = ucnv_open(name.c_str(), &status);
        if (U_FAILURE(status)) {
            status = U_ZERO_ERROR;
            conv = ucnv_open("windows-1252", &status);
        }
        if (U_FAILURE(status)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        std::vector<UChar> buffer(bytes.size() * 2 + 4);
        int32_t n = ucnv_toUChars(conv, buffer.data(), static_cast<int32_t>(buffer.size()), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
        ucnv_close(conv);
        if (U_FAILURE(status)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        return QString(reinterpret_cast<const QChar*>(buffer.data()), n);
    }

    void textChar(char16_t c) {
        State& s = state();
        switch (s.destination) {
            case Destination::skip: case Destination::fontTable: case Destination::colorTable: return;
            case Destination::fontName: return;
            case Destination::fieldInstruction:
                if (s.field >= 0 && fields_[s.field].instruction.size() < 65536) fields_[s.field].instruction += QString(QChar(c)).toStdString();
                return;
            default: break;
        }
        if (c == '\r') return;
        if (c < 0x20 && c != '\n' && c != '\t') return;
        if (dirty_) {
            attributes_ = currentAttributes();
            dirty_ = false;
        }
        out_.append(QString(QChar(c)), attributes_);
    }

    Attributes currentAttributes() const {
        const State& s = stack_.back();
        Attributes a;
        Font font;
        font.pointSize = s.size;
        font.bold = s.bold;
        font.italic = s.italic;
        int f = s.font < 0 ? defaultFont_ : s.font;
        auto it = fonts_.find(f);
        if (it != fonts_.end()) {
            font.family = it->second.name;
            font.monospace = it->second.monospace;
        }
        if (font.family.empty()) font.family = systemFontFamily;
        a.font = font;
        // Entry 0 of the colour table is the automatic colour.
        if (s.color > 0 && static_cast<size_t>(s.color) < colors_.size()) a.foreground = colors_[s.color];
        for (auto st = stack_.rbegin(); st != stack_.rend(); ++st) {
            if (st->field >= 0) {
                if (s.destination == Destination::fieldResult) a.link = fields_[st->field].link;
                break;
            }
        }
        return a;
    }

    static void parseFieldInstruction(Field& field) {
        const std::string& in = field.instruction;
        size_t p = in.find("HYPERLINK");
        if (p == std::string::npos) return;
        p += 9;
        while (p < in.size() && in[p] == ' ') ++p;
        std::string url;
        if (p < in.size() && in[p] == '"') {
            size_t e = in.find('"', p + 1);
            url = in.substr(p + 1, e == std::string::npos ? std::string::npos : e - p - 1);
        } else {
            size_t e = in.find(' ', p);
            url = in.substr(p, e == std::string::npos ? std::string::npos : e - p);
        }
        if (!url.empty()) field.link = Link{Link::Kind::url, url};
    }

    std::string_view data_;
    size_t pos_ = 0;
    std::vector<State> stack_;
    AttributedString out_;
    std::map<int, FontEntry> fonts_;
    int currentFont_ = 0;
    std::string fontName_;
    std::vector<Color> colors_;
    Color colorComponents_;
    std::vector<Field> fields_;
    std::string pendingBytes_;
    int codepage_ = 1252;
    int defaultFont_ = 0;
    int skipPending_ = 0;
    bool starred_ = false;
    bool dirty_ = true;
    Attributes attributes_;
};

}  // namespace

AttributedString readRTF(std::string_view bytes) {
    return Reader(bytes).run();
}

}  // namespace calvoro::text
