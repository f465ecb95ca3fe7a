#include "platform/web/web_engine.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdlib>
#include <mutex>
#include <string>
#include <unistd.h>

namespace calvoro::web {
namespace {

// Printing a long page frees and regrows the renderer's heap many times; trimming it back
// each time (page faults, TLB flushes on every core) was half of the printing time. The
// engine's own processes, started after this, keep up to 16 MB of free heap instead.
// glibc reads this when a process starts: this one is unchanged, programs started from
// it later inherit the setting.
void keepRendererHeap() {
    const std::string tunable = "glibc.malloc.trim_threshold=16777216";
    std::string tunables;
    if (const char* existing = std::getenv("GLIBC_TUNABLES")) tunables = existing;
    if (tunables.find("glibc.malloc.trim_threshold=") != std::string::npos) return;
    tunables = tunables.empty() ? tunable : tunables + ":" + tunable;
    setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
}

}  // namespace

void prepareWebEngine() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::string flags;
        if (const char* existing = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS")) flags = existing;
        auto add = [&](const std::string& flag) {
            if (flags.find(flag) != std::string::npos) return;
            if (!flags.empty()) flags += ' ';
            flags += flag;
        };
        if (geteuid() == 0) {
            add("--no-sandbox");
            setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
        }
        // Rendering never reaches the network: no background requests, and a proxy that
        // answers nothing for anything that slips past the request filter.
        add("--disable-background-networking");
        add("--proxy-server=127.0.0.1:9");
        add("--disable-component-update");
        // Pages are only ever printed, never shown: software compositing from the start,
        // and no second zygote for helper processes, which start on their own when needed.
        // Each takes tens of milliseconds off the engine's start.
        add("--disable-gpu-compositing");
        add("--no-unsandboxed-zygote");
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
        keepRendererHeap();
        if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    });
}

void processEventsUntil(const std::function<bool()>& ready) {
    while (!ready()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

}  // namespace calvoro::web
