// Drives the console offscreen and times what a user waits for.
//   window_bench <count> <folder>   makes <count> small files, adds them, then prints the 95th
//                                   percentile frame time in ms while scrolling and while typing
//                                   a search, and the ms to show the settings popover
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/console_settings_popover.h"
#include "app/ui/theme.h"

namespace fs = std::filesystem;
using namespace calvoro;
using Clock = std::chrono::steady_clock;

namespace {

double milliseconds(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

double percentile95(std::vector<double> samples) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, samples.size() * 95 / 100)];
}

// One frame: the change, then everything pending handled and the view drawn.
template <typename Change>
double frame(QWidget& view, QImage& canvas, Change change) {
    const auto start = Clock::now();
    change();
    QCoreApplication::processEvents();
    QPainter painter(&canvas);
    view.render(&painter);
    return milliseconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_bench <count> <folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    Theme::loadFonts();
    const int count = std::stoi(argv[1]);
    const fs::path folder = argv[2];
    fs::create_directories(folder);
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(folder / ("report-" + std::to_string(i) + ".csv"));
        std::ofstream(files.back()) << "a,b\n1,2\n";
    }

    ConversionViewModel viewModel;
    QWidget root;
    Theme::applyAppearance(&root, ColorScheme::dark, AccentChoice::paper);
    root.resize(1000, 760);
    auto* console = new ConsoleMain(viewModel, &root);
    console->resize(root.size());
    root.show();
    viewModel.addFiles(files);
    QCoreApplication::processEvents();
    QImage canvas(root.size() * 2, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2);

    std::vector<double> scrolling;
    QScrollBar* bar = console->jobList()->verticalScrollBar();
    for (int step = 0; step < 600; ++step)
        scrolling.push_back(frame(root, canvas, [&] { bar->setValue(bar->value() + 180); }));

    std::vector<double> typing;
    const QString query = QStringLiteral("report-12");
    for (int round = 0; round < 5; ++round) {
        for (const QChar c : query)
            typing.push_back(frame(root, canvas, [&] { QTest::keyClick(console->searchField(), c.toLatin1()); }));
        for (int i = 0; i < query.size(); ++i)
            typing.push_back(frame(root, canvas, [&] { QTest::keyClick(console->searchField(), Qt::Key_Backspace); }));
    }

    std::vector<double> opening;
    for (int round = 0; round < 10; ++round) {
        const auto start = Clock::now();
        auto* popover = new ConsoleSettingsPopover(viewModel, {}, &root);
        popover->resize(popover->sizeHint());
        popover->show();
        QCoreApplication::processEvents();
        QPainter painter(&canvas);
        popover->render(&painter);
        painter.end();
        opening.push_back(milliseconds(start));
        delete popover;
    }
    std::sort(opening.begin(), opening.end());
    std::printf("%.3f %.3f %.3f\n", percentile95(scrolling), percentile95(typing), opening[opening.size() / 2]);
    return 0;
}
