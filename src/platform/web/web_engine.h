#pragma once

namespace calvoro::web {

// Sets what the web engine must know before it starts: no network (only file, data and
// blob resources load), Chromium's sandbox off when running as root (it refuses to start
// otherwise), and the shared graphics contexts it needs. Call it before the application
// object exists; calling it again, or later, is harmless (pages call it themselves).
void prepareWebEngine();

}  // namespace calvoro::web
