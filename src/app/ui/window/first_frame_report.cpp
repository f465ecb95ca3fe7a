#include "app/ui/window/first_frame_report.h"

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace calvoro {

void FirstFrameReport::watch(QWidget* window, std::function<bool()> ready) {
    const char* value = std::getenv("CALVORO_REPORT_FIRST_FRAME");
    if (!value || !*value) return;
    new FirstFrameReport(window, std::move(ready), std::strcmp(value, "quit") == 0);
}

FirstFrameReport::FirstFrameReport(QWidget* window, std::function<bool()> ready, bool quit)
    : QObject(window), window_(window), ready_(std::move(ready)), quit_(quit) {
    // Opaque children cover the window itself, which then never paints: any widget of it counts.
    qApp->installEventFilter(this);
}

double FirstFrameReport::millisecondsSinceProcessStart() {
    // Field 22 of /proc/self/stat: the start in clock ticks since boot; the command name
    // (field 2) may hold spaces, so counting starts after its closing parenthesis.
    std::ifstream in("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), {});
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i < 22 && fields >> field; ++i) {}
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks)) return -1;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool FirstFrameReport::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !reported_ && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == window_ && ready_()) {
        reported_ = true;
        qApp->removeEventFilter(this);
        // The frame reaches the screen when this paint pass ends; the report waits for that.
        QTimer::singleShot(0, this, [this] {
            std::fprintf(stderr, "first frame: %.1f ms\n", millisecondsSinceProcessStart());
            std::fflush(stderr);
            if (quit_) QApplication::exit(0);
        });
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace calvoro
