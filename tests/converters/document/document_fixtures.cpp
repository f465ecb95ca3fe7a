#include "document_fixtures.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cstdlib>

#include "platform/qt/main_thread.h"

namespace calvoro::testing {

void makeTextPDF(const std::filesystem::path& path, const std::vector<std::string>& pages) {
    qtmain::runOnMain([&] {
        QPdfWriter writer(QString::fromStdString(path.string()));
        writer.setPageSize(QPageSize(QPageSize::Letter));
        writer.setResolution(72);
        QPainter painter(&writer);
        QFont font("DejaVu Sans");
        font.setPointSize(14);
        painter.setFont(font);
        for (size_t i = 0; i < pages.size(); ++i) {
            if (i > 0) writer.newPage();
            int y = 100;
            for (const auto& line : QString::fromStdString(pages[i]).split('\n')) {
                if (!line.isEmpty()) painter.drawText(72, y, line);
                y += 24;
            }
        }
        painter.end();
    });
}

int countTemporaryItems(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path dir = (tmp && *tmp) ? tmp : "/tmp";
    int n = 0;
    std::error_code ec;
    // Inside work folders too, where pages are written.
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
        if (e.path().filename().string().rfind(prefix, 0) == 0) ++n;
    return n;
}

}  // namespace calvoro::testing

namespace calvoro::testing {

ScopedTemporaryFolder::ScopedTemporaryFolder() {
    const char* old = std::getenv("TMPDIR");
    hadSaved_ = old != nullptr;
    if (old) saved_ = old;
    std::filesystem::path base = (old && *old) ? old : "/tmp";
    std::string tmpl = (base / "doc-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : base;
    setenv("TMPDIR", path_.c_str(), 1);
}

ScopedTemporaryFolder::~ScopedTemporaryFolder() {
    if (hadSaved_) setenv("TMPDIR", saved_.c_str(), 1);
    else unsetenv("TMPDIR");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace calvoro::testing
