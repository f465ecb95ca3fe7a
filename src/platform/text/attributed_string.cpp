#include "platform/text/attributed_string.h"

#include <QBuffer>
#include <QImageReader>

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

void completePictureSize(Picture& picture) {
    if (picture.width > 0 && picture.height > 0) return;
    QByteArray bytes(reinterpret_cast<const char*>(picture.bytes.data()), static_cast<qsizetype>(picture.bytes.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    QSize size = reader.size();
    picture.width = size.width() > 0 ? size.width() * 0.75 : 72;
    picture.height = size.height() > 0 ? size.height() * 0.75 : 72;
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
