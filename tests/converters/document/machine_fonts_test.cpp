// PDFs the program draws set their text in the families it names, so what this machine's
// fontconfig calls "monospace", "sans-serif" or "serif" changes nothing: the program converts
// under a configuration that maps those names to FreeFont's families, and the PDFs must still
// embed DejaVu and keep the same page count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "support/test_support.h"

using namespace calvoro::testing;

TEST(MachineFonts, TestsSeeOnlyTheFontsOfThePackagesSetupInstalls) {
    ASSERT_TRUE(peerInstalled("fc-list"));
    const char* conf = std::getenv("FONTCONFIG_FILE");
    ASSERT_TRUE(conf && *conf);
    const auto listed = run("fc-list : file").output;
    const std::vector<std::string> folders{"/usr/share/fonts/truetype/dejavu/", "/usr/share/fonts/opentype/freefont/",
                                           "/usr/share/fonts/opentype/inter/",
                                           "/usr/share/fonts/truetype/material-design-icons-iconfont/"};
    size_t files = 0;
    for (size_t start = 0, end; start < listed.size(); start = end + 1) {
        end = listed.find('\n', start);
        if (end == std::string::npos) end = listed.size();
        const std::string line = listed.substr(start, end - start);
        if (line.empty()) continue;
        ++files;
        EXPECT_TRUE(std::any_of(folders.begin(), folders.end(), [&](const std::string& f) { return line.rfind(f, 0) == 0; }))
            << line;
    }
    EXPECT_GT(files, 0u);
    for (const auto& [generic, family] : {std::pair{"monospace", "DejaVu Sans Mono"}, {"sans-serif", "DejaVu Sans"}, {"serif", "DejaVu Serif"}})
        EXPECT_NE(run(std::string("fc-match ") + generic).output.find(std::string("\"") + family + "\""), std::string::npos) << generic;
}

#ifdef CALVORO_BINARY
namespace {

// The tests' own configuration with every generic name sent to FreeFont first.
std::filesystem::path skewedConfiguration(const TempDir& dir) {
    const char* tests = std::getenv("FONTCONFIG_FILE");
    std::string conf = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n";
    if (tests && *tests) conf += std::string("<include ignore_missing=\"no\">") + tests + "</include>\n";
    else conf += "<include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n";
    for (const auto& [generic, family] : {std::pair{"monospace", "FreeMono"}, {"sans-serif", "FreeSans"}, {"serif", "FreeSerif"}})
        conf += std::string("<match target=\"pattern\"><test name=\"family\"><string>") + generic +
                "</string></test><edit name=\"family\" mode=\"prepend_first\" binding=\"strong\"><string>" + family +
                "</string></edit></match>\n";
    conf += "</fontconfig>\n";
    writeFile(dir / "skewed.conf", conf);
    return dir / "skewed.conf";
}

struct Converted {
    std::string fonts;  // pdffonts' table
    std::string pages;
};

Converted convert(const std::filesystem::path& source, const std::filesystem::path& out, const std::string& environment) {
    std::filesystem::create_directories(out);
    const auto r = run(environment + " QT_QPA_PLATFORM=offscreen " + shellQuote(CALVORO_BINARY) + " --convert " +
                       shellQuote(source.string()) + " pdf " + shellQuote(out.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    const auto pdf = out / (source.stem().string() + ".pdf");
    const auto info = run("pdfinfo " + shellQuote(pdf.string())).output;
    const auto at = info.find("Pages:");
    return {run("pdffonts " + shellQuote(pdf.string())).output,
            at == std::string::npos ? "" : info.substr(at, info.find('\n', at) - at)};
}

}  // namespace

TEST(MachineFonts, GenericNamesMappedElsewhereChangeNoPDF) {
    ASSERT_TRUE(peerInstalled("pdffonts"));
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    ASSERT_TRUE(peerInstalled("fc-match"));
    TempDir dir;
    const auto skewed = skewedConfiguration(dir);
    // The configuration does what it says, or the test proves nothing.
    ASSERT_NE(run("FONTCONFIG_FILE=" + shellQuote(skewed.string()) + " fc-match monospace").output.find("FreeMono"),
              std::string::npos);
    const std::string skew = "FONTCONFIG_FILE=" + shellQuote(skewed.string());

    std::string text;
    for (int i = 1; i <= 200; ++i) text += "line " + std::to_string(i) + "\n";
    writeFile(dir / "notes.txt", text);
    const auto plain = convert(dir / "notes.txt", dir / "plain", "");
    const auto moved = convert(dir / "notes.txt", dir / "moved", skew);
    EXPECT_NE(moved.fonts.find("DejaVuSansMono"), std::string::npos) << moved.fonts;
    EXPECT_EQ(moved.fonts.find("Free"), std::string::npos) << moved.fonts;
    EXPECT_EQ(moved.pages, plain.pages);

    writeFile(dir / "page.html", std::string("<!DOCTYPE html><html><body><p style=\"font-family:monospace\">code</p>"
                                             "<p style=\"font-family:sans-serif\">prose</p><p>plain</p></body></html>"));
    const auto web = convert(dir / "page.html", dir / "web", skew);
    EXPECT_NE(web.fonts.find("DejaVuSansMono"), std::string::npos) << web.fonts;
    EXPECT_NE(web.fonts.find("DejaVuSans"), std::string::npos) << web.fonts;
    EXPECT_EQ(web.fonts.find("Free"), std::string::npos) << web.fonts;
}
#endif
