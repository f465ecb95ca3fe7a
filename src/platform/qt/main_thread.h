#pragma once

#include <functional>

namespace calvoro::qtmain {

// True on the thread that runs the Qt event loop (or when no application object exists yet).
bool isMainThread();

// Runs work on the Qt main thread and waits for it; runs it at once when already there.
// Exceptions thrown by work reach the caller. The main thread never waits on a worker, so
// this never deadlocks while the event loop runs.
void runOnMain(const std::function<void()>& work);

template <typename T>
T callOnMain(const std::function<T()>& work) {
    T result{};
    runOnMain([&] { result = work(); });
    return result;
}

// Queues work on the main thread without waiting.
void postToMain(std::function<void()> work);

}  // namespace calvoro::qtmain
