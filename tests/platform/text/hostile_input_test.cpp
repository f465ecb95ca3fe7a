#include <gtest/gtest.h>

#include <random>

#include "core/conversion_error.h"
#include "platform/text/docx.h"
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
    return s;
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
            readRTF(r);
        } catch (const ConversionError&) {
        }
        try {
            readDOCX(d);
        } catch (const ConversionError&) {
        }
    }
}
