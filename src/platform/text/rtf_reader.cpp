#include "platform/text/rtf.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/conversion_error.h"

namespace calvoro::text {

namespace {

constexpr size_t maxGroupDepth = 4096;

enum class Destination { text, fontTable, fontName, colorTable, fieldInstruction, fieldResult, listText, picture, skip };

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
    int note = -1;   // index of the footnote this group's text belongs to
    // Paragraph properties, reset by \pard.
    long leftIndent = 0, firstIndent = 0;
    bool inTable = false;
    int listLevel = 0;
    bool listed = false;  // \ls
};

// Picture properties of a \pict group.
struct PictureState {
    std::string mimeType;
    long goalWidth = 0, goalHeight = 0, scaleX = 100, scaleY = 100;
    std::string hex;
};

// Text being made: finished paragraphs and the paragraph still open.
struct Sink {
    AttributedString done;
    AttributedString paragraph;
    bool hasParagraphs = false;
};

struct Field {
    std::string instruction;
    std::optional<Link> link;
    bool hasResult = false;
};

// What a field without a result shows: the display text of a button field (the words after its
// macro or bookmark name), as word processors show it; nothing for any other field.
std::string displayText(const std::string& instruction) {
    const size_t n = instruction.size();
    auto blank = [&](size_t i) { return instruction[i] == ' ' || instruction[i] == '\t'; };
    auto skipBlanks = [&](size_t i) {
        while (i < n && blank(i)) ++i;
        return i;
    };
    auto wordEnd = [&](size_t i) {
        while (i < n && !blank(i)) ++i;
        return i;
    };
    const size_t kind = skipBlanks(0), kindEnd = wordEnd(kind);
    const std::string name = instruction.substr(kind, kindEnd - kind);
    if (name != "MACROBUTTON" && name != "GOTOBUTTON") return {};
    return instruction.substr(skipBlanks(wordEnd(skipBlanks(kindEnd))));
}

const std::set<std::string>& skippedDestinations() {
    static const std::set<std::string> names{
        "info", "stylesheet", "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf", "pict",
        "object", "themedata", "colorschememapping", "latentstyles", "datastore", "xmlnstbl", "listtable",
        "listoverridetable", "rsidtbl", "generator", "filetbl", "revtbl", "pgdsctbl", "nonshppict", "shprslt",
        "fldtype", "annotation", "atnid", "atnauthor", "bkmkstart", "bkmkend", "xe", "tc", "private", "pn",
        "mmathPr", "wgrffmtfilter", "operator", "author", "title", "subject", "keywords", "comment", "doccomm",
        "company", "falt", "panose", "fname", "expandedcolortbl", "background", "sp", "sv", "docvar",
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
        if (body_.hasParagraphs || !body_.paragraph.empty()) endParagraph(false);
        return finish();
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
        if (closing.field >= 0 && (stack_.empty() || stack_.back().field != closing.field)) finishField(closing);
        if (closing.destination == Destination::picture && (stack_.empty() || stack_.back().destination != Destination::picture)) finishPicture(closing);
        if (closing.destination == Destination::listText && (stack_.empty() || stack_.back().destination != Destination::listText))
            listTextSeen_ = true;
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
                case '\'': hexByte(); break;
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

    // The two hex digits after \' are one byte of the source's code page, unless it stands in
    // for a Unicode character just read.
    void hexByte() {
        if (pos_ + 2 > data_.size()) return;
        int hi = hex(data_[pos_]), lo = hex(data_[pos_ + 1]);
        if (hi < 0 || lo < 0) return;
        pos_ += 2;
        if (skipPending_ > 0) --skipPending_;
        else pendingBytes_.push_back(static_cast<char>(hi * 16 + lo));
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
        if (startDestination(s, word)) return;
        if (starred || skippedDestinations().count(word)) { s.destination = Destination::skip; return; }
        switch (s.destination) {
            case Destination::picture: pictureWord(word, param); return;
            case Destination::fontTable: case Destination::fontName: fontTableWord(s, word, hasParam, param); return;
            case Destination::colorTable: colorTableWord(word, param); return;
            default: break;
        }
        if (encodingWord(s, word, hasParam, param) || characterWord(s, word, hasParam, param) || paragraphWord(s, word, hasParam, param))
            return;
        textWord(s, word);
    }

    // Words that begin a destination of their own in the current group.
    bool startDestination(State& s, const std::string& word) {
        if (word == "fonttbl") { s.destination = Destination::fontTable; return true; }
        if (word == "colortbl") { s.destination = Destination::colorTable; colorComponents_ = {}; return true; }
        if (word == "field") { fields_.push_back(Field{}); s.field = static_cast<int>(fields_.size()) - 1; return true; }
        if (word == "fldinst") { s.destination = Destination::fieldInstruction; return true; }
        if (word == "fldrslt") {
            s.destination = Destination::fieldResult;
            if (s.field >= 0) fields_[s.field].hasResult = true;
            return true;
        }
        if (word == "footnote") {
            // Body notes only: a note inside a note is left out.
            if (s.note >= 0) { s.destination = Destination::skip; return true; }
            notes_.emplace_back();
            s.note = static_cast<int>(notes_.size()) - 1;
            s.destination = Destination::text;
            return true;
        }
        if (word == "listtext" || word == "pntext") { s.destination = Destination::listText; listMarker_.clear(); return true; }
        if (word == "pict") {
            s.destination = Destination::picture;
            picture_ = PictureState{};
            return true;
        }
        // \shppict holds the \pict that Word writes for pictures. A shape's text is read where the
        // shape stands; its result (\shprslt, skipped) repeats the shape for older readers.
        if (word == "shptxt") { s.destination = Destination::text; return true; }
        return word == "shppict" || word == "shp" || word == "shpinst";
    }

    void pictureWord(const std::string& word, long param) {
        if (word == "pngblip") picture_.mimeType = "image/png";
        else if (word == "jpegblip") picture_.mimeType = "image/jpeg";
        else if (word == "picwgoal") picture_.goalWidth = param;
        else if (word == "pichgoal") picture_.goalHeight = param;
        else if (word == "picscalex" && param > 0) picture_.scaleX = param;
        else if (word == "picscaley" && param > 0) picture_.scaleY = param;
    }

    void fontTableWord(State& s, const std::string& word, bool hasParam, long param) {
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
    }

    void colorTableWord(const std::string& word, long param) {
        if (word == "red") colorComponents_.red = uint8_t(param);
        else if (word == "green") colorComponents_.green = uint8_t(param);
        else if (word == "blue") colorComponents_.blue = uint8_t(param);
    }

    // Code pages, the default font, and characters by their Unicode number.
    bool encodingWord(State& s, const std::string& word, bool hasParam, long param) {
        if (word == "ansicpg" && hasParam) { codepage_ = static_cast<int>(param); return true; }
        if (word == "mac") { codepage_ = 10000; return true; }
        if (word == "deff" && hasParam) { defaultFont_ = static_cast<int>(param); return true; }
        if (word == "uc" && hasParam) { s.unicodeSkip = static_cast<int>(std::max<long>(param, 0)); return true; }
        if (word == "u" && hasParam) {
            flushBytes();
            long v = param < 0 ? param + 65536 : param;
            textChar(static_cast<char16_t>(v & 0xFFFF));
            skipPending_ = s.unicodeSkip;
            return true;
        }
        return false;
    }

    bool characterWord(State& s, const std::string& word, bool hasParam, long param) {
        if (word == "plain") {
            s.font = -1; s.size = 12; s.bold = false; s.italic = false; s.color = 0;
            return true;
        }
        if (word == "f" && hasParam) { s.font = static_cast<int>(param); return true; }
        if (word == "fs" && hasParam) { if (param > 0) s.size = param / 2.0; return true; }
        if (word == "b") { s.bold = !hasParam || param != 0; return true; }
        if (word == "i") { s.italic = !hasParam || param != 0; return true; }
        if (word == "cf" && hasParam) { s.color = static_cast<int>(param); return true; }
        return false;
    }

    bool paragraphWord(State& s, const std::string& word, bool hasParam, long param) {
        if (word == "pard") {
            s.leftIndent = s.firstIndent = 0;
            s.inTable = false;
            s.listLevel = 0;
            s.listed = false;
            return true;
        }
        if (word == "li" && hasParam) { s.leftIndent = param; return true; }
        if (word == "fi" && hasParam) { s.firstIndent = param; return true; }
        if (word == "intbl") { s.inTable = true; return true; }
        if (word == "ls" && hasParam) { s.listed = true; return true; }
        if (word == "ilvl" && hasParam) { s.listLevel = static_cast<int>(std::clamp<long>(param, 0, 8)); return true; }
        return false;
    }

    // Breaks, note marks and the words that stand for a character.
    void textWord(const State& s, const std::string& word) {
        if (word == "chftn") {
            // In the body the mark of the note that follows; in the note itself its own mark, which
            // the note's paragraph is given when the notes are put after the body.
            if (s.note < 0 && s.destination == Destination::text) {
                textString(QString::fromStdString("[" + std::to_string(notes_.size() + 1) + "]"));
            }
            return;
        }
        if (word == "par" || word == "sect" || word == "page") { if (acceptsText()) endParagraph(false); return; }
        if (word == "line") { textChar('\n'); return; }
        if (word == "cell") { if (acceptsText()) endParagraph(true); return; }
        if (word == "row") { if (acceptsText()) { ++row_; column_ = 0; } return; }
        if (word == "tab") { textChar('\t'); return; }
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
        if (s.destination == Destination::picture) {
            if (std::isxdigit(c)) picture_.hex.push_back(static_cast<char>(c));
            return;
        }
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
        if (s.destination == Destination::listText) {
            if (c != '\t') listMarker_ += QChar(c);
            return;
        }
        if (s.destination == Destination::picture) return;
        if (dirty_) {
            attributes_ = currentAttributes();
            dirty_ = false;
        }
        Sink& sink = currentSink();
        if (sink.paragraph.empty() && &sink == &body_) beginListItem();
        sink.paragraph.append(QString(QChar(c)), attributes_);
    }

    void textString(const QString& text) {
        for (QChar ch : text) textChar(ch.unicode());
    }

    bool acceptsText() {
        Destination d = state().destination;
        return d == Destination::text || d == Destination::fieldResult;
    }

    Sink& currentSink() {
        int note = stack_.empty() ? -1 : stack_.back().note;
        return note >= 0 ? notes_[note] : body_;
    }

    // "1.", "a)", "iv." and the like; "o" alone is a bullet.
    static bool isNumberMarker(const QString& marker) {
        return marker.size() >= 2 && (marker.back() == '.' || marker.back() == ')') && marker[0].isLetterOrNumber();
    }

    // A list paragraph of Word's kind (\ls, \ilvl, its marker in \listtext) begins with the
    // marker of its level, written before its first character.
    void beginListItem() {
        const State& s = state();
        if (!s.listed && !listTextSeen_) return;
        if (listPrefixWritten_) return;
        listPrefixWritten_ = true;
        QString marker = listMarker_.trimmed();
        bool ordered = isNumberMarker(marker);
        int level = s.listLevel;
        auto& counts = listCounts_;
        counts.resize(9, 0);
        ++counts[level];
        for (int deeper = level + 1; deeper < 9; ++deeper) counts[deeper] = 0;
        QString prefix = ordered ? QString(level, QChar('\t')) + marker + QLatin1Char('\t') : listItemPrefix(level, false, counts[level]);
        listBlock_ = Block{};
        listBlock_.listLevel = level;
        listBlock_.ordered = ordered;
        listBlock_.markerLength = static_cast<int>(prefix.size());
        Attributes a = currentAttributes();
        a.link.reset();
        body_.paragraph.append(prefix, a);
    }

    // A paragraph that begins with a bullet or a number and a tab, hanging from a left indent, is
    // a list item whose level follows its indent among the items around it.
    void recogniseIndentedItem(Block& block, const State& s) {
        const QString& text = body_.paragraph.characters();
        qsizetype tab = text.indexOf(QChar('\t'));
        if (s.leftIndent <= 0 || s.firstIndent >= 0 || tab < 1 || tab > 4) {
            indents_.clear();
            return;
        }
        QString marker = text.left(tab);
        static const QString bullets = QStringLiteral("\u2022\u25E6\u25AA\u25CF\u25CB\u2013\u2014\u00B7-*+");
        bool bullet = marker.size() == 1 && bullets.contains(marker[0]);
        bool ordered = !bullet && isNumberMarker(marker);
        if (!bullet && !ordered) {
            indents_.clear();
            return;
        }
        while (!indents_.empty() && indents_.back() > s.leftIndent) indents_.pop_back();
        if (indents_.empty() || indents_.back() < s.leftIndent) indents_.push_back(s.leftIndent);
        int level = static_cast<int>(indents_.size()) - 1;
        QString prefix = ordered ? QString(level, QChar('\t')) + marker + QLatin1Char('\t') : listItemPrefix(level, false, 1);
        AttributedString rebuilt;
        rebuilt.append(prefix, *body_.paragraph.attributesAt(0));
        for (const Run& run : body_.paragraph.runs(static_cast<int>(tab) + 1, body_.paragraph.length() - static_cast<int>(tab) - 1))
            rebuilt.append(text.mid(run.location, run.length), run.attributes);
        body_.paragraph = std::move(rebuilt);
        block.listLevel = level;
        block.ordered = ordered;
        block.markerLength = static_cast<int>(prefix.size());
    }

    // Ends the open paragraph of the current text (at \par, or at \cell for a table cell).
    void endParagraph(bool cell) {
        Sink& sink = currentSink();
        const State& s = state();
        Block block;
        if (&sink == &body_) {
            if (listPrefixWritten_) block = listBlock_;
            else recogniseIndentedItem(block, s);
            if (s.inTable || cell) {
                if (!inTable_) {
                    inTable_ = true;
                    table_ = tables_++;
                    row_ = column_ = 0;
                }
                block.table = table_;
                block.row = row_;
                block.column = column_;
            } else {
                inTable_ = false;
            }
        }
        // A cell whose last paragraph already ended gives no empty paragraph of its own.
        bool skip = cell && sink.paragraph.empty() && lastCell_ == std::make_tuple(table_, row_, column_);
        if (!skip) {
            if (sink.hasParagraphs) sink.done.append(QStringLiteral("\n"), lastAttributes(sink));
            sink.hasParagraphs = true;
            if (block.table >= 0) lastCell_ = std::make_tuple(block.table, block.row, block.column);
            const int first = sink.done.paragraphCount() - 1;
            for (const Run& run : sink.paragraph.runs()) sink.done.append(sink.paragraph.characters().mid(run.location, run.length), run.attributes);
            // Pieces after a \line stay in the cell; the marker is the first piece's.
            sink.done.setBlock(first, block);
            Block rest = block;
            rest.listLevel = -1;
            rest.ordered = false;
            rest.markerLength = 0;
            for (int i = first + 1; i < sink.done.paragraphCount(); ++i) sink.done.setBlock(i, rest);
        }
        sink.paragraph = AttributedString();
        if (&sink == &body_) {
            listPrefixWritten_ = listTextSeen_ = false;
            listMarker_.clear();
        }
        if (cell) ++column_;
    }

    Attributes lastAttributes(const Sink& sink) {
        const Attributes* a = sink.done.empty() ? nullptr : sink.done.attributesAt(sink.done.length() - 1);
        Attributes out = a ? *a : currentAttributes();
        out.picture.reset();
        out.link.reset();
        return out;
    }

    void finishPicture(const State& closing) {
        if (picture_.mimeType.empty() || picture_.hex.size() < 16) return;
        auto picture = std::make_shared<Picture>();
        picture->bytes.reserve(picture_.hex.size() / 2);
        for (size_t i = 0; i + 1 < picture_.hex.size(); i += 2)
            picture->bytes.push_back(static_cast<uint8_t>(hex(picture_.hex[i]) * 16 + hex(picture_.hex[i + 1])));
        auto type = pictureMimeType(picture->bytes);
        if (!type) return;
        picture->mimeType = *type;
        picture->width = picture_.goalWidth / 20.0 * picture_.scaleX / 100.0;  // twips
        picture->height = picture_.goalHeight / 20.0 * picture_.scaleY / 100.0;
        completePictureSize(*picture);
        stack_.push_back(closing);
        stack_.back().destination = Destination::text;
        Attributes a = currentAttributes();
        stack_.pop_back();
        a.picture = std::move(picture);
        Sink& sink = currentSink();
        if (sink.paragraph.empty() && &sink == &body_) beginListItem();
        sink.paragraph.append(QString(QChar(attachmentCharacter)), a);
        dirty_ = true;
    }

    // A field's group has closed: one without a result shows its display text, in the field
    // group's own look.
    void finishField(const State& closing) {
        const Field& field = fields_[closing.field];
        if (field.hasResult || (closing.destination != Destination::text && closing.destination != Destination::fieldResult)) return;
        const std::string shown = displayText(field.instruction);
        if (shown.empty()) return;
        stack_.push_back(closing);
        stack_.back().field = -1;
        dirty_ = true;
        textString(QString::fromStdString(shown));
        stack_.pop_back();
        dirty_ = true;
    }

    // The body, then each note after its mark.
    AttributedString finish() {
        AttributedString out = std::move(body_.done);
        for (size_t i = 0; i < notes_.size(); ++i) {
            Sink& note = notes_[i];
            if (!note.paragraph.empty()) {
                if (note.hasParagraphs) note.done.append(QStringLiteral("\n"), lastAttributes(note));
                for (const Run& run : note.paragraph.runs()) note.done.append(note.paragraph.characters().mid(run.location, run.length), run.attributes);
            }
            const QString& chars = note.done.characters();
            int from = 0, to = note.done.length();
            while (from < to && chars[from].isSpace()) ++from;
            while (to > from && chars[to - 1].isSpace()) --to;
            if (to == from) continue;
            Attributes a = *note.done.attributesAt(from);
            a.link.reset();
            a.picture.reset();
            if (!out.empty()) out.append(QStringLiteral("\n"), a);
            out.append(QString::fromStdString("[" + std::to_string(i + 1) + "] "), a);
            for (const Run& run : note.done.runs(from, to - from)) out.append(chars.mid(run.location, run.length), run.attributes);
        }
        return out;
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
    Sink body_;
    std::vector<Sink> notes_;
    PictureState picture_;
    QString listMarker_;
    bool listTextSeen_ = false, listPrefixWritten_ = false;
    Block listBlock_;
    std::vector<int> listCounts_;
    std::vector<long> indents_;
    bool inTable_ = false;
    int tables_ = 0, table_ = -1, row_ = 0, column_ = 0;
    std::tuple<int, int, int> lastCell_{-1, -1, -1};
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
