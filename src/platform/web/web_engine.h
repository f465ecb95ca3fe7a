#pragma once

#include <functional>

namespace calvoro::web {

// Sets what the web engine must know before it starts: no network (only file, data and
// blob resources load), Chromium's sandbox off when running as root (it refuses to start
// otherwise), and the shared graphics contexts it needs. Call it before the application
// object exists; calling it again, or later, is harmless (pages call it themselves).
void prepareWebEngine();

// Ends the engine's helper processes that this process started (the zygote and the renderers
// it forked) and reaps them, so that none outlives the program. Call it once no page is left;
// the rendering profile does so itself when the application is about to quit.
void endEngineProcesses();

// On the Qt main thread: handles events until ready() holds. Lets code that waits for page
// callbacks run there too; elsewhere callers simply block on their futures.
void processEventsUntil(const std::function<bool()>& ready);

}  // namespace calvoro::web
