#include "platform/web/web_engine.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

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

// The children of a process, from every one of its threads.
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> out;
    std::error_code ec;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (std::filesystem::directory_iterator it(tasks, ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream list(it->path() / "children");
        for (pid_t child; list >> child;) out.push_back(child);
    }
    return out;
}

bool isEngineProcess(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.rfind("QtWebEngineProc", 0) == 0;
}

pid_t parentOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    return parent;
}

// Ends a child and reaps it. The engine's processes keep nothing that outlives them (the profile
// is off the record), so they are not asked: waiting for a graceful end cost a tenth of a second
// and more on a busy machine. Only a child of ours is signalled: no one else can reap it, so its
// number cannot meanwhile name another process.
void endChild(pid_t pid) {
    if (parentOf(pid) != ::getpid()) return;
    int status = 0;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

}  // namespace

void endEngineProcesses() {
    // Meanwhile the processes a zygote leaves behind come to this process instead of to init,
    // so that they can be collected here.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (pid_t zygote : childrenOf(::getpid())) {
        if (!isEngineProcess(zygote)) continue;
        const std::vector<pid_t> renderers = childrenOf(zygote);
        endChild(zygote);
        for (pid_t renderer : renderers) endChild(renderer);
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

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
        // A page that is printed without being drawn is hidden, and the engine would lower its
        // renderer's priority (nice 5) as a background tab's: on a busy machine it then waits
        // behind everything else, though it is the program's own work.
        add("--disable-renderer-backgrounding");
        // Printing lays the page out with the engine's current layout, as it was laid out on
        // screen, instead of rebuilding it in the older engine for paged media: a third less
        // printing time, and a table cut by a page break no longer gets its header drawn over
        // the last row above the break.
        add("--enable-blink-features=LayoutNGPrinting,LayoutNGBlockFragmentation,LayoutNGTableFragmentation,"
            "LayoutNGFlexFragmentation,LayoutNGGridFragmentation");
        // A renderer that lays out page after page collects the pages it is done with when
        // asked (gc()), not whenever it next gets round to it.
        add("--js-flags=--expose-gc");
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
        keepRendererHeap();
        if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    });
}

void processEventsUntil(const std::function<bool()>& ready) {
    while (!ready()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

}  // namespace calvoro::web
