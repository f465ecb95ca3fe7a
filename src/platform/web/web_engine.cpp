#include "platform/web/web_engine.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
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

// Gone, or a zombie its parent has yet to collect: nothing runs any more.
bool hasEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' || line[close + 2] == 'X';
}

template <typename Done>
bool waitUpTo(std::chrono::milliseconds limit, Done done) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

void endEngineProcesses() {
    using namespace std::chrono_literals;
    for (pid_t zygote : childrenOf(::getpid())) {
        if (!isEngineProcess(zygote)) continue;
        // Renderers first, while their zygote is there to collect them.
        const std::vector<pid_t> renderers = childrenOf(zygote);
        for (pid_t renderer : renderers) ::kill(renderer, SIGTERM);
        waitUpTo(1000ms, [&] {
            for (pid_t renderer : renderers)
                if (!hasEnded(renderer)) return false;
            return true;
        });
        ::kill(zygote, SIGTERM);
        int status = 0;
        if (!waitUpTo(1000ms, [&] { return ::waitpid(zygote, &status, WNOHANG) != 0; })) {
            ::kill(zygote, SIGKILL);
            ::waitpid(zygote, &status, 0);
        }
    }
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
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
        keepRendererHeap();
        if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    });
}

void processEventsUntil(const std::function<bool()>& ready) {
    while (!ready()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

}  // namespace calvoro::web
