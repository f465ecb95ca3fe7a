#include "platform/text/attributed_string.h"

#include <algorithm>

namespace calvoro::text {

Font systemFont(double pointSize) {
    Font f;
    f.pointSize = pointSize;
    f.family = systemFontFamily;
    return f;
}

Font monospacedSystemFont(double pointSize) {
    Font f;
    f.pointSize = pointSize;
    f.monospace = true;
    f.family = monospacedFontFamily;
    return f;
}

AttributedString AttributedString::plain(std::string_view utf8, const Attributes& attributes) {
    AttributedString s;
    s.append(utf8, attributes);
    return s;
}

void AttributedString::append(std::string_view utf8, const Attributes& attributes) {
    append(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())), attributes);
}

void AttributedString::append(const QString& characters, const Attributes& attributes) {
    if (characters.isEmpty()) return;
    int location = length();
    characters_.append(characters);
    lineFeeds_ += static_cast<int>(characters.count(QChar('\n')));
    if (!runs_.empty() && runs_.back().attributes == attributes) {
        runs_.back().length += static_cast<int>(characters.size());
    } else {
        runs_.push_back(Run{location, static_cast<int>(characters.size()), attributes});
    }
}

std::string AttributedString::plainText() const {
    // A picture's placeholder has no text of its own.
    if (!characters_.contains(QChar(attachmentCharacter))) return characters_.toStdString();
    return QString(characters_).remove(QChar(attachmentCharacter)).toStdString();
}

std::vector<Run> AttributedString::runs(int location, int len) const {
    std::vector<Run> out;
    int end = location + len;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), location, [](int pos, const Run& r) { return pos < r.location + r.length; });
    for (; it != runs_.end() && it->location < end; ++it) {
        int s = std::max(it->location, location), e = std::min(it->location + it->length, end);
        if (e > s) out.push_back(Run{s, e - s, it->attributes});
    }
    return out;
}

const Attributes* AttributedString::attributesAt(int position) const {
    if (position < 0 || position >= length()) return nullptr;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), position, [](int pos, const Run& r) { return pos < r.location + r.length; });
    return it == runs_.end() ? nullptr : &it->attributes;
}

void AttributedString::setBlock(int paragraph, const Block& block) {
    if (block == Block{}) blocks_.erase(paragraph);
    else blocks_[paragraph] = block;
}

const Block* AttributedString::block(int paragraph) const {
    auto it = blocks_.find(paragraph);
    return it == blocks_.end() ? nullptr : &it->second;
}

std::optional<std::string> pictureMimeType(const std::vector<uint8_t>& bytes) {
    static const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() > 8 && std::equal(png, png + 8, bytes.begin())) return "image/png";
    if (bytes.size() > 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return "image/jpeg";
    return std::nullopt;
}

namespace {

uint32_t bigEndian(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

// Pixel width and height from a PNG header or a JPEG frame header; zeros when not found. Read
// here rather than by an image reader, which would bring the GUI library to every conversion.
std::pair<uint32_t, uint32_t> pixelSize(const std::vector<uint8_t>& b) {
    if (b.size() >= 24 && b[0] == 0x89 && b[1] == 'P') return {bigEndian(b, 16, 4), bigEndian(b, 20, 4)};
    for (size_t i = 2; i + 9 < b.size();) {
        if (b[i] != 0xFF) return {0, 0};
        uint8_t marker = b[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) return {bigEndian(b, i + 7, 2), bigEndian(b, i + 5, 2)};
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            i += 2;
            continue;
        }
        i += 2 + bigEndian(b, i + 2, 2);
    }
    return {0, 0};
}

}  // namespace

void completePictureSize(Picture& picture) {
    if (picture.width > 0 && picture.height > 0) return;
    auto [width, height] = pixelSize(picture.bytes);
    picture.width = width > 0 ? width * 0.75 : 72;
    picture.height = height > 0 ? height * 0.75 : 72;
}

std::map<int, std::pair<int, int>> tableSizes(const AttributedString& text) {
    std::map<int, std::pair<int, int>> sizes;
    for (int p = 0; p < text.paragraphCount(); ++p)
        if (const Block* b = text.block(p); b && b->table >= 0) {
            auto& [rows, columns] = sizes[b->table];
            rows = std::max(rows, b->row + 1);
            columns = std::max(columns, b->column + 1);
        }
    return sizes;
}

QString listMarker(int level, bool ordered, int number) {
    if (ordered) return QString::number(number) + QLatin1Char('.');
    static const char16_t bullets[] = {0x2022, 0x25E6, 0x25AA};
    return QString(QChar(bullets[std::max(level, 0) % 3]));
}

QString listItemPrefix(int level, bool ordered, int number) {
    return QString(std::max(level, 0), QChar('\t')) + listMarker(level, ordered, number) + QLatin1Char('\t');
}

}  // namespace calvoro::text
