#include "app/entry/termination_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <stop_token>
#include <thread>

namespace calvoro::termination {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The one watcher of the process: signals are process-wide, and so is what they stop.
struct Watcher {
    std::once_flag installed;
    std::stop_source stop;
    std::atomic<int> received{0};
    std::function<void(int)> onStop;
};

Watcher& watcher() {
    static Watcher state;
    return state;
}

// Written by the handler, which may do nothing but that.
std::atomic<int> pipeWriteEnd{-1};

extern "C" void onSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    const int fd = pipeWriteEnd.load(std::memory_order_relaxed);
    if (fd >= 0) (void)!::write(fd, &number, 1);
    errno = saved;
}

void watch(int readEnd) {
    pthread_setname_np(pthread_self(), "calvoro.signals");
    Watcher& state = watcher();
    for (;;) {
        unsigned char number = 0;
        const ssize_t n = ::read(readEnd, &number, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        int first = 0;
        if (!state.received.compare_exchange_strong(first, number)) endBy(number);
        state.stop.request_stop();
        if (state.onStop) std::thread(state.onStop, static_cast<int>(number)).detach();
    }
}

}  // namespace

void install(std::function<void(int)> onStop) {
    Watcher& state = watcher();
    std::call_once(state.installed, [&] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        // The handler never waits: should the pipe be full, the signal already waiting is enough.
        ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
        pipeWriteEnd.store(ends[1]);
        state.onStop = std::move(onStop);
        std::thread(watch, ends[0]).detach();
        struct sigaction action {};
        action.sa_handler = onSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (int signal : kSignals) {
            // A signal ignored when the program started (nohup) stays ignored.
            struct sigaction old {};
            ::sigaction(signal, nullptr, &old);
            if (old.sa_handler != SIG_IGN) ::sigaction(signal, &action, nullptr);
        }
    });
}

CancellationToken token() { return CancellationToken(watcher().stop.get_token()); }

int received() { return watcher().received.load(); }

void endBy(int signal) {
    std::fflush(stdout);
    std::fflush(stderr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

void endIfSignalled() {
    if (const int signal = received()) endBy(signal);
}

}  // namespace calvoro::termination
