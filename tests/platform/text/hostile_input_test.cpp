#include <gtest/gtest.h>

#include <random>

#include "core/conversion_error.h"
#include "platform/text/docx.h"
#include "platform/text/html.h"
#include "platform/text/rtf.h"

using namespace calvoro;
using namespace calvoro::text;

namespace {

AttributedString sample() {
    Attributes a;
    a.font = systemFont(12);
    Attributes link = a;
    link.link = Link{Link::Kind::url, "http://x.org/"};
    AttributedString s;
    s.append("Some caf\xC3\xA9 text {with} \\ braces\n", a);
    s.append("linked", link);
    // A list, a table and a picture, so that damage reaches their syntax too.
    s.append("\n" + listItemPrefix(1, true, 1), a);
    s.setBlock({1, true, 4});
    s.append("item\nx", a);
    Block cell;
    cell.table = 0;
    cell.column = 1;
    s.setBlock(cell);
    s.append("\n", a);
    auto picture = std::make_shared<Picture>();
    picture->bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    picture->mimeType = "image/png";
    picture->width = picture->height = 10;
    Attributes withPicture = a;
    withPicture.picture = picture;
    s.append(QString(QChar(attachmentCharacter)), withPicture);
    return s;
}

// Whatever was read can be written again.
void writeAll(const AttributedString& s) {
    writeRTF(s);
    writeDOCX(s);
    writeHTML(s);
}

}  // namespace

// Damaged documents either read or fail with a ConversionError; nothing else escapes.
TEST(HostileInput, MutatedRTFAndDOCX) {
    std::mt19937 random(1234);
    std::string rtf = writeRTF(sample());
    auto docx = writeDOCX(sample());
    for (int round = 0; round < 300; ++round) {
        std::string r = rtf;
        std::vector<uint8_t> d = docx;
        for (int k = 0; k < 4; ++k) {
            r[random() % r.size()] = static_cast<char>(random() % 256);
            d[random() % d.size()] = static_cast<uint8_t>(random() % 256);
        }
        r.resize(random() % (r.size() + 1));
        try {
            writeAll(readRTF(r));
        } catch (const ConversionError&) {
        }
        try {
            writeAll(readDOCX(d));
        } catch (const ConversionError&) {
        }
    }
}
