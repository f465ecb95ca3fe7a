#pragma once

// pandoc's DOCX and RTF of one Markdown text with headings, a footnote, a nested list, a table
// and a picture: documents made by another program, for the readers and the converters. For
// Qt test programs (the picture is drawn with QImage).
#include <QBuffer>
#include <QImage>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace calvoro::testing {

// A 100 x 50 red PNG.
inline std::vector<uint8_t> redPNG() {
    QImage image(100, 50, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return {bytes.begin(), bytes.end()};
}

struct PandocSamples {
    TempDir dir;
    std::vector<uint8_t> png = redPNG();
    // For ASSERT_TRUE: whether pandoc made both documents, else why not.
    ::testing::AssertionResult made = peerInstalled("pandoc");

    PandocSamples() {
        if (!made) return;
        writeFile(dir / "red.png", png);
        writeFile(dir / "d.md", std::string("# Level one\n\n## Level two\n\n### Level three\n\nBody text.[^n]\n\n"
                                            "- bullet A\n    - nested B\n\n| H1 | H2 |\n|----|----|\n| c1 | c2 |\n\n"
                                            "![cap](red.png)\n\n[^n]: Footnote body zebra.\n"));
        const std::string cd = "cd " + shellQuote(dir.path().string()) + " && ";
        for (const char* command : {"pandoc d.md -o d.docx", "pandoc d.md -s -o d.rtf"}) {
            const CommandResult r = run(cd + command);
            if (r.status != 0) {
                made = ::testing::AssertionFailure() << command << " failed: " << r.output;
                return;
            }
        }
    }

    // d.docx or d.rtf.
    std::filesystem::path document(const std::string& extension) const { return dir / ("d." + extension); }
};

}  // namespace calvoro::testing
